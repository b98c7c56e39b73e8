/* usbhcd.sys: the OHCI controller type: initialise, start, stop and the static schedule. */
#include "usbhcd.h"

#define HcRevision 0x00
#define HcControl 0x04
#define HcCommandStatus 0x08
#define HcInterruptStatus 0x0C
#define HcInterruptEnable 0x10
#define HcInterruptDisable 0x14
#define HcHCCA 0x18
#define HcControlHeadED 0x20
#define HcControlCurrentED 0x24
#define HcBulkHeadED 0x28
#define HcBulkCurrentED 0x2C
#define HcFmInterval 0x34
#define HcPeriodicStart 0x40
#define HcRhDescriptorA 0x48
#define HcRhStatus 0x50

#define OHCI_RESET_POLLS 100
#define OHCI_FM_INTERVAL 0x27782EDF
#define OHCI_ALL_INTERRUPTS 0xC000007F
#define OHCI_LIST_ENABLES 0x3C
#define OHCI_STATE_MASK 0xC0
#define OHCI_STATE_RESUME 0x40
#define OHCI_STATE_OPERATIONAL 0x80
#define OHCI_ED_SKIP 0x4000
#define OHCI_HCCA_SIZE 256

/* 5-bit reversal: frame slot i enters the interrupt tree at leaf 31 + Reversal[i]. */
static const UCHAR Reversal[32] = {0, 16, 8, 24, 4, 20, 12, 28, 2, 18, 10, 26, 6, 22, 14, 30,
                                   1, 17, 9, 25, 5, 21, 13, 29, 3, 19, 11, 27, 7, 23, 15, 31};

static ULONG Read(HC_EXTENSION *hc, ULONG offset) { return HcReadRegisterUlong(hc->Registers + offset); }
static VOID Write(HC_EXTENSION *hc, ULONG offset, ULONG value) { HcWriteRegisterUlong(hc->Registers + offset, value); }

static BOOLEAN ResetController(HC_EXTENSION *hc) {
  ULONG poll;
  Write(hc, HcCommandStatus, 1);
  for (poll = 0; poll < OHCI_RESET_POLLS; ++poll) {
    KeStallExecutionProcessor(100);
    if (!(Read(hc, HcCommandStatus) & 1)) return TRUE;
  }
  return FALSE;
}

/* The communication area: its alignment is what HcHCCA keeps of an all-ones write. */
static NTSTATUS CreateHcca(HC_EXTENSION *hc) {
  HC_OHCI_STATE *o = &hc->u.Ohci;
  ULONG alignment, length, physical, offset;
  Write(hc, HcHCCA, 0xFFFFFFFF);
  alignment = 0 - Read(hc, HcHCCA);
  if (alignment == 0 || alignment > HC_PAGE_SIZE) return STATUS_DEVICE_CONFIGURATION_ERROR;
  length = alignment * 2;
  if (length < OHCI_HCCA_SIZE * 2) length = OHCI_HCCA_SIZE * 2;
  if (length > HC_PAGE_SIZE) length = HC_PAGE_SIZE;
  o->HccaBuffer = HalAllocateCommonBuffer(hc->Adapter, length, &o->HccaBufferPhysical, FALSE);
  if (!o->HccaBuffer) return STATUS_INSUFFICIENT_RESOURCES;
  o->HccaBufferLength = length;
  RtlZeroMemory(o->HccaBuffer, length);
  physical = (o->HccaBufferPhysical.LowPart + alignment - 1) & ~(alignment - 1);
  offset = physical - o->HccaBufferPhysical.LowPart;
  if (offset + OHCI_HCCA_SIZE > length) return STATUS_DEVICE_CONFIGURATION_ERROR;
  o->Hcca = (PUCHAR)o->HccaBuffer + offset;
  Write(hc, HcHCCA, physical);
  return STATUS_SUCCESS;
}

/* 63 static endpoint descriptors, skipped, each linked to its parent; the communication area's
 * interrupt table enters the tree at the leaves. */
static NTSTATUS CreateTree(HC_EXTENSION *hc) {
  HC_OHCI_STATE *o = &hc->u.Ohci;
  ULONG i;
  for (i = 0; i < 63; ++i) {
    PULONG ed = (PULONG)HcPoolAllocate(hc->DescriptorPool, &o->TreePhysical[i]);
    if (!ed) return STATUS_INSUFFICIENT_RESOURCES;
    o->TreeNodes[i] = ed;
    ed[0] = OHCI_ED_SKIP;
    ed[1] = 0;
    ed[2] = 0;
    ed[3] = i == 0 ? 0 : o->TreePhysical[(i - 1) / 2];
  }
  for (i = 0; i < 32; ++i) ((PULONG)o->Hcca)[i] = o->TreePhysical[31 + Reversal[i]];
  return STATUS_SUCCESS;
}

static VOID NTAPI DoneDpc(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2) {
  HC_EXTENSION *hc = (HC_EXTENSION *)context;
  (void)dpc, (void)argument1, (void)argument2;
  if (hc->Ops->DeferredCompletion) hc->Ops->DeferredCompletion(hc);
}

static VOID NTAPI DoneQueueDpc(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2);

static NTSTATUS Initialise(HC_EXTENSION *hc) {
  HC_OHCI_STATE *o = &hc->u.Ohci;
  NTSTATUS status;

  Write(hc, HcRhStatus, 1);
  if (!ResetController(hc)) return STATUS_ADAPTER_HARDWARE_ERROR;
  Write(hc, HcInterruptStatus, OHCI_ALL_INTERRUPTS);
  Write(hc, HcInterruptDisable, OHCI_ALL_INTERRUPTS);
  Write(hc, HcControl, Read(hc, HcControl) & ~OHCI_LIST_ENABLES);

  Write(hc, HcControl, (Read(hc, HcControl) & ~OHCI_STATE_MASK) | OHCI_STATE_RESUME);
  HcDelayMilliseconds(30);

  Write(hc, HcFmInterval, OHCI_FM_INTERVAL);
  if (Read(hc, HcFmInterval) != OHCI_FM_INTERVAL) return STATUS_ADAPTER_HARDWARE_ERROR;

  hc->DescriptorPool = HcPoolCreate(hc->Adapter, 256, 32, 2048, 64);
  if (!hc->DescriptorPool) return STATUS_NO_MEMORY;
  status = CreateHcca(hc);
  if (!NT_SUCCESS(status)) return status;
  Write(hc, HcControl, Read(hc, HcControl) & 0x1C0);
  status = CreateTree(hc);
  if (!NT_SUCCESS(status)) return status;
  Write(hc, HcControlHeadED, 0);
  Write(hc, HcControlCurrentED, 0);
  Write(hc, HcBulkHeadED, 0);
  Write(hc, HcBulkCurrentED, 0);
  InitializeListHead(&o->DoneLists[0]);
  InitializeListHead(&o->DoneLists[1]);
  KeInitializeDpc(&o->DoneDpc, DoneQueueDpc, hc);
  KeInitializeDpc(&o->CompletionDpc, DoneDpc, hc);
  KeInitializeSpinLock(&o->ScheduleLock);
  InitializeListHead(&o->Pipes);
  InitializeListHead(&o->Cancels);
  InitializeListHead(&o->Removed);
  o->DoneHead = 0;
  o->FrameHigh = 0;
  o->DpcsReady = TRUE;
  o->RhDescriptorA = Read(hc, HcRhDescriptorA);
  Write(hc, HcPeriodicStart, 10799);
  return STATUS_SUCCESS;
}

static VOID Start(HC_EXTENSION *hc) {
  Write(hc, HcControl, (Read(hc, HcControl) & ~OHCI_STATE_MASK) | OHCI_LIST_ENABLES | OHCI_STATE_OPERATIONAL);
  HcDelayMilliseconds(10);
  Write(hc, HcRhStatus, 0x10000);
  Write(hc, HcInterruptEnable, 0x80000033);
}

/* Stop resets the controller: no interrupts, no schedule processing, ports unpowered. */
static VOID Stop(HC_EXTENSION *hc) {
  Write(hc, HcInterruptDisable, OHCI_ALL_INTERRUPTS);
  ResetController(hc);
  Write(hc, HcRhStatus, 1);
}

static BOOLEAN ProcessCancels(HC_EXTENSION *hc, BOOLEAN all);
static VOID FreeRemoved(HC_EXTENSION *hc, BOOLEAN all);

static VOID FreeSchedule(HC_EXTENSION *hc) {
  HC_OHCI_STATE *o = &hc->u.Ohci;
  ULONG i;
  if (o->DpcsReady) { /* the controller is stopped: nothing is left waiting */
    ProcessCancels(hc, TRUE);
    FreeRemoved(hc, TRUE);
    KeRemoveQueueDpc(&o->DoneDpc);
    KeRemoveQueueDpc(&o->CompletionDpc);
  }
  o->DpcsReady = FALSE;
  for (i = 0; i < 63; ++i) {
    if (o->TreeNodes[i]) HcPoolFree(hc->DescriptorPool, o->TreeNodes[i]);
    o->TreeNodes[i] = NULL;
  }
  if (o->HccaBuffer) HalFreeCommonBuffer(hc->Adapter, o->HccaBufferLength, o->HccaBufferPhysical, o->HccaBuffer, FALSE);
  o->HccaBuffer = NULL;
  o->Hcca = NULL;
}

/* ------------------------------------------------------------------------------------------- */
/* Pipes and transfers
 *
 * Every pipe has an endpoint descriptor whose transfer descriptors end in an empty one (the tail):
 * a transfer fills the tail and the descriptors after it, and a new empty tail ends them. Control
 * and bulk endpoint descriptors are linked at the head of their lists, interrupt ones after a
 * node of the interrupt tree, isochronous ones after the root. A transfer descriptor's block
 * keeps its transfer beside the hardware part (the controller reads 16 or 32 bytes). */

#define ED_SKIP 0x4000u
#define ED_ISO 0x8000u
#define ED_LOW_SPEED 0x2000u
#define HEAD_HALTED 1u
#define HEAD_CARRY 2u
#define TD_CC(c) ((ULONG)(c) >> 28)
#define TD_COUNT 0x1FFFu
#define OHCI_TD_SOFTWARE 32
#define OHCI_PIPE_TAG HC_TAG('O', 'e', 'd', ' ')

#define ST_SUCCESS 0x00000000u
#define ST_PENDING 0x40000000u
#define ST_NO_MEMORY 0x80000100u
#define ST_INVALID_PARAMETER 0x80000300u
#define ST_SHORT 0x80000900u
#define ST_CANCELLED 0x00010000u

typedef struct {
  LIST_ENTRY Link;
  HC_PIPE *Pipe;
  PVOID EdBlock;
  PULONG Ed;
  ULONG EdPhysical;
  PVOID Tail; /* the empty descriptor that ends the endpoint's queue */
  ULONG TailPhysical;
  LONG Node;
  ULONG Bandwidth;
  ULONG NextFrame;    /* isochronous: the frame after the last one queued */
  BOOLEAN Cancelling; /* skipped, its transfers cancelled at the next start of frame */
  BOOLEAN Closed;     /* unlinked, freed at the next start of frame */
  ULONG Frame;        /* the frame of the skip or the unlinking */
  LIST_ENTRY CancelLink;
} OHCI_PIPE;

static HC_TRANSFER **TransferOf(PVOID td) { return (HC_TRANSFER **)((PUCHAR)td + OHCI_TD_SOFTWARE); }

static ULONG PathLoad(HC_OHCI_STATE *o, ULONG node) {
  ULONG load = 0;
  for (;;) {
    load += o->NodeBandwidth[node];
    if (node == 0) return load;
    node = (node - 1) / 2;
  }
}

static ULONG MaximumPacket(HC_PIPE *pipe) { return (pipe->Endpoint[4] | pipe->Endpoint[5] << 8) & 0x7FF; }

static ULONG EdControl(HC_PIPE *pipe) {
  ULONG c = (pipe->Address & 0x7F) | (ULONG)(pipe->Endpoint[2] & 0x0F) << 7 | MaximumPacket(pipe) << 16;
  if (pipe->Flags & HC_PIPE_LOW_SPEED) c |= ED_LOW_SPEED;
  if (pipe->Type == 1) c |= ED_ISO | ((pipe->Flags & HC_PIPE_IN) ? 0x1000u : 0x0800u);
  return c;
}

static NTSTATUS OpenPipe(HC_EXTENSION *hc, HC_PIPE *pipe) {
  HC_OHCI_STATE *o = &hc->u.Ohci;
  OHCI_PIPE *op = (OHCI_PIPE *)ExAllocatePoolWithTag(NonPagedPool, sizeof(*op), OHCI_PIPE_TAG);
  KIRQL irql;
  if (!op) return STATUS_INSUFFICIENT_RESOURCES;
  RtlZeroMemory(op, sizeof(*op));
  op->Pipe = pipe;
  op->Node = -1;
  op->EdBlock = HcPoolAllocate(hc->DescriptorPool, &op->EdPhysical);
  op->Tail = op->EdBlock ? HcPoolAllocate(hc->DescriptorPool, &op->TailPhysical) : NULL;
  if (!op->Tail) {
    if (op->EdBlock) HcPoolFree(hc->DescriptorPool, op->EdBlock);
    ExFreePool(op);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  op->Ed = (PULONG)op->EdBlock;
  op->Ed[0] = EdControl(pipe);
  op->Ed[1] = op->TailPhysical;
  op->Ed[2] = op->TailPhysical;
  pipe->Hardware = op;
  KeAcquireSpinLock(&o->ScheduleLock, &irql);
  InsertTailList(&o->Pipes, &op->Link);
  if (pipe->Type == 0 || pipe->Type == 2) {
    ULONG head = pipe->Type == 0 ? HcControlHeadED : HcBulkHeadED;
    op->Ed[3] = Read(hc, head);
    Write(hc, head, op->EdPhysical);
  } else {
    ULONG node = 0, best = 0, bestLoad = 0xFFFFFFFF;
    PULONG nodeEd;
    if (pipe->Type == 3) {
      for (node = pipe->Polling; node <= 2 * pipe->Polling; ++node) {
        ULONG load = PathLoad(o, node);
        if (load < bestLoad) best = node, bestLoad = load;
        if (load == 0) break;
      }
    }
    op->Node = (LONG)best;
    op->Bandwidth = MaximumPacket(pipe) + 13;
    if (pipe->Flags & HC_PIPE_LOW_SPEED) op->Bandwidth *= 8; /* a low-speed transaction takes eight times as long */
    o->NodeBandwidth[best] += op->Bandwidth;
    nodeEd = (PULONG)o->TreeNodes[best];
    op->Ed[3] = nodeEd[3];
    nodeEd[3] = op->EdPhysical;
  }
  KeReleaseSpinLock(&o->ScheduleLock, irql);
  return STATUS_SUCCESS;
}

/* The physical address of buffer byte offset, and the descriptor's range of one 4 KB piece. */
static ULONG Physical(PUCHAR va) { return MmGetPhysicalAddress(va).LowPart; }

static VOID FillGeneral(PULONG td, ULONG control, PUCHAR buffer, ULONG length, ULONG next, HC_TRANSFER *t) {
  td[0] = control | (length & TD_COUNT);
  td[1] = length ? Physical(buffer) : 0;
  td[2] = next;
  td[3] = length ? Physical(buffer + length - 1) : 0;
  *TransferOf(td) = t;
}

static VOID FreeTds(HC_EXTENSION *hc, HC_TRANSFER *t) {
  ULONG i;
  for (i = 0; i < t->Packets; ++i)
    if (t->Td[i]) {
      *TransferOf(t->Td[i]) = NULL; /* a late done-queue entry finds no transfer */
      HcPoolFree(hc->DescriptorPool, t->Td[i]);
    }
  t->Packets = 0;
}

static ULONG FrameNumber(HC_EXTENSION *hc);

/* Isochronous: one descriptor for up to eight packets that lie within two pages; each packet's
 * offset word names its page (bit 12: the last byte's page) and place. Packets start at the
 * URB's frame, or as soon as possible: right after the pipe's last queued frame, or two frames
 * on from now. */
static USBD_STATUS SubmitIsochronous(HC_EXTENSION *hc, HC_TRANSFER *t) {
  HC_OHCI_STATE *o = &hc->u.Ohci;
  struct _URB_ISOCH_TRANSFER *x = &t->Urb->UrbIsochronousTransfer;
  OHCI_PIPE *op = (OHCI_PIPE *)t->Pipe->Hardware;
  ULONG packets = x->NumberOfPackets, k, count = 0, frame, now, i;
  PVOID blocks[128];
  ULONG physical[128];
  KIRQL irql;
  if (!HcIsochronousPacketsValid(t, MaximumPacket(t->Pipe))) return ST_INVALID_PARAMETER;
  /* Group the packets. */
  for (k = 0; k < packets; ++count) {
    ULONG first = k, base = (ULONG)((ULONG_PTR)(t->Buffer + x->IsoPacket[k].Offset) & ~(ULONG_PTR)0xFFF);
    if (count >= 127) return ST_INVALID_PARAMETER;
    t->IsoFirst[count] = (USHORT)k;
    for (++k; k < packets && k - first < 8; ++k) {
      ULONG end = k + 1 < packets ? x->IsoPacket[k + 1].Offset : t->Length;
      ULONG last = (ULONG)((ULONG_PTR)(t->Buffer + (end ? end - 1 : 0)) & ~(ULONG_PTR)0xFFF);
      if (last - base > HC_PAGE_SIZE) break;
    }
  }
  for (i = 0; i < count; ++i) {
    blocks[i] = HcPoolAllocate(hc->DescriptorPool, &physical[i]);
    if (!blocks[i]) {
      while (i-- > 0) HcPoolFree(hc->DescriptorPool, blocks[i]);
      return ST_NO_MEMORY;
    }
  }
  KeAcquireSpinLock(&o->ScheduleLock, &irql);
  now = FrameNumber(hc);
  frame = HcIsochronousStartFrame(t, op->NextFrame, now);
  x->StartFrame = frame;
  x->ErrorCount = 0;
  t->Packets = count;
  t->Td[0] = op->Tail;
  for (i = 1; i < count; ++i) t->Td[i] = blocks[i - 1];
  for (i = 0; i < count; ++i) {
    PULONG td = (PULONG)t->Td[i];
    PUSHORT offsets = (PUSHORT)(td + 4);
    ULONG first = t->IsoFirst[i], last = i + 1 < count ? t->IsoFirst[i + 1] : packets, n = last - first;
    PUCHAR start = t->Buffer + x->IsoPacket[first].Offset;
    ULONG end = last < packets ? x->IsoPacket[last].Offset : t->Length;
    ULONG startPage = (ULONG)((ULONG_PTR)start & ~(ULONG_PTR)0xFFF);
    td[0] = ((frame + first) & 0xFFFF) | ((n - 1) << 24) | (15u << 28);
    td[1] = Physical(start) & ~0xFFFu;
    td[2] = i + 1 < count ? physical[i] : physical[count - 1];
    td[3] = end > x->IsoPacket[first].Offset ? Physical(t->Buffer + end - 1) : Physical(start);
    for (k = 0; k < n; ++k) {
      PUCHAR at = t->Buffer + x->IsoPacket[first + k].Offset;
      ULONG page = (ULONG)((ULONG_PTR)at & ~(ULONG_PTR)0xFFF) != startPage ? 0x1000 : 0;
      offsets[k] = (USHORT)(0xE000 | page | ((ULONG_PTR)at & 0xFFF));
    }
    *TransferOf(td) = t;
  }
  op->Tail = blocks[count - 1];
  op->TailPhysical = physical[count - 1];
  RtlZeroMemory(op->Tail, 40);
  t->NextPhysical = op->TailPhysical;
  op->NextFrame = frame + packets;
  InsertTailList(&t->Pipe->Transfers, &t->Link);
  op->Ed[1] = op->TailPhysical;
  KeReleaseSpinLock(&o->ScheduleLock, irql);
  return ST_PENDING;
}

static USBD_STATUS SubmitTransfer(HC_EXTENSION *hc, HC_TRANSFER *t) {
  HC_OHCI_STATE *o = &hc->u.Ohci;
  HC_PIPE *pipe = t->Pipe;
  OHCI_PIPE *op = (OHCI_PIPE *)pipe->Hardware;
  ULONG pieces = (t->Length + HC_PAGE_SIZE - 1) / HC_PAGE_SIZE, count, i, physical[128], offset;
  PVOID blocks[128];
  KIRQL irql;
  BOOLEAN in;
  if (pipe->Type == 1) return SubmitIsochronous(hc, t);
  if (!pieces) pieces = pipe->Type == 0 ? 0 : 1;
  count = pieces + (pipe->Type == 0 ? 2 : 0);
  /* The tail becomes the first descriptor; count new blocks: the rest and the new tail. */
  for (i = 0; i < count; ++i) {
    blocks[i] = HcPoolAllocate(hc->DescriptorPool, &physical[i]);
    if (!blocks[i]) {
      while (i-- > 0) HcPoolFree(hc->DescriptorPool, blocks[i]);
      return ST_NO_MEMORY;
    }
  }
  KeAcquireSpinLock(&o->ScheduleLock, &irql);
  t->Packets = count;
  t->Td[0] = op->Tail;
  for (i = 1; i < count; ++i) t->Td[i] = blocks[i - 1];
  {
    ULONG tdPhysical[129];
    tdPhysical[0] = op->TailPhysical;
    for (i = 1; i <= count; ++i) tdPhysical[i] = physical[i - 1];
    i = 0;
    offset = 0;
    in = pipe->Type == 0 ? (t->Flags & USBD_TRANSFER_DIRECTION_IN) != 0 : (pipe->Flags & HC_PIPE_IN) != 0;
    if (pipe->Type == 0) {
      /* The setup packet is copied beside the descriptor, which the controller does not read. */
      PUCHAR setup = (PUCHAR)t->Td[0] + 16;
      RtlCopyMemory(setup, t->Urb->UrbControlTransfer.SetupPacket, 8);
      ((PULONG)t->Td[0])[0] = 0xF2000000u | 8;
      ((PULONG)t->Td[0])[1] = tdPhysical[0] + 16;
      ((PULONG)t->Td[0])[2] = tdPhysical[1];
      ((PULONG)t->Td[0])[3] = tdPhysical[0] + 23;
      *TransferOf(t->Td[0]) = t;
      i = 1;
    }
    for (; offset < t->Length || (pipe->Type != 0 && i == 0); ++i) {
      ULONG length = t->Length - offset > HC_PAGE_SIZE ? HC_PAGE_SIZE : t->Length - offset;
      FillGeneral((PULONG)t->Td[i], in ? 0xF0100000u : 0xF0080000u, t->Buffer + offset, length, tdPhysical[i + 1], t);
      offset += length;
    }
    if (pipe->Type == 0) {
      FillGeneral((PULONG)t->Td[i], (in && t->Length) ? 0xF3080000u : 0xF3100000u, NULL, 0, tdPhysical[i + 1], t);
      ++i;
    }
    op->Tail = blocks[count - 1];
    op->TailPhysical = physical[count - 1];
    t->NextPhysical = op->TailPhysical;
    RtlZeroMemory(op->Tail, 32);
    t->BatchCount = 0;
    InsertTailList(&pipe->Transfers, &t->Link);
    op->Ed[1] = op->TailPhysical; /* the controller sees the new descriptors from here on */
  }
  if (pipe->Type == 0) Write(hc, HcCommandStatus, 0x02);
  if (pipe->Type == 2) Write(hc, HcCommandStatus, 0x04);
  KeReleaseSpinLock(&o->ScheduleLock, irql);
  return ST_PENDING;
}

static USBD_STATUS CodeStatus(ULONG code) {
  if (code == 0) return ST_SUCCESS;
  if (code == 11) return ST_CANCELLED;
  if (code >= 14) return 0xC000000Fu;
  return 0xC0000000u + code;
}

/* The endpoint's head moves past the transfer: to the descriptor after its last. */
static VOID SkipTransfer(OHCI_PIPE *op, HC_TRANSFER *t, BOOLEAN keepCarry, BOOLEAN halt) {
  ULONG next = t->NextPhysical;
  ULONG carry = keepCarry ? (op->Ed[2] & HEAD_CARRY) : 0;
  op->Ed[2] = (next & ~0xFu) | carry | (halt ? HEAD_HALTED : 0);
}

static VOID Finish(HC_EXTENSION *hc, HC_TRANSFER *t, USBD_STATUS status) {
  FreeTds(hc, t);
  HcFinishTransfer(hc, t, status);
}

/* One general descriptor back from the controller; answers whether its transfer finished. */
static BOOLEAN CompleteGeneral(HC_EXTENSION *hc, PVOID block) {
  PULONG td = (PULONG)block;
  HC_TRANSFER *t = *TransferOf(block);
  HC_PIPE *pipe;
  OHCI_PIPE *op;
  ULONG code = TD_CC(td[0]), count = td[0] & TD_COUNT, cbp = td[1], be = td[3], moved;
  BOOLEAN last, control;
  if (!t || !t->Packets) return FALSE;
  pipe = t->Pipe;
  op = (OHCI_PIPE *)pipe->Hardware;
  control = pipe->Type == 0;
  last = block == t->Td[t->Packets - 1];
  if (cbp == 0)
    moved = count;
  else
    moved = count - ((be & 0xFFF) - (cbp & 0xFFF) + 1 + (((be ^ cbp) & ~0xFFFu) ? HC_PAGE_SIZE : 0));
  if (!(control && block == t->Td[0])) t->Moved += moved;
  *TransferOf(block) = NULL;
  if (code == 0 && cbp == 0) {
    if (!last) return FALSE;
    Finish(hc, t, ST_SUCCESS);
    return TRUE;
  }
  if (code == 0) {
    if (control) return FALSE;
    SkipTransfer(op, t, TRUE, FALSE);
    Finish(hc, t, ST_SUCCESS);
    return TRUE;
  }
  if (code == 9) {
    if (control && (t->Flags & USBD_SHORT_TRANSFER_OK) && !last) {
      ULONG status = HcPoolBlockPhysical(hc->DescriptorPool, t->Td[t->Packets - 1]);
      op->Ed[2] = status | (op->Ed[2] & HEAD_CARRY); /* on to the status stage, halt cleared */
      return FALSE;
    }
    SkipTransfer(op, t, TRUE, FALSE);
    Finish(hc, t, (t->Flags & USBD_SHORT_TRANSFER_OK) ? ST_SUCCESS : ST_SHORT);
    return TRUE;
  }
  if (code == 11) {
    Finish(hc, t, ST_CANCELLED);
    return TRUE;
  }
  SkipTransfer(op, t, FALSE, !control);
  if (!control) pipe->Flags |= HC_PIPE_HALTED;
  Finish(hc, t, CodeStatus(code));
  return TRUE;
}

/* One isochronous descriptor back: each packet's status word gives its status and length. */
static BOOLEAN CompleteIsochronous(HC_EXTENSION *hc, PVOID block) {
  PULONG td = (PULONG)block;
  PUSHORT words = (PUSHORT)(td + 4);
  HC_TRANSFER *t = *TransferOf(block);
  struct _URB_ISOCH_TRANSFER *x;
  ULONG code = TD_CC(td[0]), frames = ((td[0] >> 24) & 7) + 1, i, k, first;
  BOOLEAN in;
  if (!t || !t->Packets) return FALSE;
  x = &t->Urb->UrbIsochronousTransfer;
  in = (t->Pipe->Flags & HC_PIPE_IN) != 0;
  for (i = 0; i < t->Packets && t->Td[i] != block; ++i) {
  }
  if (i == t->Packets) return FALSE;
  first = t->IsoFirst[i];
  *TransferOf(block) = NULL;
  if (code == 8) {
    code = 0;
    words[frames - 1] = (USHORT)((words[frames - 1] & 0x0FFF) | 0xF000);
  }
  for (k = 0; k < frames && first + k < x->NumberOfPackets; ++k) {
    PUSBD_ISO_PACKET_DESCRIPTOR p = &x->IsoPacket[first + k];
    ULONG word = words[k], cc = word >= 0xE000 ? 15 : word >> 12;
    USBD_STATUS status = CodeStatus(cc);
    if (cc == 9) status = (t->Flags & USBD_SHORT_TRANSFER_OK) ? ST_SUCCESS : ST_SHORT;
    p->Status = status;
    if (in) {
      p->Length = cc >= 14 ? 0 : (word & 0x7FF);
      t->Moved += p->Length;
    } else {
      ULONG end = first + k + 1 < x->NumberOfPackets ? x->IsoPacket[first + k + 1].Offset : t->Length;
      if (status == ST_SUCCESS) t->Moved += end - p->Offset;
      p->Length = 0;
    }
    if (status != ST_SUCCESS) x->ErrorCount++;
  }
  if (block != t->Td[t->Packets - 1]) return FALSE;
  Finish(hc, t, CodeStatus(code));
  return TRUE;
}

/* The done queue, newest first as the controller writes it, handled oldest first. An address
 * that is not the start of one of the driver's descriptors ends the walk. */
static VOID ProcessDoneQueue(HC_EXTENSION *hc, ULONG head) {
  PVOID order[256];
  ULONG n = 0;
  BOOLEAN finished = FALSE;
  while (head && n < 256) {
    PVOID block = HcPoolFindBlock(hc->DescriptorPool, head & ~0xFu);
    if (!block || (head & 0xF)) {
      hc->BadDoneHeads++;
      DbgPrint("usbhcd: done queue address %08X is not a transfer descriptor\n", head);
      break;
    }
    order[n++] = block;
    head = ((PULONG)block)[2];
  }
  while (n-- > 0) {
    HC_TRANSFER *t = *TransferOf(order[n]);
    BOOLEAN iso = t && t->Packets && t->Pipe->Type == 1;
    finished = (iso ? CompleteIsochronous(hc, order[n]) : CompleteGeneral(hc, order[n])) || finished;
  }
  if (finished) KeInsertQueueDpc(&hc->u.Ohci.CompletionDpc, NULL, NULL);
}

/* Removal. The controller may be working on an endpoint when the driver skips or unlinks it,
 * and it may go on until the next start of frame. So a cancel sets the endpoint's skip bit and
 * waits for a start of frame (the interrupt enabled for it) after the frame of the skip; only
 * then are the endpoint's transfers cancelled through their completion routines (condition code
 * 11), its head set to its tail and the skip bit cleared. A closed pipe's endpoint is unlinked at
 * once and freed, with the pipe's record, at a start of frame after that. A stopped controller
 * holds nothing: everything goes at once. */

static VOID WatchStartOfFrame(HC_EXTENSION *hc) {
  Write(hc, HcInterruptStatus, 0x04);
  Write(hc, HcInterruptEnable, 0x04);
}

/* Under the schedule lock; answers whether a transfer finished. */
static BOOLEAN ProcessCancels(HC_EXTENSION *hc, BOOLEAN all) {
  HC_OHCI_STATE *o = &hc->u.Ohci;
  PLIST_ENTRY e;
  ULONG now = 0;
  BOOLEAN any = FALSE;
  if (hc->State & HC_STATE_STOPPING) all = TRUE;
  if (!all) now = FrameNumber(hc);
  for (e = o->Cancels.Flink; e != &o->Cancels;) {
    OHCI_PIPE *op = CONTAINING_RECORD(e, OHCI_PIPE, CancelLink);
    HC_PIPE *pipe = op->Pipe;
    e = e->Flink;
    if (!all && (LONG)(now - op->Frame) <= 0) continue;
    RemoveEntryList(&op->CancelLink);
    op->Cancelling = FALSE;
    /* Cancelled transfers finish through the completion path: condition code 11 on each. */
    while (!IsListEmpty(&pipe->Transfers)) {
      HC_TRANSFER *t = CONTAINING_RECORD(pipe->Transfers.Flink, HC_TRANSFER, Link);
      ULONG i;
      BOOLEAN finished = FALSE;
      for (i = 0; i < t->Packets && !finished; ++i) {
        PULONG td = (PULONG)t->Td[i];
        if (*TransferOf(td) != t) continue; /* retired already */
        td[0] = (td[0] & 0x0FFFFFFFu) | (11u << 28);
        finished = pipe->Type == 1 ? CompleteIsochronous(hc, td) : CompleteGeneral(hc, td);
      }
      if (!finished) Finish(hc, t, ST_CANCELLED);
      any = TRUE;
    }
    op->Ed[2] = op->TailPhysical | (op->Ed[2] & HEAD_CARRY);
    if (!op->Closed) op->Ed[0] &= ~ED_SKIP;
  }
  return any;
}

static VOID FreeRemoved(HC_EXTENSION *hc, BOOLEAN all) {
  HC_OHCI_STATE *o = &hc->u.Ohci;
  PLIST_ENTRY e;
  ULONG now = 0;
  if (hc->State & HC_STATE_STOPPING) all = TRUE;
  if (!all) now = FrameNumber(hc);
  for (e = o->Removed.Flink; e != &o->Removed;) {
    OHCI_PIPE *op = CONTAINING_RECORD(e, OHCI_PIPE, Link);
    e = e->Flink;
    if (op->Cancelling || (!all && (LONG)(now - op->Frame) <= 0)) continue;
    RemoveEntryList(&op->Link);
    HcPoolFree(hc->DescriptorPool, op->Tail);
    HcPoolFree(hc->DescriptorPool, op->EdBlock);
    ExFreePool(op->Pipe);
    ExFreePool(op);
  }
}

static NTSTATUS AbortPipe(HC_EXTENSION *hc, HC_PIPE *pipe) {
  HC_OHCI_STATE *o = &hc->u.Ohci;
  OHCI_PIPE *op = (OHCI_PIPE *)pipe->Hardware;
  KIRQL irql;
  BOOLEAN any;
  if (!op) return STATUS_SUCCESS;
  KeAcquireSpinLock(&o->ScheduleLock, &irql);
  any = !IsListEmpty(&pipe->Transfers);
  if (any && !op->Cancelling) {
    op->Ed[0] |= ED_SKIP;
    op->Cancelling = TRUE;
    op->Frame = FrameNumber(hc);
    InsertTailList(&o->Cancels, &op->CancelLink);
    WatchStartOfFrame(hc);
  }
  ProcessCancels(hc, FALSE);
  KeReleaseSpinLock(&o->ScheduleLock, irql);
  if (!any) return STATUS_SUCCESS;
  KeInsertQueueDpc(&o->CompletionDpc, NULL, NULL);
  return STATUS_PENDING;
}

static BOOLEAN ClosePipe(HC_EXTENSION *hc, HC_PIPE *pipe) {
  HC_OHCI_STATE *o = &hc->u.Ohci;
  OHCI_PIPE *op = (OHCI_PIPE *)pipe->Hardware;
  KIRQL irql;
  if (!op) return FALSE;
  KeAcquireSpinLock(&o->ScheduleLock, &irql);
  RemoveEntryList(&op->Link);
  if (pipe->Type == 0 || pipe->Type == 2) {
    ULONG head = pipe->Type == 0 ? HcControlHeadED : HcBulkHeadED;
    ULONG enable = pipe->Type == 0 ? 0x10 : 0x20;
    Write(hc, HcControl, Read(hc, HcControl) & ~enable);
    if (Read(hc, head) == op->EdPhysical) {
      Write(hc, head, op->Ed[3]);
    } else {
      PLIST_ENTRY e;
      for (e = o->Pipes.Flink; e != &o->Pipes; e = e->Flink) {
        OHCI_PIPE *other = CONTAINING_RECORD(e, OHCI_PIPE, Link);
        if (other->Ed[3] == op->EdPhysical && other->Pipe->Type == pipe->Type) other->Ed[3] = op->Ed[3];
      }
    }
    Write(hc, pipe->Type == 0 ? HcControlCurrentED : HcBulkCurrentED, 0);
    Write(hc, HcControl, Read(hc, HcControl) | enable);
  } else {
    PULONG at = (PULONG)o->TreeNodes[op->Node];
    while (at[3] && at[3] != op->EdPhysical) {
      PULONG next = (PULONG)HcPoolFindBlock(hc->DescriptorPool, at[3]);
      if (!next) break;
      at = next;
    }
    if (at[3] == op->EdPhysical) at[3] = op->Ed[3];
    o->NodeBandwidth[op->Node] -= op->Bandwidth;
  }
  /* The endpoint's own link stays, so a controller on it goes on along the list. */
  op->Ed[0] |= ED_SKIP;
  op->Closed = TRUE;
  op->Frame = FrameNumber(hc);
  InsertTailList(&o->Removed, &op->Link);
  WatchStartOfFrame(hc);
  FreeRemoved(hc, FALSE);
  KeReleaseSpinLock(&o->ScheduleLock, irql);
  return TRUE;
}

/* The device's address goes into its endpoint descriptor. */
static VOID UpdatePipe(HC_EXTENSION *hc, HC_PIPE *pipe) {
  OHCI_PIPE *op = (OHCI_PIPE *)pipe->Hardware;
  KIRQL irql;
  if (!op) return;
  KeAcquireSpinLock(&hc->u.Ohci.ScheduleLock, &irql);
  op->Ed[0] = (op->Ed[0] & ED_SKIP) | EdControl(pipe);
  KeReleaseSpinLock(&hc->u.Ohci.ScheduleLock, irql);
}

static VOID ResetPipe(HC_EXTENSION *hc, HC_PIPE *pipe) {
  OHCI_PIPE *op = (OHCI_PIPE *)pipe->Hardware;
  KIRQL irql;
  if (!op) return;
  KeAcquireSpinLock(&hc->u.Ohci.ScheduleLock, &irql);
  op->Ed[2] &= ~(HEAD_HALTED | HEAD_CARRY);
  pipe->Flags &= ~HC_PIPE_HALTED;
  if (pipe->Type == 2) Write(hc, HcCommandStatus, 0x04);
  KeReleaseSpinLock(&hc->u.Ohci.ScheduleLock, irql);
}

static ULONG FrameNumber(HC_EXTENSION *hc) {
  HC_OHCI_STATE *o = &hc->u.Ohci;
  ULONG hcca = *(PUSHORT)((PUCHAR)o->Hcca + 0x80);
  return o->FrameHigh + hcca;
}

static BOOLEAN InterruptService(HC_EXTENSION *hc) {
  HC_OHCI_STATE *o = &hc->u.Ohci;
  PULONG doneHead = (PULONG)((PUCHAR)o->Hcca + 0x84);
  ULONG status = Read(hc, HcInterruptStatus) & Read(hc, HcInterruptEnable) & ~0x80000000u;
  if (*doneHead > 1) status |= 0x02;
  if (!status) return FALSE;
  if (status & 0x20) { /* frame-number overflow */
    USHORT frame = *(PUSHORT)((PUCHAR)o->Hcca + 0x80);
    o->FrameHigh += 0x10000;
    if (frame & 0x8000) o->FrameHigh -= 0x10000;
  }
  if (status & 0x02) {
    o->DoneHead = *doneHead & ~1u;
    *doneHead = 0;
    KeInsertQueueDpc(&o->DoneDpc, (PVOID)(ULONG_PTR)o->DoneHead, NULL);
  }
  if ((status & 0x40) && !HcOhciChangeInterrupt(hc)) status &= ~0x40u; /* kept for the next change request */
  if (status & 0x04) { /* start of frame: the deferred procedure frees what waited for it */
    Write(hc, HcInterruptDisable, 0x04);
    KeInsertQueueDpc(&o->CompletionDpc, NULL, NULL);
  }
  Write(hc, HcInterruptStatus, status);
  hc->InterruptCount++;
  return TRUE;
}

static VOID NTAPI DoneQueueDpc(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2) {
  HC_EXTENSION *hc = (HC_EXTENSION *)context;
  KIRQL irql;
  (void)dpc, (void)argument2;
  KeAcquireSpinLock(&hc->u.Ohci.ScheduleLock, &irql);
  ProcessDoneQueue(hc, (ULONG)(ULONG_PTR)argument1);
  KeReleaseSpinLock(&hc->u.Ohci.ScheduleLock, irql);
}

static VOID DeferredCompletion(HC_EXTENSION *hc) {
  HC_OHCI_STATE *o = &hc->u.Ohci;
  KIRQL irql;
  KeAcquireSpinLock(&o->ScheduleLock, &irql);
  ProcessCancels(hc, FALSE);
  FreeRemoved(hc, FALSE);
  if (!IsListEmpty(&o->Cancels) || !IsListEmpty(&o->Removed)) WatchStartOfFrame(hc);
  KeReleaseSpinLock(&o->ScheduleLock, irql);
  HcCompletePending(hc);
}

static VOID Reset(HC_EXTENSION *hc) { ResetController(hc); }

const HC_OPERATIONS HcOhciOperations = {
    .Initialise = Initialise,
    .Stop = Stop,
    .Start = Start,
    .Reset = Reset,
    .FreeSchedule = FreeSchedule,
    .HubStatus = HcOhciHubStatus,
    .PortStatus = HcOhciPortStatus,
    .SetPortFeature = HcOhciSetPortFeature,
    .ClearPortFeature = HcOhciClearPortFeature,
    .HubDescriptor = HcOhciHubDescriptor,
    .ChangePipe = HcOhciChangePipe,
    .ResetPort = HcRootHubResetPort,
    .OpenPipe = OpenPipe,
    .ClosePipe = ClosePipe,
    .UpdatePipe = UpdatePipe,
    .SubmitTransfer = SubmitTransfer,
    .AbortPipe = AbortPipe,
    .ResetPipe = ResetPipe,
    .FrameNumber = FrameNumber,
    .InterruptService = InterruptService,
    .DeferredCompletion = DeferredCompletion,
};
