/* usbhcd.sys: the root hub. Neither controller type has a hub of its own: its ports are
 * registers. The hub driver above sees them as a USB 1.x hub whose control requests are answered
 * here from fixed descriptors and the type's port operations, and whose status-change pipe the
 * type's change pipe serves. */
#include "usbhcd.h"

#define ST_SUCCESS 0x00000000u
#define ST_PENDING 0x40000000u
#define ST_INVALID_PARAMETER 0x80000300u
#define ST_CANCELLED 0x00010000u
#define ST_UNSUPPORTED 0xC000000Fu /* what a hub answers a request it does not know */

/* USB 1.00, class hub, 8-byte packets, vendor and product 0, release 1.00, one configuration. */
static const UCHAR DeviceDescriptor[18] = {0x12, 0x01, 0x00, 0x01, 0x09, 0x00, 0x00, 0x08, 0x00,
                                           0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01};

/* Self-powered, no bus power; one interface with one interrupt-in endpoint 1 of 1 byte polled
 * every 255 ms. */
static const UCHAR ConfigurationDescriptor[25] = {0x09, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0x40, 0x00,
                                                  0x09, 0x04, 0x00, 0x00, 0x01, 0x09, 0x00, 0x00, 0x00,
                                                  0x07, 0x05, 0x81, 0x03, 0x01, 0x00, 0xFF};

/* Two ports, no power switching, no over-current protection, 100 ms from power-on to power-good,
 * no removable-device bits, port-power control mask 0x06. The type completes it. */
static const UCHAR HubDescriptorTemplate[9] = {0x09, 0x29, 0x02, 0x12, 0x00, 0x32, 0x00, 0x00, 0x06};

ULONG HcRootHubPorts(HC_EXTENSION *hc) {
  ULONG ports;
  if (hc->Type == HC_TYPE_UHCI) return HC_UHCI_PORTS;
  ports = hc->u.Ohci.RhDescriptorA & 0xFF;
  return ports > 15 ? 15 : ports; /* the controller's register block has room for 15 */
}

/* A port request names a port the controller has: any other number would reach a register that
 * is not that port's. */
static BOOLEAN IsPort(HC_EXTENSION *hc, USHORT port) { return port >= 1 && port <= HcRootHubPorts(hc); }

static VOID PutUlong(PUCHAR at, ULONG value) {
  at[0] = (UCHAR)value;
  at[1] = (UCHAR)(value >> 8);
  at[2] = (UCHAR)(value >> 16);
  at[3] = (UCHAR)(value >> 24);
}

USBD_STATUS HcRootHubRequest(HC_EXTENSION *hc, const UCHAR *setup, PUCHAR buffer, ULONG length, ULONG *moved) {
  const HC_OPERATIONS *ops = hc->Ops;
  USHORT value = (USHORT)(setup[2] | setup[3] << 8), index = (USHORT)(setup[4] | setup[5] << 8);
  ULONG wanted = (ULONG)(setup[6] | setup[7] << 8), size = 0;
  UCHAR area[HC_HUB_DESCRIPTOR_AREA];
  const UCHAR *data = area;
  *moved = 0;
  if (wanted > length) wanted = length;
  if (!buffer) wanted = 0;
  switch (setup[0] << 8 | setup[1]) {
    case 0x0005: /* set address */
      return ST_SUCCESS;
    case 0x8000: /* get status, device: self-powered */
      area[0] = 0x01;
      area[1] = 0x00;
      size = 2;
      break;
    case 0x8006: /* get descriptor */
      if ((value >> 8) == 1) {
        data = DeviceDescriptor;
        size = sizeof(DeviceDescriptor);
      } else if ((value >> 8) == 2) {
        data = ConfigurationDescriptor;
        size = sizeof(ConfigurationDescriptor);
      } else {
        return ST_UNSUPPORTED;
      }
      break;
    case 0xA000: /* get status, hub */
      if (!ops->HubStatus) return ST_UNSUPPORTED;
      PutUlong(area, ops->HubStatus(hc));
      size = 4;
      break;
    case 0xA006: /* get descriptor, hub */
      RtlZeroMemory(area, sizeof(area));
      RtlCopyMemory(area, HubDescriptorTemplate, sizeof(HubDescriptorTemplate));
      if (ops->HubDescriptor) ops->HubDescriptor(hc, area);
      size = area[0];
      break;
    case 0xA300: /* get status, port: status in the low half, change in the high half */
      if (!ops->PortStatus || !IsPort(hc, index)) return ST_UNSUPPORTED;
      PutUlong(area, ops->PortStatus(hc, index));
      size = 4;
      break;
    case 0x2303: /* set feature, port */
      if (!ops->SetPortFeature || !IsPort(hc, index)) return ST_UNSUPPORTED;
      ops->SetPortFeature(hc, index, value);
      return ST_SUCCESS;
    case 0x2301: /* clear feature, port */
      if (!ops->ClearPortFeature || !IsPort(hc, index)) return ST_UNSUPPORTED;
      ops->ClearPortFeature(hc, index, value);
      return ST_SUCCESS;
    default:
      return ST_UNSUPPORTED;
  }
  if (size > wanted) size = wanted;
  if (size) RtlCopyMemory(buffer, data, size);
  *moved = size;
  return ST_SUCCESS;
}

USBD_STATUS HcRootHubChangeRequest(HC_EXTENSION *hc, HC_TRANSFER *transfer) {
  /* The bitmap needs a byte at least: a request without one could never be answered. */
  if (!hc->Ops->ChangePipe || !transfer->Buffer || !transfer->Length) return ST_INVALID_PARAMETER;
  RtlZeroMemory(transfer->Buffer, transfer->Length);
  return hc->Ops->ChangePipe(hc, transfer);
}

BOOLEAN HcRootHubReportChange(HC_EXTENSION *hc, ULONG bitmap, ULONG bytes) {
  HC_TRANSFER *t;
  ULONG i;
  if (IsListEmpty(&hc->ChangeRequests)) return FALSE;
  t = CONTAINING_RECORD(RemoveHeadList(&hc->ChangeRequests), HC_TRANSFER, Link);
  if (bytes > t->Length) bytes = t->Length;
  for (i = 0; i < bytes; ++i) t->Buffer[i] = (UCHAR)(bitmap >> (8 * i));
  t->Moved = bytes;
  t->Status = ST_SUCCESS;
  InsertTailList(&hc->PendingCompletions, &t->Link);
  return !IsListEmpty(&hc->ChangeRequests);
}

typedef struct {
  HC_EXTENSION *Hc;
  HC_PIPE *Pipe;
} ABORT_CONTEXT;

static BOOLEAN NTAPI CancelChanges(PVOID context) {
  ABORT_CONTEXT *c = (ABORT_CONTEXT *)context;
  PLIST_ENTRY e = c->Hc->ChangeRequests.Flink;
  while (e != &c->Hc->ChangeRequests) {
    HC_TRANSFER *t = CONTAINING_RECORD(e, HC_TRANSFER, Link);
    e = e->Flink;
    if (t->Pipe != c->Pipe) continue;
    RemoveEntryList(&t->Link);
    t->Status = ST_CANCELLED;
    InsertTailList(&c->Hc->PendingCompletions, &t->Link);
  }
  return TRUE;
}

VOID HcRootHubAbort(HC_EXTENSION *hc, HC_PIPE *pipe) {
  ABORT_CONTEXT c;
  c.Hc = hc;
  c.Pipe = pipe;
  HcSynchronize(hc, CancelChanges, &c);
  HcCompletePending(hc);
}

/* The port reset request: argument 1 is the port number; the reset runs as the hub's set-feature
 * (port reset) would, and its end shows in the port's status and the change bitmap. */
NTSTATUS HcRootHubResetPort(HC_EXTENSION *hc, PIRP irp) {
  ULONG_PTR port = (ULONG_PTR)IoGetCurrentIrpStackLocation(irp)->Parameters.Others.Argument1;
  NTSTATUS status = STATUS_SUCCESS;
  if (port < 1 || port > HcRootHubPorts(hc) || !hc->Ops->SetPortFeature)
    status = STATUS_INVALID_PARAMETER;
  else
    hc->Ops->SetPortFeature(hc, (ULONG)port, 4);
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}
