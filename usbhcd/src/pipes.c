/* usbhcd.sys: the URB layer both controller types share: dispatch by function, the request
 * functions made control transfers, the checks before a transfer is queued, configuration and
 * interface selection with their pipes, abort and reset of pipes, and completion. */
#include "usbhcd.h"

#define HC_MAXIMUM_TRANSFER 0x40000
#define HC_WAIT_LIMIT_MS 5000

#define URB_SELECT_CONFIGURATION 0x00
#define URB_SELECT_INTERFACE 0x01
#define URB_ABORT_PIPE 0x02
#define URB_GET_FRAME_NUMBER 0x07
#define URB_CONTROL_TRANSFER 0x08
#define URB_BULK_OR_INTERRUPT 0x09
#define URB_ISOCHRONOUS 0x0A
#define URB_RESET_PIPE 0x1E

#define FLAG_IN USBD_TRANSFER_DIRECTION_IN
#define FLAG_SHORT_OK USBD_SHORT_TRANSFER_OK

/* The status values of the URB layer. */
#define ST_SUCCESS 0x00000000u
#define ST_PENDING 0x40000000u
#define ST_NO_MEMORY 0x80000100u
#define ST_INVALID_URB_FUNCTION 0x80000200u
#define ST_INVALID_PARAMETER 0x80000300u
#define ST_INVALID_PIPE_HANDLE 0x80000600u
#define ST_ENDPOINT_HALTED 0xC0000030u
#define ST_DEVICE_NOT_RESPONDING 0xC0000005u
#define ST_CANCELLED 0x00010000u
#define ST_CANCELLED_PENDING 0x00020000u

/* The request functions that become control transfers on the default pipe: the mask kept of the
 * caller's request-type byte, the bits or-ed in, the request code (CALLER: the caller's stays)
 * and whether the transfer buffer is kept. */
#define CALLER 0xFF
typedef struct {
  UCHAR Mask, Bits, Request, KeepBuffer;
} HC_TRANSLATION;

static const HC_TRANSLATION Translations[0x2E] = {
    [0x0B] = {0x00, 0x80, 6, 1},      [0x0C] = {0x00, 0x00, 7, 1},      [0x0D] = {0x00, 0x00, 3, 0},
    [0x0E] = {0x00, 0x01, 3, 0},      [0x0F] = {0x00, 0x02, 3, 0},      [0x10] = {0x00, 0x00, 1, 0},
    [0x11] = {0x00, 0x01, 1, 0},      [0x12] = {0x00, 0x02, 1, 0},      [0x13] = {0x00, 0x80, 0, 1},
    [0x14] = {0x00, 0x81, 0, 1},      [0x15] = {0x00, 0x82, 0, 1},      [0x17] = {0x1C, 0x40, CALLER, 1},
    [0x18] = {0x1C, 0x41, CALLER, 1}, [0x19] = {0x1C, 0x42, CALLER, 1}, [0x1A] = {0x1C, 0x20, CALLER, 1},
    [0x1B] = {0x1C, 0x21, CALLER, 1}, [0x1C] = {0x1C, 0x22, CALLER, 1}, [0x1F] = {0x1C, 0x23, CALLER, 1},
    [0x20] = {0x1C, 0x43, CALLER, 1}, [0x21] = {0x00, 0x83, 0, 1},      [0x22] = {0x00, 0x03, 1, 0},
    [0x23] = {0x00, 0x03, 3, 0},      [0x24] = {0x00, 0x82, 6, 1},      [0x25] = {0x00, 0x02, 7, 1},
    [0x26] = {0x00, 0x80, 8, 1},      [0x27] = {0x00, 0x81, 10, 1},     [0x28] = {0x00, 0x81, 6, 1},
    [0x29] = {0x00, 0x01, 7, 1},      [0x2A] = {0x1C, 0x00, CALLER, 1}, [0x2B] = {0x1C, 0x01, CALLER, 1},
    [0x2C] = {0x1C, 0x02, CALLER, 1}, [0x2D] = {0x1C, 0x03, CALLER, 1},
};

static BOOLEAN IsTranslated(ULONG function) {
  return (function >= 0x0B && function <= 0x15) || (function >= 0x17 && function <= 0x1C) ||
         (function >= 0x1F && function <= 0x2D);
}

NTSTATUS HcUrbToNtStatus(USBD_STATUS status) {
  switch ((ULONG)status) {
    case ST_SUCCESS:
      return STATUS_SUCCESS;
    case ST_PENDING:
      return STATUS_PENDING;
    case ST_CANCELLED:
    case ST_CANCELLED_PENDING:
      return STATUS_CANCELLED;
    case ST_NO_MEMORY:
      return STATUS_INSUFFICIENT_RESOURCES;
    case ST_INVALID_URB_FUNCTION:
    case ST_INVALID_PARAMETER:
      return STATUS_INVALID_PARAMETER;
    default:
      return STATUS_DEVICE_DATA_ERROR;
  }
}

ULONG HcPollingValue(UCHAR interval) {
  static const UCHAR values[5] = {31, 15, 7, 3, 1};
  ULONG i;
  for (i = 0; i < 5; ++i)
    if (values[i] < interval) return values[i];
  return 0;
}

BOOLEAN HcIsochronousPacketsValid(HC_TRANSFER *t, ULONG maximum) {
  struct _URB_ISOCH_TRANSFER *x = &t->Urb->UrbIsochronousTransfer;
  ULONG packets = x->NumberOfPackets, k;
  if (!packets || packets > 256 ||
      t->Urb->UrbHeader.Length <
          FIELD_OFFSET(struct _URB_ISOCH_TRANSFER, IsoPacket) + packets * sizeof(USBD_ISO_PACKET_DESCRIPTOR))
    return FALSE;
  for (k = 0; k < packets; ++k) {
    ULONG end = k + 1 < packets ? x->IsoPacket[k + 1].Offset : t->Length;
    if (x->IsoPacket[k].Offset > end || end > t->Length || end - x->IsoPacket[k].Offset > maximum) return FALSE;
  }
  return TRUE;
}

ULONG HcIsochronousStartFrame(HC_TRANSFER *t, ULONG next, ULONG now) {
  struct _URB_ISOCH_TRANSFER *x = &t->Urb->UrbIsochronousTransfer;
  if (!(x->TransferFlags & USBD_START_ISO_TRANSFER_ASAP)) return x->StartFrame;
  return (next && (LONG)(next - now) > 0) ? next : now + 2;
}

BOOLEAN HcSynchronize(HC_EXTENSION *hc, PKSYNCHRONIZE_ROUTINE routine, PVOID context) {
  if (hc->Interrupt) return KeSynchronizeExecution(hc->Interrupt, routine, context);
  return routine(context);
}

/* Completion of a request: the URB's status, the NT status it maps to, the length moved. */
static NTSTATUS CompleteUrb(PIRP irp, PURB urb, USBD_STATUS status, ULONG length) {
  NTSTATUS nt = HcUrbToNtStatus(status);
  urb->UrbHeader.Status = status;
  irp->IoStatus.Status = nt;
  irp->IoStatus.Information = length;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return nt;
}

/* ------------------------------------------------------------------------------------------- */
/* Pipes */

HC_PIPE *HcOpenPipe(HC_EXTENSION *hc, HC_DEVICE_HANDLE *handle, const UCHAR *endpoint, UCHAR interfaceNumber) {
  static const ULONG typeFlags[4] = {HC_PIPE_CONTROL, HC_PIPE_ISOCHRONOUS, HC_PIPE_BULK, HC_PIPE_INTERRUPT};
  HC_PIPE *pipe = (HC_PIPE *)ExAllocatePoolWithTag(NonPagedPool, sizeof(*pipe), HC_PIPE_TAG);
  if (!pipe) return NULL;
  RtlZeroMemory(pipe, sizeof(*pipe));
  pipe->Tag = HC_PIPE_TAG;
  pipe->Controller = hc;
  pipe->Device = handle;
  RtlCopyMemory(pipe->Endpoint, endpoint, 7);
  pipe->Type = endpoint[3] & 3;
  pipe->Interface = interfaceNumber;
  pipe->Flags = (handle->Flags & (HC_HANDLE_LOW_SPEED | HC_HANDLE_ROOT_HUB)) | typeFlags[pipe->Type];
  if (endpoint[2] & 0x80) pipe->Flags |= HC_PIPE_IN;
  pipe->Polling = (pipe->Type == 1 || pipe->Type == 3) ? HcPollingValue(endpoint[6]) : 0;
  if (handle->DefaultPipe) {
    pipe->Address = handle->DefaultPipe->Address;
    pipe->Parameter = handle->DefaultPipe->Parameter;
  }
  InitializeListHead(&pipe->Transfers);
  KeInitializeTimer(&pipe->AbortTimer);
  if (!(pipe->Flags & HC_PIPE_ROOT_HUB) && hc->Ops->OpenPipe && !NT_SUCCESS(hc->Ops->OpenPipe(hc, pipe))) {
    ExFreePool(pipe);
    return NULL;
  }
  InsertTailList(&handle->Pipes, &pipe->Link);
  return pipe;
}

/* The record of a closed pipe is freed here, or by the type once the controller has let go of
 * its descriptors (the pipe's handle is refused from now on either way). */
VOID HcClosePipe(HC_EXTENSION *hc, HC_PIPE *pipe) {
  BOOLEAN kept = FALSE;
  RemoveEntryList(&pipe->Link);
  InitializeListHead(&pipe->Link);
  if (KeCancelTimer(&pipe->AbortTimer) && pipe->AbortIrp) CompleteUrb(pipe->AbortIrp, pipe->AbortUrb, ST_SUCCESS, 0);
  pipe->AbortIrp = NULL;
  pipe->Tag = 0;
  if (!(pipe->Flags & HC_PIPE_ROOT_HUB)) {
    if (hc->Ops->AbortPipe) hc->Ops->AbortPipe(hc, pipe);
    if (hc->Ops->ClosePipe) kept = hc->Ops->ClosePipe(hc, pipe);
  } else {
    HcRootHubAbort(hc, pipe);
  }
  if (!kept) ExFreePool(pipe);
}

/* A pipe handle is followed only when it is one of this controller's open pipes and carries the
 * tag: a closed pipe's handle is refused, not read. */
static HC_PIPE *FindPipe(HC_EXTENSION *hc, PVOID handle) {
  PLIST_ENTRY d, p;
  HC_PIPE *found = NULL;
  KIRQL irql;
  if (!handle) return NULL;
  KeAcquireSpinLock(&hc->DeviceLock, &irql);
  for (d = hc->Devices.Flink; d != &hc->Devices && !found; d = d->Flink) {
    HC_DEVICE_HANDLE *device = CONTAINING_RECORD(d, HC_DEVICE_HANDLE, Link);
    for (p = device->Pipes.Flink; p != &device->Pipes; p = p->Flink)
      if (CONTAINING_RECORD(p, HC_PIPE, Link) == handle) {
        found = (HC_PIPE *)handle;
        break;
      }
  }
  KeReleaseSpinLock(&hc->DeviceLock, irql);
  if (found && found->Tag != HC_PIPE_TAG) found = NULL;
  return found;
}

static HC_DEVICE_HANDLE *FindDevice(HC_EXTENSION *hc, PVOID handle) {
  PLIST_ENTRY d;
  HC_DEVICE_HANDLE *found = NULL;
  KIRQL irql;
  KeAcquireSpinLock(&hc->DeviceLock, &irql);
  for (d = hc->Devices.Flink; d != &hc->Devices; d = d->Flink)
    if (CONTAINING_RECORD(d, HC_DEVICE_HANDLE, Link) == handle) found = (HC_DEVICE_HANDLE *)handle;
  KeReleaseSpinLock(&hc->DeviceLock, irql);
  return found;
}

/* ------------------------------------------------------------------------------------------- */
/* Transfers */

/* Queues a transfer URB on its pipe. Answers pending, or the status it failed with (the transfer
 * record is then gone and nothing was queued). */
static USBD_STATUS QueueTransfer(HC_EXTENSION *hc, HC_PIPE *pipe, PURB urb, PIRP irp, PUCHAR buffer) {
  struct _URB_CONTROL_TRANSFER *x = &urb->UrbControlTransfer;
  USBD_STATUS status;
  HC_TRANSFER *t;
  BOOLEAN change = (pipe->Flags & HC_PIPE_ROOT_HUB) != 0; /* the root hub's status-change pipe */
  if (!(change ? hc->Ops->ChangePipe : hc->Ops->SubmitTransfer)) return ST_INVALID_URB_FUNCTION;
  t = (HC_TRANSFER *)ExAllocatePoolWithTag(NonPagedPool, sizeof(*t), HC_TRANSFER_TAG);
  if (!t) return ST_NO_MEMORY;
  RtlZeroMemory(t, sizeof(*t));
  t->Pipe = pipe;
  t->Urb = urb;
  t->Irp = irp;
  t->Buffer = buffer;
  t->Length = x->TransferBufferLength;
  t->Flags = x->TransferFlags;
  t->Status = ST_PENDING;
  status = change ? HcRootHubChangeRequest(hc, t) : hc->Ops->SubmitTransfer(hc, t);
  if (status != ST_PENDING) ExFreePool(t);
  return status;
}

typedef struct {
  HC_EXTENSION *Hc;
  HC_TRANSFER *Transfer;
} POP_CONTEXT;

static BOOLEAN NTAPI PushCompletion(PVOID context) {
  POP_CONTEXT *c = (POP_CONTEXT *)context;
  InsertTailList(&c->Hc->PendingCompletions, &c->Transfer->Link);
  return TRUE;
}

VOID HcFinishTransfer(HC_EXTENSION *hc, HC_TRANSFER *transfer, USBD_STATUS status) {
  POP_CONTEXT c;
  RemoveEntryList(&transfer->Link);
  transfer->Status = status;
  c.Hc = hc;
  c.Transfer = transfer;
  HcSynchronize(hc, PushCompletion, &c);
}

static BOOLEAN NTAPI PopCompletion(PVOID context) {
  POP_CONTEXT *c = (POP_CONTEXT *)context;
  c->Transfer = NULL;
  if (IsListEmpty(&c->Hc->PendingCompletions)) return FALSE;
  c->Transfer = CONTAINING_RECORD(RemoveHeadList(&c->Hc->PendingCompletions), HC_TRANSFER, Link);
  return TRUE;
}

/* The completion deferred procedure's work: every finished transfer is completed, oldest first.
 * The pipe is not touched here: it may have been closed since its transfer finished. */
VOID HcCompletePending(HC_EXTENSION *hc) {
  POP_CONTEXT c;
  c.Hc = hc;
  while (HcSynchronize(hc, PopCompletion, &c)) {
    HC_TRANSFER *t = c.Transfer;
    PURB urb = t->Urb;
    urb->UrbControlTransfer.TransferBufferLength = t->Moved;
    if (t->Irp)
      CompleteUrb(t->Irp, urb, t->Status, t->Moved);
    else
      urb->UrbHeader.Status = t->Status; /* the driver's own request: its waiter sees this last */
    ExFreePool(t);
  }
}

/* The buffer's system address: the buffer itself, or the descriptor list's mapping. */
static BOOLEAN SystemBuffer(struct _URB_CONTROL_TRANSFER *x, PUCHAR *buffer) {
  *buffer = NULL;
  if (!x->TransferBufferLength) return TRUE;
  if ((x->TransferBuffer != NULL) == (x->TransferBufferMDL != NULL)) return FALSE;
  if (x->TransferBuffer) {
    *buffer = (PUCHAR)x->TransferBuffer;
    return TRUE;
  }
  if (MmGetMdlByteCount(x->TransferBufferMDL) < x->TransferBufferLength) return FALSE;
  if (x->TransferBufferMDL->MdlFlags & (MDL_MAPPED_TO_SYSTEM_VA | MDL_SOURCE_IS_NONPAGED_POOL))
    *buffer = (PUCHAR)x->TransferBufferMDL->MappedSystemVa;
  else
    *buffer = (PUCHAR)MmMapLockedPages(x->TransferBufferMDL, KernelMode);
  return *buffer != NULL;
}

static USBD_STATUS SubmitTransferUrb(HC_EXTENSION *hc, PIRP irp, PURB urb, BOOLEAN *marked) {
  struct _URB_CONTROL_TRANSFER *x = &urb->UrbControlTransfer;
  PUCHAR buffer;
  HC_PIPE *pipe;
  if (urb->UrbHeader.Length < sizeof(struct _URB_CONTROL_TRANSFER) - 8) return ST_INVALID_PARAMETER;
  if (!SystemBuffer(x, &buffer)) return ST_INVALID_PARAMETER;
  pipe = FindPipe(hc, x->PipeHandle);
  if (!pipe) return ST_INVALID_PIPE_HANDLE;
  if (pipe->Flags & HC_PIPE_HALTED) return ST_ENDPOINT_HALTED;
  if (x->TransferBufferLength > HC_MAXIMUM_TRANSFER || x->UrbLink) return ST_INVALID_PARAMETER;
  if (urb->UrbHeader.Function == URB_CONTROL_TRANSFER) {
    USHORT length = (USHORT)(x->SetupPacket[6] | x->SetupPacket[7] << 8);
    if (pipe->Type != 0) return ST_INVALID_PARAMETER;
    if (length > x->TransferBufferLength) {
      x->SetupPacket[6] = (UCHAR)x->TransferBufferLength;
      x->SetupPacket[7] = (UCHAR)(x->TransferBufferLength >> 8);
    }
    x->TransferFlags |= FLAG_SHORT_OK;
  } else if (urb->UrbHeader.Function == URB_BULK_OR_INTERRUPT) {
    if (pipe->Type != 2 && pipe->Type != 3) return ST_INVALID_PARAMETER;
  } else if (pipe->Type != 1) {
    return ST_INVALID_PARAMETER;
  }
  IoMarkIrpPending(irp);
  *marked = TRUE;
  urb->UrbHeader.Status = ST_PENDING;
  if (pipe->Flags & HC_PIPE_ROOT_HUB) {
    if (pipe->Type == 0) { /* answered at once, with what it moved */
      ULONG moved;
      USBD_STATUS status = HcRootHubRequest(hc, x->SetupPacket, buffer, x->TransferBufferLength, &moved);
      x->TransferBufferLength = moved;
      CompleteUrb(irp, urb, status, moved);
      return ST_PENDING;
    }
    if (pipe->Type == 3) return QueueTransfer(hc, pipe, urb, irp, buffer);
    return ST_INVALID_URB_FUNCTION;
  }
  if (hc->State & HC_STATE_STOPPING) return ST_DEVICE_NOT_RESPONDING;
  return QueueTransfer(hc, pipe, urb, irp, buffer);
}

/* A request function becomes a control transfer on the device's default pipe. */
static USBD_STATUS Translate(HC_EXTENSION *hc, PURB urb) {
  struct _URB_CONTROL_TRANSFER *x = &urb->UrbControlTransfer;
  const HC_TRANSLATION *t = &Translations[urb->UrbHeader.Function];
  HC_DEVICE_HANDLE *device = FindDevice(hc, urb->UrbHeader.UsbdDeviceHandle);
  if (!device || !device->DefaultPipe) return ST_INVALID_PARAMETER;
  x->SetupPacket[0] = (UCHAR)((x->SetupPacket[0] & t->Mask) | t->Bits);
  if (!t->KeepBuffer) {
    x->TransferBufferLength = 0;
    x->TransferBuffer = NULL;
    x->TransferBufferMDL = NULL;
  }
  if (t->Request != CALLER) {
    x->SetupPacket[1] = t->Request;
    x->TransferFlags = FLAG_SHORT_OK | ((x->SetupPacket[0] & 0x80) ? FLAG_IN : 0);
  } else if (x->TransferFlags & FLAG_IN) {
    x->SetupPacket[0] |= 0x80;
  }
  x->SetupPacket[6] = (UCHAR)x->TransferBufferLength;
  x->SetupPacket[7] = (UCHAR)(x->TransferBufferLength >> 8);
  x->PipeHandle = device->DefaultPipe;
  urb->UrbHeader.Function = URB_CONTROL_TRANSFER;
  return ST_SUCCESS;
}

/* ------------------------------------------------------------------------------------------- */
/* The driver's own control requests (from the workers, at passive level) */

static USBD_STATUS SendRequest(HC_EXTENSION *hc, HC_PIPE *pipe, UCHAR type, UCHAR request, USHORT value, USHORT index) {
  struct _URB_CONTROL_TRANSFER x;
  ULONG waited;
  USBD_STATUS status;
  if (pipe->Flags & HC_PIPE_ROOT_HUB) return ST_SUCCESS; /* the root hub has nothing to set */
  RtlZeroMemory(&x, sizeof(x));
  x.Hdr.Length = sizeof(x);
  x.Hdr.Function = URB_CONTROL_TRANSFER;
  x.Hdr.Status = ST_PENDING;
  x.PipeHandle = pipe;
  x.TransferFlags = FLAG_SHORT_OK;
  x.SetupPacket[0] = type;
  x.SetupPacket[1] = request;
  x.SetupPacket[2] = (UCHAR)value;
  x.SetupPacket[3] = (UCHAR)(value >> 8);
  x.SetupPacket[4] = (UCHAR)index;
  x.SetupPacket[5] = (UCHAR)(index >> 8);
  status = QueueTransfer(hc, pipe, (PURB)&x, NULL, NULL);
  if (status != ST_PENDING) return status;
  for (waited = 0; x.Hdr.Status == ST_PENDING && waited < HC_WAIT_LIMIT_MS; ++waited) HcDelayMilliseconds(1);
  if (x.Hdr.Status == ST_PENDING) {
    /* No answer: the request is taken off the schedule before its URB goes out of scope. */
    hc->Ops->AbortPipe(hc, pipe);
    while (x.Hdr.Status == ST_PENDING) HcDelayMilliseconds(1);
  }
  return x.Hdr.Status;
}

/* ------------------------------------------------------------------------------------------- */
/* Workers */

typedef struct {
  WORK_QUEUE_ITEM Item;
  HC_EXTENSION *Hc;
  PIRP Irp;
} HC_WORK;

static VOID CloseInterfacePipes(HC_EXTENSION *hc, HC_DEVICE_HANDLE *device, UCHAR number, BOOLEAN all) {
  PLIST_ENTRY p = device->Pipes.Flink;
  while (p != &device->Pipes) {
    HC_PIPE *pipe = CONTAINING_RECORD(p, HC_PIPE, Link);
    p = p->Flink;
    if (pipe != device->DefaultPipe && (all || pipe->Interface == number)) HcClosePipe(hc, pipe);
  }
}

/* The interface descriptor of a number and alternate setting in a configuration copy, with the
 * end of the copy checked at every step. */
static PUCHAR FindInterface(PUCHAR configuration, UCHAR number, UCHAR alternate, PUCHAR *end) {
  ULONG total = configuration[2] | configuration[3] << 8;
  PUCHAR at = configuration + configuration[0];
  *end = configuration + total;
  while (at + 2 <= *end && at[0] >= 2 && at + at[0] <= *end) {
    if (at[1] == 4 && at[0] >= 9 && at[2] == number && at[3] == alternate) return at;
    at += at[0];
  }
  return NULL;
}

/* One interface record: its pipes closed, set-interface sent, the record filled and one pipe
 * opened per endpoint. The record must have room for every pipe entry it is given. */
static USBD_STATUS SelectOneInterface(HC_EXTENSION *hc, HC_DEVICE_HANDLE *device, PUSBD_INTERFACE_INFORMATION info,
                                      ULONG room) {
  PUCHAR end, at, interfaceDescriptor;
  ULONG pipes, i;
  USBD_STATUS status;
  if (room < FIELD_OFFSET(USBD_INTERFACE_INFORMATION, Pipes) || info->Length > room ||
      info->Length < FIELD_OFFSET(USBD_INTERFACE_INFORMATION, Pipes))
    return ST_INVALID_PARAMETER;
  interfaceDescriptor =
      FindInterface((PUCHAR)device->Configuration, info->InterfaceNumber, info->AlternateSetting, &end);
  if (!interfaceDescriptor) return ST_INVALID_PARAMETER;
  pipes = interfaceDescriptor[4];
  if (FIELD_OFFSET(USBD_INTERFACE_INFORMATION, Pipes) + pipes * sizeof(USBD_PIPE_INFORMATION) > info->Length)
    return ST_INVALID_PARAMETER;
  CloseInterfacePipes(hc, device, info->InterfaceNumber, FALSE);
  status = SendRequest(hc, device->DefaultPipe, 0x01, 11, info->AlternateSetting, info->InterfaceNumber);
  if (status != ST_SUCCESS) return status;
  info->Class = interfaceDescriptor[5];
  info->SubClass = interfaceDescriptor[6];
  info->Protocol = interfaceDescriptor[7];
  info->Reserved = interfaceDescriptor[8];
  info->NumberOfPipes = pipes;
  info->InterfaceHandle = interfaceDescriptor;
  at = interfaceDescriptor + interfaceDescriptor[0];
  for (i = 0; i < pipes; ++i) {
    PUSBD_PIPE_INFORMATION p = &info->Pipes[i];
    HC_PIPE *pipe;
    while (at + 2 <= end && at[0] >= 2 && at + at[0] <= end && at[1] != 5) {
      if (at[1] == 4) return ST_INVALID_PARAMETER; /* fewer endpoints than the interface says */
      at += at[0];
    }
    if (at + 7 > end || at[1] != 5 || at[0] < 7) return ST_INVALID_PARAMETER;
    pipe = HcOpenPipe(hc, device, at, info->InterfaceNumber);
    if (!pipe) return ST_NO_MEMORY;
    p->MaximumPacketSize = (USHORT)(at[4] | at[5] << 8);
    p->EndpointAddress = at[2];
    p->Interval = at[6];
    p->PipeType = (USBD_PIPE_TYPE)(at[3] & 3);
    p->PipeHandle = pipe;
    at += at[0];
  }
  return ST_SUCCESS;
}

static USBD_STATUS SelectConfiguration(HC_EXTENSION *hc, PURB urb) {
  struct _URB_SELECT_CONFIGURATION *s = &urb->UrbSelectConfiguration;
  HC_DEVICE_HANDLE *device = FindDevice(hc, urb->UrbHeader.UsbdDeviceHandle);
  PUSB_CONFIGURATION_DESCRIPTOR source = s->ConfigurationDescriptor;
  PUCHAR copy, at, end;
  ULONG total;
  USBD_STATUS status;
  if (!device || urb->UrbHeader.Length < FIELD_OFFSET(struct _URB_SELECT_CONFIGURATION, Interface))
    return ST_INVALID_PARAMETER;
  CloseInterfacePipes(hc, device, 0, TRUE);
  if (!source) {
    if (device->Configuration) ExFreePool(device->Configuration);
    device->Configuration = NULL;
    s->ConfigurationHandle = NULL;
    return SendRequest(hc, device->DefaultPipe, 0x00, 9, 0, 0);
  }
  total = source->wTotalLength;
  if (total < 9) return ST_INVALID_PARAMETER;
  copy = (PUCHAR)ExAllocatePoolWithTag(NonPagedPool, total, HC_DEVICE_TAG);
  if (!copy) return ST_NO_MEMORY;
  RtlCopyMemory(copy, source, total);
  if (device->Configuration) ExFreePool(device->Configuration);
  device->Configuration = copy;
  status = SendRequest(hc, device->DefaultPipe, 0x00, 9, copy[5], 0);
  at = (PUCHAR)&s->Interface;
  end = (PUCHAR)urb + urb->UrbHeader.Length;
  while (status == ST_SUCCESS && at + sizeof(USHORT) <= end) {
    PUSBD_INTERFACE_INFORMATION info = (PUSBD_INTERFACE_INFORMATION)at;
    if (info->Length == 0) break;
    status = SelectOneInterface(hc, device, info, (ULONG)(end - at));
    at += info->Length;
  }
  if (status != ST_SUCCESS) {
    CloseInterfacePipes(hc, device, 0, TRUE);
    return status;
  }
  s->ConfigurationHandle = copy;
  return ST_SUCCESS;
}

static USBD_STATUS SelectInterface(HC_EXTENSION *hc, PURB urb) {
  struct _URB_SELECT_INTERFACE *s = &urb->UrbSelectInterface;
  HC_DEVICE_HANDLE *device = FindDevice(hc, urb->UrbHeader.UsbdDeviceHandle);
  ULONG offset = FIELD_OFFSET(struct _URB_SELECT_INTERFACE, Interface);
  USBD_STATUS status;
  if (!device || !device->Configuration || s->ConfigurationHandle != device->Configuration ||
      urb->UrbHeader.Length < offset)
    return ST_INVALID_PARAMETER;
  status = SelectOneInterface(hc, device, &s->Interface, urb->UrbHeader.Length - offset);
  if (status != ST_SUCCESS) CloseInterfacePipes(hc, device, s->Interface.InterfaceNumber, FALSE);
  return status;
}

static USBD_STATUS ResetPipe(HC_EXTENSION *hc, PURB urb) {
  HC_PIPE *pipe = FindPipe(hc, urb->UrbPipeRequest.PipeHandle);
  USBD_STATUS status = ST_SUCCESS;
  if (!pipe) return ST_INVALID_PIPE_HANDLE;
  if (!(pipe->Flags & HC_PIPE_HALTED) && !IsListEmpty(&pipe->Transfers)) return ST_INVALID_PARAMETER;
  if ((pipe->Type == 2 || pipe->Type == 3) && pipe->Device->DefaultPipe)
    status = SendRequest(hc, pipe->Device->DefaultPipe, 0x02, 1, 0, pipe->Endpoint[2] & 0x8F);
  if (status == ST_SUCCESS) {
    if (!(pipe->Flags & HC_PIPE_ROOT_HUB) && hc->Ops->ResetPipe) hc->Ops->ResetPipe(hc, pipe);
    pipe->Flags &= ~HC_PIPE_HALTED;
  }
  return status;
}

static VOID NTAPI Worker(PVOID context) {
  HC_WORK *w = (HC_WORK *)context;
  PURB urb = (PURB)IoGetCurrentIrpStackLocation(w->Irp)->Parameters.Others.Argument1;
  USBD_STATUS status;
  switch (urb->UrbHeader.Function) {
    case URB_SELECT_CONFIGURATION:
      status = SelectConfiguration(w->Hc, urb);
      break;
    case URB_SELECT_INTERFACE:
      status = SelectInterface(w->Hc, urb);
      break;
    default:
      status = ResetPipe(w->Hc, urb);
      break;
  }
  CompleteUrb(w->Irp, urb, status, 0);
  ExFreePool(w);
}

static NTSTATUS QueueWorker(HC_EXTENSION *hc, PIRP irp, PURB urb, BOOLEAN deferAlways) {
  HC_WORK *w = (HC_WORK *)ExAllocatePoolWithTag(NonPagedPool, sizeof(*w), HC_POOL_TAG);
  if (!w) return CompleteUrb(irp, urb, ST_NO_MEMORY, 0);
  w->Hc = hc;
  w->Irp = irp;
  IoMarkIrpPending(irp);
  urb->UrbHeader.Status = ST_PENDING;
  if (deferAlways || HcCurrentIrql() > PASSIVE_LEVEL) {
    ExInitializeWorkItem(&w->Item, Worker, w);
    ExQueueWorkItem(&w->Item, DelayedWorkQueue);
  } else {
    Worker(w);
  }
  return STATUS_PENDING;
}

/* ------------------------------------------------------------------------------------------- */
/* Abort */

typedef struct {
  HC_EXTENSION *Hc;
  HC_PIPE *Pipe;
  BOOLEAN Empty;
} EMPTY_CONTEXT;

static BOOLEAN NTAPI PipeIsEmpty(PVOID context) {
  EMPTY_CONTEXT *c = (EMPTY_CONTEXT *)context;
  c->Empty = IsListEmpty(&c->Pipe->Transfers) && IsListEmpty(&c->Hc->PendingCompletions);
  return c->Empty;
}

static VOID NTAPI AbortCheck(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2) {
  HC_PIPE *pipe = (HC_PIPE *)context;
  EMPTY_CONTEXT c;
  LARGE_INTEGER due;
  (void)dpc, (void)argument1, (void)argument2;
  c.Hc = pipe->Controller;
  c.Pipe = pipe;
  if (HcSynchronize(pipe->Controller, PipeIsEmpty, &c)) {
    PIRP irp = pipe->AbortIrp;
    pipe->AbortIrp = NULL;
    if (irp) CompleteUrb(irp, pipe->AbortUrb, ST_SUCCESS, 0);
    return;
  }
  due.QuadPart = -10 * 1000 * 10;
  KeSetTimer(&pipe->AbortTimer, due, &pipe->AbortDpc);
}

static NTSTATUS AbortPipe(HC_EXTENSION *hc, PIRP irp, PURB urb) {
  HC_PIPE *pipe = FindPipe(hc, urb->UrbPipeRequest.PipeHandle);
  NTSTATUS answer;
  LARGE_INTEGER due;
  if (!pipe) return CompleteUrb(irp, urb, ST_INVALID_PIPE_HANDLE, 0);
  if (pipe->AbortIrp) return CompleteUrb(irp, urb, ST_INVALID_PARAMETER, 0); /* one abort at a time */
  if (pipe->Flags & HC_PIPE_ROOT_HUB) HcRootHubAbort(hc, pipe);
  answer = (!(pipe->Flags & HC_PIPE_ROOT_HUB) && hc->Ops->AbortPipe) ? hc->Ops->AbortPipe(hc, pipe) : STATUS_SUCCESS;
  if (answer != STATUS_PENDING) return CompleteUrb(irp, urb, ST_SUCCESS, 0);
  IoMarkIrpPending(irp);
  urb->UrbHeader.Status = ST_PENDING;
  pipe->AbortIrp = irp;
  pipe->AbortUrb = urb;
  KeInitializeDpc(&pipe->AbortDpc, AbortCheck, pipe);
  due.QuadPart = -10 * 1000 * 10;
  KeSetTimer(&pipe->AbortTimer, due, &pipe->AbortDpc);
  return STATUS_PENDING;
}

/* ------------------------------------------------------------------------------------------- */

NTSTATUS HcDispatchUrb(HC_EXTENSION *hc, PIRP irp) {
  PURB urb = (PURB)IoGetCurrentIrpStackLocation(irp)->Parameters.Others.Argument1;
  ULONG function;
  USBD_STATUS status;
  BOOLEAN marked = FALSE;
  if (!urb) {
    irp->IoStatus.Status = STATUS_INVALID_PARAMETER;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_PARAMETER;
  }
  function = urb->UrbHeader.Function;
  switch (function) {
    case URB_SELECT_CONFIGURATION:
    case URB_SELECT_INTERFACE:
      return QueueWorker(hc, irp, urb, FALSE);
    case URB_RESET_PIPE:
      return QueueWorker(hc, irp, urb, TRUE);
    case URB_ABORT_PIPE:
      return AbortPipe(hc, irp, urb);
    case URB_GET_FRAME_NUMBER:
      if (!hc->Ops->FrameNumber) return CompleteUrb(irp, urb, ST_INVALID_URB_FUNCTION, 0);
      urb->UrbGetCurrentFrameNumber.FrameNumber = hc->Ops->FrameNumber(hc);
      return CompleteUrb(irp, urb, ST_SUCCESS, 0);
    case URB_CONTROL_TRANSFER:
    case URB_BULK_OR_INTERRUPT:
    case URB_ISOCHRONOUS:
      break;
    default:
      if (!IsTranslated(function)) return CompleteUrb(irp, urb, ST_INVALID_URB_FUNCTION, 0);
      status = Translate(hc, urb);
      if (status != ST_SUCCESS) return CompleteUrb(irp, urb, status, 0);
      break;
  }
  status = SubmitTransferUrb(hc, irp, urb, &marked);
  if (status != ST_PENDING) {
    NTSTATUS nt = CompleteUrb(irp, urb, status, 0);
    return marked ? STATUS_PENDING : nt;
  }
  return STATUS_PENDING;
}
