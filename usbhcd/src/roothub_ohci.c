/* usbhcd.sys: the OHCI root hub's port work. The controller has a root hub of registers:
 * HcRhDescriptorA/B describe it, HcRhStatus is the hub's status and HcRhPortStatus[n] each port's,
 * written with the command values of its bits; the controller times a port reset itself and
 * raises the root-hub status-change interrupt on every change. */
#include "usbhcd.h"

#define HcInterruptEnable 0x10
#define HcInterruptDisable 0x14
#define HcRhDescriptorB 0x4C
#define HcRhStatus 0x50
#define OHCI_RHSC 0x40

#define ST_PENDING 0x40000000u

static ULONG Read(HC_EXTENSION *hc, ULONG offset) { return HcReadRegisterUlong(hc->Registers + offset); }
static VOID Write(HC_EXTENSION *hc, ULONG offset, ULONG value) { HcWriteRegisterUlong(hc->Registers + offset, value); }
static ULONG PortRegister(ULONG port) { return HcRhStatus + 4 * port; }

/* Hub features by number (0-20): the value written to the port's register; 0 writes nothing. */
static const ULONG SetValues[21] = {[1] = 0x2, [2] = 0x4, [4] = 0x10, [8] = 0x100};
static const ULONG ClearValues[21] = {
    [1] = 0x1, [2] = 0x8, [8] = 0x200, [16] = 0x10000, [17] = 0x20000, [18] = 0x40000, [19] = 0x80000, [20] = 0x100000};

/* Bits 15 (remote-wakeup enable) and 31 are not hub status. */
ULONG HcOhciHubStatus(HC_EXTENSION *hc) { return Read(hc, HcRhStatus) & 0x7FFF7FFF; }

ULONG HcOhciPortStatus(HC_EXTENSION *hc, ULONG port) { return Read(hc, PortRegister(port)); }

VOID HcOhciSetPortFeature(HC_EXTENSION *hc, ULONG port, ULONG feature) {
  if (feature < 21 && SetValues[feature]) Write(hc, PortRegister(port), SetValues[feature]);
}

VOID HcOhciClearPortFeature(HC_EXTENSION *hc, ULONG port, ULONG feature) {
  if (feature < 21 && ClearValues[feature]) Write(hc, PortRegister(port), ClearValues[feature]);
}

/* Descriptor A gives the port count, the characteristics (its bits 8-15 are laid out as the hub
 * descriptor's) and the power-on-to-power-good time; descriptor B the removable-device bits (low
 * half) and the port-power control mask (high half), one byte each up to 8 ports, two beyond. */
VOID HcOhciHubDescriptor(HC_EXTENSION *hc, PUCHAR descriptor) {
  ULONG a = hc->u.Ohci.RhDescriptorA, b = Read(hc, HcRhDescriptorB);
  descriptor[2] = (UCHAR)a;
  descriptor[3] = (UCHAR)(a >> 8);
  descriptor[4] = 0;
  descriptor[5] = (UCHAR)(a >> 24);
  if ((a & 0xFF) <= 8) {
    descriptor[0] = 9;
    descriptor[7] = (UCHAR)b;
    descriptor[8] = (UCHAR)(b >> 16);
  } else {
    descriptor[0] = 11;
    descriptor[7] = (UCHAR)b;
    descriptor[8] = (UCHAR)(b >> 8);
    descriptor[9] = (UCHAR)(b >> 16);
    descriptor[10] = (UCHAR)(b >> 24);
  }
}

/* Bit 0 for a change of the hub (power or over-current), bit i for a change of port i. */
static ULONG ChangeBitmap(HC_EXTENSION *hc, ULONG ports) {
  ULONG bitmap = (Read(hc, HcRhStatus) & 0x30000) ? 1 : 0, i;
  for (i = 1; i <= ports; ++i)
    if (Read(hc, PortRegister(i)) & 0x1F0000) bitmap |= 1u << i;
  return bitmap;
}

typedef struct {
  HC_EXTENSION *Hc;
  HC_TRANSFER *Transfer;
} QUEUE_CONTEXT;

static BOOLEAN NTAPI QueueChange(PVOID context) {
  QUEUE_CONTEXT *c = (QUEUE_CONTEXT *)context;
  InsertTailList(&c->Hc->ChangeRequests, &c->Transfer->Link);
  Write(c->Hc, HcInterruptEnable, OHCI_RHSC);
  return TRUE;
}

/* A change that came while no request waited left the interrupt's status set: enabling it
 * reports that change at once. */
USBD_STATUS HcOhciChangePipe(HC_EXTENSION *hc, HC_TRANSFER *transfer) {
  QUEUE_CONTEXT c;
  c.Hc = hc;
  c.Transfer = transfer;
  HcSynchronize(hc, QueueChange, &c);
  return ST_PENDING;
}

BOOLEAN HcOhciChangeInterrupt(HC_EXTENSION *hc) {
  ULONG ports = HcRootHubPorts(hc), bitmap;
  if (IsListEmpty(&hc->ChangeRequests)) {
    Write(hc, HcInterruptDisable, OHCI_RHSC);
    return FALSE; /* the status stays for the next request */
  }
  bitmap = ChangeBitmap(hc, ports);
  if (!bitmap) return TRUE; /* acknowledged already: the request waits for the next change */
  if (!HcRootHubReportChange(hc, bitmap, ports / 8 + 1)) Write(hc, HcInterruptDisable, OHCI_RHSC);
  KeInsertQueueDpc(&hc->u.Ohci.CompletionDpc, NULL, NULL);
  return TRUE;
}
