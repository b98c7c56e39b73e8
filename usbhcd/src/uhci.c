/* usbhcd.sys: the UHCI controller type: initialise, start, stop and the schedule skeleton. */
#include "usbhcd.h"

#define USBCMD 0x00
#define USBSTS 0x02
#define USBINTR 0x04
#define FRNUM 0x06
#define FLBASEADD 0x08

#define USBCMD_RUN 0x0001
#define USBCMD_HCRESET 0x0002
#define USBCMD_GRESET 0x0004
#define USBCMD_MAXP 0x0080
#define USBSTS_HALTED 0x0020

#define UHCI_LEGACY_SUPPORT 0xC0
#define UHCI_LEGACY_VALUE 0xAF00
#define UHCI_LINK_TERMINATE 1
#define UHCI_LINK_QH 2
#define UHCI_LOOKASIDE_SIZE 564
#define UHCI_LOOKASIDE_DEPTH 20

/* The hardware part of a pool block (a queue head or transfer descriptor) starts at the block's
 * first 16-byte boundary: 84-byte blocks are not all aligned. */
#define UHCI_BLOCK_HARDWARE 44

static USHORT Read16(HC_EXTENSION *hc, ULONG offset) { return HcReadPortUshort(hc->Registers + offset); }
static VOID Write16(HC_EXTENSION *hc, ULONG offset, USHORT value) { HcWritePortUshort(hc->Registers + offset, value); }

static PULONG AllocateAligned(HC_EXTENSION *hc, ULONG *physical, PVOID *block) {
  ULONG raw, skip;
  PUCHAR b = (PUCHAR)HcPoolAllocate(hc->DescriptorPool, &raw);
  if (!b) return NULL;
  skip = (16 - (raw & 15)) & 15;
  *physical = raw + skip;
  *block = b;
  return (PULONG)(b + skip);
}

static NTSTATUS CreateSkeleton(HC_EXTENSION *hc) {
  HC_UHCI_STATE *u = &hc->u.Uhci;
  PULONG qh, td, nodes[63];
  ULONG i, qhPhysical, tdPhysical;
  for (i = 0; i < 63; ++i) {
    nodes[i] = AllocateAligned(hc, &u->TreePhysical[i], &u->TreeNodes[i]);
    if (!nodes[i]) return STATUS_INSUFFICIENT_RESOURCES;
    nodes[i][0] = i == 0 ? UHCI_LINK_TERMINATE : (u->TreePhysical[(i - 1) / 2] | UHCI_LINK_QH);
    nodes[i][1] = UHCI_LINK_TERMINATE;
  }
  qh = AllocateAligned(hc, &qhPhysical, &u->ControlQueueHead);
  if (!qh) return STATUS_INSUFFICIENT_RESOURCES;
  td = AllocateAligned(hc, &tdPhysical, &u->ControlTd);
  if (!td) return STATUS_INSUFFICIENT_RESOURCES;
  td[0] = UHCI_LINK_TERMINATE; /* inactive, no buffer */
  td[1] = 0;
  td[2] = 0;
  td[3] = 0;
  qh[0] = UHCI_LINK_TERMINATE;
  qh[1] = tdPhysical;
  nodes[0][0] = qhPhysical | UHCI_LINK_QH;
  {
    static const UCHAR reversal[32] = {0, 16, 8, 24, 4, 20, 12, 28, 2, 18, 10, 26, 6, 22, 14, 30,
                                       1, 17, 9, 25, 5, 21, 13, 29, 3, 19, 11, 27, 7, 23, 15, 31};
    for (i = 0; i < 1024; ++i) u->FrameList[i] = u->TreePhysical[31 + reversal[i % 32]] | UHCI_LINK_QH;
  }
  return STATUS_SUCCESS;
}

static VOID NTAPI CompletionDpc(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2) {
  HC_EXTENSION *hc = (HC_EXTENSION *)context;
  (void)dpc, (void)argument1, (void)argument2;
  if (hc->Ops->DeferredCompletion) hc->Ops->DeferredCompletion(hc);
}

static NTSTATUS Initialise(HC_EXTENSION *hc) {
  HC_UHCI_STATE *u = &hc->u.Uhci;
  USHORT legacy = UHCI_LEGACY_VALUE;

  u->LegacySupport = 0;
  HalGetBusDataByOffset(PCIConfiguration, hc->Bus, hc->Slot, &u->LegacySupport, UHCI_LEGACY_SUPPORT, 2);
  HalSetBusDataByOffset(PCIConfiguration, hc->Bus, hc->Slot, &legacy, UHCI_LEGACY_SUPPORT, 2);
  u->LegacySaved = TRUE;

  Write16(hc, USBCMD, Read16(hc, USBCMD) | USBCMD_GRESET);
  HcDelayMilliseconds(60);
  Write16(hc, USBCMD, Read16(hc, USBCMD) & ~USBCMD_GRESET);
  Write16(hc, USBCMD, USBCMD_MAXP);

  u->FrameList = (PULONG)HalAllocateCommonBuffer(hc->Adapter, HC_PAGE_SIZE, &u->FrameListPhysical, FALSE);
  if (!u->FrameList) return STATUS_INSUFFICIENT_RESOURCES;
  RtlZeroMemory(u->FrameList, HC_PAGE_SIZE);
  HcWritePortUlong(hc->Registers + FLBASEADD, u->FrameListPhysical.LowPart);

  ExInitializeNPagedLookasideList(&u->Lookaside, NULL, NULL, 0, UHCI_LOOKASIDE_SIZE, HC_LOOKASIDE_TAG,
                                  UHCI_LOOKASIDE_DEPTH);
  u->LookasideReady = TRUE;
  hc->DescriptorPool = HcPoolCreate(hc->Adapter, 256, UHCI_BLOCK_HARDWARE, 2048, 84);
  if (!hc->DescriptorPool) return STATUS_INSUFFICIENT_RESOURCES;
  if (!NT_SUCCESS(CreateSkeleton(hc))) return STATUS_INSUFFICIENT_RESOURCES;
  u->ExtraPool = HcPoolCreate(hc->Adapter, 0, 64, 1024, 96);
  if (!u->ExtraPool) return STATUS_INSUFFICIENT_RESOURCES;
  u->IsoExtraPool = HcPoolCreate(hc->Adapter, 0, 1023, 384, 1056);
  if (!u->IsoExtraPool) return STATUS_INSUFFICIENT_RESOURCES;
  KeInitializeSpinLock(&u->ScheduleLock);
  InitializeListHead(&u->AsyncPipes);
  InitializeListHead(&u->ActivePipes);
  InitializeListHead(&u->Retiring);
  InitializeListHead(&u->ClosedPipes);
  u->Reclaim = 0;
  u->LastFrame = 0;
  KeInitializeDpc(&u->CompletionDpc, CompletionDpc, hc);
  KeInitializeDpc(&u->IsrDpc, CompletionDpc, hc);
  HcUhciRootHubInitialise(hc);
  u->DpcsReady = TRUE;
  return STATUS_SUCCESS;
}

static VOID Start(HC_EXTENSION *hc) {
  Write16(hc, USBINTR, 15);
  Write16(hc, USBCMD, Read16(hc, USBCMD) | USBCMD_RUN);
}

/* Stop resets the controller: halted first, then the host-controller reset. */
static VOID Stop(HC_EXTENSION *hc) {
  ULONG poll;
  Write16(hc, USBCMD, Read16(hc, USBCMD) & ~USBCMD_RUN);
  for (poll = 0; poll < 100 && !(Read16(hc, USBSTS) & USBSTS_HALTED); ++poll) KeStallExecutionProcessor(100);
  Write16(hc, USBINTR, 0);
  Write16(hc, USBCMD, USBCMD_HCRESET);
  for (poll = 0; poll < 100 && (Read16(hc, USBCMD) & USBCMD_HCRESET); ++poll) KeStallExecutionProcessor(100);
}

static VOID FreeRetired(HC_EXTENSION *hc, BOOLEAN all);

static VOID FreeSchedule(HC_EXTENSION *hc) {
  HC_UHCI_STATE *u = &hc->u.Uhci;
  ULONG i;
  if (u->DpcsReady) FreeRetired(hc, TRUE); /* nothing is left waiting: the controller is stopped */
  if (u->DpcsReady) {
    KeCancelTimer(&u->Timer);
    for (i = 0; i < 2; ++i) KeCancelTimer(&u->PortTimer[i]);
    KeRemoveQueueDpc(&u->CompletionDpc);
    KeRemoveQueueDpc(&u->IsrDpc);
    KeRemoveQueueDpc(&u->ChangeDpc);
    for (i = 0; i < 2; ++i) KeRemoveQueueDpc(&u->PortDpc[i]);
  }
  u->DpcsReady = FALSE;
  for (i = 0; i < 63; ++i) {
    if (u->TreeNodes[i]) HcPoolFree(hc->DescriptorPool, u->TreeNodes[i]);
    u->TreeNodes[i] = NULL;
  }
  if (u->ControlQueueHead) HcPoolFree(hc->DescriptorPool, u->ControlQueueHead);
  if (u->ControlTd) HcPoolFree(hc->DescriptorPool, u->ControlTd);
  u->ControlQueueHead = u->ControlTd = NULL;
  if (u->FrameList) HalFreeCommonBuffer(hc->Adapter, HC_PAGE_SIZE, u->FrameListPhysical, u->FrameList, FALSE);
  u->FrameList = NULL;
  /* The legacy-support register goes back to what the firmware had set. */
  if (u->LegacySaved)
    HalSetBusDataByOffset(PCIConfiguration, hc->Bus, hc->Slot, &u->LegacySupport, UHCI_LEGACY_SUPPORT, 2);
  u->LegacySaved = FALSE;
  HcPoolDestroy(u->ExtraPool);
  u->ExtraPool = NULL;
  HcPoolDestroy(u->IsoExtraPool);
  u->IsoExtraPool = NULL;
  if (u->LookasideReady) ExDeleteNPagedLookasideList(&u->Lookaside);
  u->LookasideReady = FALSE;
}

/* ------------------------------------------------------------------------------------------- */
/* Pipes and transfers
 *
 * Every pipe with a schedule entry has a queue head: control and bulk queue heads hang in a chain
 * after the control queue head, interrupt queue heads at one node of the interrupt tree. A pipe
 * has one transfer on the hardware at a time; its descriptors are built in batches, and the
 * queued transfers follow it in order. The interrupt routine only acknowledges: the completion
 * checks run in the deferred procedure under the schedule lock, because building and freeing
 * descriptors takes pool spin locks, which cannot be taken at the device's IRQL. */

#define TD_ACTIVE (1u << 23)
#define TD_STALLED (1u << 22)
#define TD_BUFFER_ERROR (1u << 21)
#define TD_BABBLE (1u << 20)
#define TD_TIMEOUT (1u << 18)
#define TD_BITSTUFF (1u << 17)
#define TD_IOC (1u << 24)
#define TD_ISO (1u << 25)
#define TD_LOW_SPEED (1u << 26)
#define TD_ERRORS (TD_STALLED | TD_BUFFER_ERROR | TD_BABBLE | TD_TIMEOUT | TD_BITSTUFF)
#define TD_SPD (1u << 29)
#define TD_THREE_ERRORS (3u << 27)
#define TD_TOGGLE (1u << 19)
#define TD_DEPTH_FIRST 4
#define PID_SETUP 0x2D
#define PID_IN 0x69
#define PID_OUT 0xE1
#define BATCH_LIMIT 128
#define UHCI_PIPE_TAG HC_TAG('U', 'q', 'h', ' ')

#define ST_SUCCESS 0x00000000u
#define ST_PENDING 0x40000000u
#define ST_NO_MEMORY 0x80000100u
#define ST_INVALID_PARAMETER 0x80000300u
#define ST_SHORT 0x80000900u
#define ST_CANCELLED 0x00010000u
#define ST_NOT_ACCESSED 0xC000000Fu
#define ST_BAD_START_FRAME 0xC0000A00u

typedef struct {
  LIST_ENTRY AsyncLink;  /* in the controller's chain of control and bulk queue heads */
  LIST_ENTRY ActiveLink; /* on the controller's active list while a transfer is on the hardware */
  PVOID QhBlock;
  PULONG Qh;
  ULONG QhPhysical;
  ULONG Toggle; /* the next data descriptor's toggle (bit 19 of the token) */
  LONG Node;    /* interrupt pipes: the tree node the queue head hangs at */
  ULONG Bandwidth;
  HC_TRANSFER *Active;
  HC_PIPE *Pipe;
  ULONG NextFrame; /* isochronous: the frame after the last one queued */
  ULONG Draining;  /* cancelled transfers not yet freed: none starts meanwhile */
  BOOLEAN Closed;
  ULONG ClosedFrame;
} UHCI_PIPE;

static PULONG Hardware(HC_EXTENSION *hc, PVOID block, ULONG *physical) {
  ULONG raw = HcPoolBlockPhysical(hc->DescriptorPool, block), skip = (16 - (raw & 15)) & 15;
  if (physical) *physical = raw + skip;
  return (PULONG)((PUCHAR)block + skip);
}

static BOOLEAN IsReclaimed(HC_PIPE *pipe) {
  return (pipe->Type == 0 || pipe->Type == 2) && !(pipe->Flags & HC_PIPE_LOW_SPEED);
}

/* The chain: control queue head, then every control and bulk pipe's queue head; the last links
 * back to the control queue head while full-speed control or bulk transfers are queued. */
static VOID RelinkAsync(HC_EXTENSION *hc) {
  HC_UHCI_STATE *u = &hc->u.Uhci;
  ULONG controlPhysical;
  PULONG control = Hardware(hc, u->ControlQueueHead, &controlPhysical), previous = control;
  PLIST_ENTRY e;
  for (e = u->AsyncPipes.Flink; e != &u->AsyncPipes; e = e->Flink) {
    UHCI_PIPE *up = CONTAINING_RECORD(e, UHCI_PIPE, AsyncLink);
    previous[0] = up->QhPhysical | UHCI_LINK_QH;
    previous = up->Qh;
  }
  previous[0] = u->Reclaim > 0 ? (controlPhysical | UHCI_LINK_QH) : UHCI_LINK_TERMINATE;
}

static ULONG PathLoad(HC_UHCI_STATE *u, ULONG node) {
  ULONG load = 0;
  for (;;) {
    load += u->NodeBandwidth[node];
    if (node == 0) return load;
    node = (node - 1) / 2;
  }
}

static NTSTATUS OpenPipe(HC_EXTENSION *hc, HC_PIPE *pipe) {
  HC_UHCI_STATE *u = &hc->u.Uhci;
  UHCI_PIPE *up = (UHCI_PIPE *)ExAllocatePoolWithTag(NonPagedPool, sizeof(*up), UHCI_PIPE_TAG);
  KIRQL irql;
  if (!up) return STATUS_INSUFFICIENT_RESOURCES;
  RtlZeroMemory(up, sizeof(*up));
  up->Node = -1;
  up->Pipe = pipe;
  InitializeListHead(&up->ActiveLink);
  InitializeListHead(&up->AsyncLink);
  if (pipe->Type != 1) {
    up->QhBlock = HcPoolAllocate(hc->DescriptorPool, NULL);
    if (!up->QhBlock) {
      ExFreePool(up);
      return STATUS_INSUFFICIENT_RESOURCES;
    }
    up->Qh = Hardware(hc, up->QhBlock, &up->QhPhysical);
    up->Qh[0] = UHCI_LINK_TERMINATE;
    up->Qh[1] = UHCI_LINK_TERMINATE;
  }
  pipe->Hardware = up;
  KeAcquireSpinLock(&u->ScheduleLock, &irql);
  if (pipe->Type == 0 || pipe->Type == 2) {
    InsertTailList(&u->AsyncPipes, &up->AsyncLink);
    RelinkAsync(hc);
  } else if (pipe->Type == 3) {
    /* The node of level P whose path to the root carries the least interrupt bandwidth. */
    ULONG node, best = pipe->Polling, bestLoad = 0xFFFFFFFF;
    PULONG nodeQh;
    for (node = pipe->Polling; node <= 2 * pipe->Polling; ++node) {
      ULONG load = PathLoad(u, node);
      if (load < bestLoad) best = node, bestLoad = load;
      if (load == 0) break;
    }
    up->Node = (LONG)best;
    up->Bandwidth = (pipe->Endpoint[4] | (pipe->Endpoint[5] & 7) << 8) + 13;
    if (pipe->Flags & HC_PIPE_LOW_SPEED) up->Bandwidth *= 8; /* a low-speed transaction takes eight times as long */
    u->NodeBandwidth[best] += up->Bandwidth;
    nodeQh = Hardware(hc, u->TreeNodes[best], NULL);
    up->Qh[0] = nodeQh[0];
    nodeQh[0] = up->QhPhysical | UHCI_LINK_QH;
  }
  KeReleaseSpinLock(&u->ScheduleLock, irql);
  return STATUS_SUCCESS;
}

static VOID FreeBatch(HC_EXTENSION *hc, HC_TRANSFER *t) {
  ULONG i;
  for (i = 0; i < t->BatchCount; ++i) {
    if (t->Td[i]) HcPoolFree(hc->DescriptorPool, t->Td[i]);
    if (t->Extra[i]) HcPoolFree(hc->u.Uhci.ExtraPool, t->Extra[i]);
    t->Td[i] = t->Extra[i] = NULL;
  }
  t->BatchCount = 0;
  t->Checked = 0;
}

static ULONG MaximumPacket(HC_PIPE *pipe) { return (pipe->Endpoint[4] | pipe->Endpoint[5] << 8) & 0x7FF; }

/* One descriptor of packet k of the transfer. */
static BOOLEAN FillTd(HC_EXTENSION *hc, HC_TRANSFER *t, ULONG k, ULONG slot, PULONG td, ULONG tdPhysical) {
  HC_PIPE *pipe = t->Pipe;
  UHCI_PIPE *up = (UHCI_PIPE *)pipe->Hardware;
  ULONG maximum = MaximumPacket(pipe), control = TD_THREE_ERRORS | TD_ACTIVE, pid, toggle, length = 0;
  ULONG token = (pipe->Address & 0x7F) << 8 | (ULONG)(pipe->Endpoint[2] & 0x0F) << 15;
  BOOLEAN in, data = TRUE;
  if (pipe->Flags & HC_PIPE_LOW_SPEED) control |= TD_LOW_SPEED;
  td[3] = 0;
  if (pipe->Type == 0) {
    in = (t->Flags & USBD_TRANSFER_DIRECTION_IN) != 0;
    if (k == 0) { /* setup: DATA0, the 8-byte packet copied beside the descriptor */
      RtlCopyMemory(td + 4, t->Urb->UrbControlTransfer.SetupPacket, 8);
      td[1] = control;
      td[2] = token | PID_SETUP | (7u << 21);
      td[3] = tdPhysical + 16;
      return TRUE;
    }
    if (k == t->Packets - 1) { /* status: DATA1, no data, the opposite direction */
      td[1] = control;
      td[2] = token | ((in && t->Length) ? PID_OUT : PID_IN) | TD_TOGGLE | (0x7FFu << 21);
      return TRUE;
    }
    pid = in ? PID_IN : PID_OUT;
    toggle = ((k - 1) & 1) ? 0 : TD_TOGGLE;
  } else {
    in = (pipe->Flags & HC_PIPE_IN) != 0;
    pid = in ? PID_IN : PID_OUT;
    toggle = up->Toggle;
    up->Toggle ^= TD_TOGGLE;
    if (!t->Length) data = FALSE;
  }
  if (in) control |= TD_SPD;
  if (data) {
    ULONG offset = (k - t->DataStart) * maximum;
    PUCHAR va = t->Buffer + offset;
    length = t->Length - offset < maximum ? t->Length - offset : maximum;
    if (((ULONG_PTR)va & (HC_PAGE_SIZE - 1)) + length > HC_PAGE_SIZE) {
      /* The packet runs past its page: it goes through an extra block. */
      ULONG extraPhysical;
      PVOID extra = HcPoolAllocate(hc->u.Uhci.ExtraPool, &extraPhysical);
      if (!extra) return FALSE;
      if (!in) RtlCopyMemory(extra, va, length);
      t->Extra[slot] = extra;
      td[3] = extraPhysical;
    } else {
      td[3] = MmGetPhysicalAddress(va).LowPart;
    }
  }
  td[1] = control;
  td[2] = token | pid | toggle | (((length ? length : 0x800) - 1) & 0x7FF) << 21;
  return TRUE;
}

/* The next batch of at most 128 descriptors (a batch of exactly 128 is cut to 64), chained depth
 * first; the last asks for an interrupt and ends the chain; the queue head points at the first. */
static BOOLEAN BuildBatch(HC_EXTENSION *hc, HC_TRANSFER *t) {
  UHCI_PIPE *up = (UHCI_PIPE *)t->Pipe->Hardware;
  ULONG remaining = t->Packets - t->FirstPacket, count, i, firstPhysical = 0, savedToggle = up->Toggle;
  PULONG previous = NULL;
  count = remaining > BATCH_LIMIT ? BATCH_LIMIT : remaining;
  if (count == BATCH_LIMIT && remaining == BATCH_LIMIT) count = BATCH_LIMIT / 2;
  for (i = 0; i < count; ++i) {
    ULONG physical;
    PULONG td;
    t->Td[i] = HcPoolAllocate(hc->DescriptorPool, NULL);
    t->BatchCount = i + 1;
    if (!t->Td[i]) break;
    td = Hardware(hc, t->Td[i], &physical);
    if (!FillTd(hc, t, t->FirstPacket + i, i, td, physical)) break;
    td[0] = UHCI_LINK_TERMINATE;
    if (previous)
      previous[0] = physical | TD_DEPTH_FIRST;
    else
      firstPhysical = physical;
    previous = td;
  }
  if (i < count) {
    FreeBatch(hc, t);
    up->Toggle = savedToggle;
    return FALSE;
  }
  previous[1] |= TD_IOC;
  t->Checked = 0;
  up->Qh[1] = firstPhysical;
  return TRUE;
}

static VOID StartNext(HC_EXTENSION *hc, HC_PIPE *pipe);

/* The transfer leaves the hardware: descriptors freed, the queue head emptied, the pipe halted
 * on an error (not a control pipe), and the pipe's next transfer started. */
static VOID Finish(HC_EXTENSION *hc, HC_TRANSFER *t, USBD_STATUS status, BOOLEAN startNext) {
  HC_PIPE *pipe = t->Pipe;
  UHCI_PIPE *up = (UHCI_PIPE *)pipe->Hardware;
  up->Qh[1] = UHCI_LINK_TERMINATE;
  FreeBatch(hc, t);
  if (up->Active == t) {
    up->Active = NULL;
    RemoveEntryList(&up->ActiveLink);
    InitializeListHead(&up->ActiveLink);
    if (IsReclaimed(pipe) && --hc->u.Uhci.Reclaim == 0) RelinkAsync(hc);
  }
  if ((ULONG)status >= 0xC0000000u && pipe->Type != 0) pipe->Flags |= HC_PIPE_HALTED;
  HcFinishTransfer(hc, t, status);
  if (startNext && !(pipe->Flags & HC_PIPE_HALTED)) StartNext(hc, pipe);
}

static VOID StartNext(HC_EXTENSION *hc, HC_PIPE *pipe) {
  UHCI_PIPE *up = (UHCI_PIPE *)pipe->Hardware;
  HC_TRANSFER *t;
  if (up->Active || up->Draining || IsListEmpty(&pipe->Transfers)) return;
  t = CONTAINING_RECORD(pipe->Transfers.Flink, HC_TRANSFER, Link);
  up->Active = t;
  InsertTailList(&hc->u.Uhci.ActivePipes, &up->ActiveLink);
  if (IsReclaimed(pipe) && hc->u.Uhci.Reclaim++ == 0) RelinkAsync(hc);
  t->FirstPacket = 0;
  if (!BuildBatch(hc, t)) Finish(hc, t, ST_NO_MEMORY, TRUE);
}

static USBD_STATUS ErrorStatus(ULONG control, ULONG pid) {
  if (control & TD_TIMEOUT) return 0xC0000005u;                                    /* device not responding */
  if (control & TD_BABBLE) return 0xC0000012u;                                     /* data overrun */
  if (control & TD_BUFFER_ERROR) return pid == PID_IN ? 0xC000000Cu : 0xC000000Du; /* buffer over/underrun */
  if (control & TD_BITSTUFF) return 0xC0000002u;
  return 0xC0000004u; /* stall PID */
}

/* The completion check of a pipe's transfer on the hardware. */
static VOID Check(HC_EXTENSION *hc, HC_TRANSFER *t) {
  HC_PIPE *pipe = t->Pipe;
  UHCI_PIPE *up = (UHCI_PIPE *)pipe->Hardware;
  for (;;) {
    ULONG i;
    BOOLEAN restarted = FALSE;
    for (i = t->Checked; i < t->BatchCount; ++i) {
      PULONG td = Hardware(hc, t->Td[i], NULL);
      ULONG control = td[1], token = td[2], k = t->FirstPacket + i, pid = token & 0xFF;
      ULONG actual = (control + 1) & 0x7FF, maximum = ((token >> 21) + 1) & 0x7FF;
      if (control & TD_ACTIVE) return;
      t->Checked = i + 1;
      if (pid != PID_SETUP && !(control & TD_STALLED)) {
        if (t->Extra[i] && pid == PID_IN && actual)
          RtlCopyMemory(t->Buffer + (k - t->DataStart) * MaximumPacket(pipe), t->Extra[i], actual);
        t->Moved += actual;
      }
      if (control & TD_STALLED) {
        Finish(hc, t, ErrorStatus(control, pid), TRUE);
        return;
      }
      if (pipe->Type != 0) up->Toggle = (token & TD_TOGGLE) ^ TD_TOGGLE;
      if (actual != maximum) {
        if (pid != PID_IN) {
          Finish(hc, t, 0xC000000Du, TRUE);
          return;
        }
        if (pipe->Type == 0 && k != t->Packets - 1) {
          /* A short data stage goes on to the status stage. */
          FreeBatch(hc, t);
          t->FirstPacket = t->Packets - 1;
          if (!BuildBatch(hc, t)) {
            Finish(hc, t, ST_NO_MEMORY, TRUE);
            return;
          }
          restarted = TRUE;
          break;
        }
        Finish(hc, t, (t->Flags & USBD_SHORT_TRANSFER_OK) ? ST_SUCCESS : ST_SHORT, TRUE);
        return;
      }
    }
    if (restarted) continue; /* the status stage's batch */
    t->FirstPacket += t->BatchCount;
    FreeBatch(hc, t);
    if (t->FirstPacket >= t->Packets) {
      Finish(hc, t, ST_SUCCESS, TRUE);
      return;
    }
    if (!BuildBatch(hc, t)) {
      Finish(hc, t, ST_NO_MEMORY, TRUE);
      return;
    }
  }
}

/* ------------------------------------------------------------------------------------------- */
/* Isochronous transfers
 *
 * One isochronous descriptor per packet, linked straight into the frame-list entry of its frame
 * ahead of the interrupt tree's leaf (and of the descriptors of other streams already there), so
 * the controller runs it in that frame only: no retries, no toggle, the actual length written
 * back. A pipe's transfers are all on the hardware at once, each starting at the URB's frame or
 * right after the pipe's last queued one. A transfer finishes when its last packet's frame has
 * passed: every packet's status and length come from its descriptor (one still active was not
 * sent: not accessed), and the descriptors are taken out of their entries, when the interrupt
 * routine has not reset those already, before they are freed. */

/* The 11-bit frame counter extended to 32 bits. */
static ULONG ExtendFrame(HC_EXTENSION *hc) {
  HC_UHCI_STATE *u = &hc->u.Uhci;
  ULONG now = Read16(hc, FRNUM) & 0x7FF, frame = (u->LastFrame & ~0x7FFu) | now;
  if (frame < u->LastFrame) frame += 0x800;
  return frame;
}

typedef struct {
  HC_EXTENSION *Hc;
  HC_TRANSFER *Transfer;
} ISO_CONTEXT;

/* Packet k's buffer: its offset, and its length up to the next packet's offset. */
static ULONG IsoLength(HC_TRANSFER *t, ULONG k) {
  struct _URB_ISOCH_TRANSFER *x = &t->Urb->UrbIsochronousTransfer;
  ULONG end = k + 1 < x->NumberOfPackets ? x->IsoPacket[k + 1].Offset : t->Length;
  return end - x->IsoPacket[k].Offset;
}

static BOOLEAN NTAPI LinkIsochronous(PVOID context) {
  ISO_CONTEXT *c = (ISO_CONTEXT *)context;
  HC_TRANSFER *t = c->Transfer;
  PULONG frameList = c->Hc->u.Uhci.FrameList;
  ULONG k;
  for (k = 0; k < t->Urb->UrbIsochronousTransfer.NumberOfPackets; ++k) {
    ULONG physical, *entry = &frameList[(t->IsoStart + k) % 1024];
    PULONG td;
    if (!t->IsoBlocks[2 * k]) continue;
    td = Hardware(c->Hc, t->IsoBlocks[2 * k], &physical);
    td[0] = *entry;
    *entry = physical;
  }
  return TRUE;
}

/* Each descriptor still in its frame's chain is taken out of it. */
static BOOLEAN NTAPI UnlinkIsochronous(PVOID context) {
  ISO_CONTEXT *c = (ISO_CONTEXT *)context;
  HC_EXTENSION *hc = c->Hc;
  HC_TRANSFER *t = c->Transfer;
  ULONG k;
  for (k = 0; k < t->Urb->UrbIsochronousTransfer.NumberOfPackets; ++k) {
    ULONG physical, *at = &hc->u.Uhci.FrameList[(t->IsoStart + k) % 1024];
    PULONG td;
    if (!t->IsoBlocks[2 * k]) continue;
    td = Hardware(hc, t->IsoBlocks[2 * k], &physical);
    while (!(*at & (UHCI_LINK_TERMINATE | UHCI_LINK_QH))) {
      if ((*at & ~0xFu) == physical) {
        *at = td[0];
        break;
      }
      at = (PULONG)HcPoolFindPhysical(hc->DescriptorPool, *at & ~0xFu);
      if (!at) break;
    }
  }
  return TRUE;
}

static VOID FreeIsochronous(HC_EXTENSION *hc, HC_TRANSFER *t) {
  ULONG k;
  if (!t->IsoBlocks) return;
  for (k = 0; k < t->Urb->UrbIsochronousTransfer.NumberOfPackets; ++k) {
    if (t->IsoBlocks[2 * k]) HcPoolFree(hc->DescriptorPool, t->IsoBlocks[2 * k]);
    if (t->IsoBlocks[2 * k + 1]) HcPoolFree(hc->u.Uhci.IsoExtraPool, t->IsoBlocks[2 * k + 1]);
  }
  ExFreePool(t->IsoBlocks);
  t->IsoBlocks = NULL;
}

/* The pipe leaves the active list when its last transfer has gone. */
static VOID IsochronousIdle(HC_PIPE *pipe) {
  UHCI_PIPE *up = (UHCI_PIPE *)pipe->Hardware;
  if (IsListEmpty(&pipe->Transfers) && !IsListEmpty(&up->ActiveLink)) {
    RemoveEntryList(&up->ActiveLink);
    InitializeListHead(&up->ActiveLink);
  }
}

/* The transfer leaves the schedule: its packets' results into the URB (unless cancelled). */
static VOID RetireIsochronous(HC_EXTENSION *hc, HC_TRANSFER *t, USBD_STATUS status) {
  struct _URB_ISOCH_TRANSFER *x = &t->Urb->UrbIsochronousTransfer;
  BOOLEAN in = (t->Pipe->Flags & HC_PIPE_IN) != 0;
  ISO_CONTEXT c;
  ULONG k;
  c.Hc = hc;
  c.Transfer = t;
  HcSynchronize(hc, UnlinkIsochronous, &c);
  for (k = 0; k < x->NumberOfPackets && status == ST_SUCCESS; ++k) {
    PUSBD_ISO_PACKET_DESCRIPTOR p = &x->IsoPacket[k];
    ULONG requested = IsoLength(t, k), actual = 0;
    USBD_STATUS result = ST_NOT_ACCESSED;
    if (t->IsoBlocks[2 * k]) {
      PULONG td = Hardware(hc, t->IsoBlocks[2 * k], NULL);
      ULONG control = td[1];
      if (control & TD_ERRORS) {
        result = ErrorStatus(control, in ? PID_IN : PID_OUT);
      } else if (!(control & TD_ACTIVE)) {
        actual = (control + 1) & 0x7FF;
        result = (in && actual < requested && !(t->Flags & USBD_SHORT_TRANSFER_OK)) ? ST_SHORT : ST_SUCCESS;
        if (in && t->IsoBlocks[2 * k + 1] && actual)
          RtlCopyMemory(t->Buffer + p->Offset, t->IsoBlocks[2 * k + 1], actual);
      }
    }
    if (in) {
      p->Length = (ULONG)result < 0xC0000000u ? actual : 0;
      t->Moved += p->Length;
    } else {
      if (result == ST_SUCCESS) t->Moved += requested;
      p->Length = 0;
    }
    p->Status = result;
    if (result != ST_SUCCESS) x->ErrorCount++;
  }
  FreeIsochronous(hc, t);
  HcFinishTransfer(hc, t, status);
}

/* The pipe's transfers whose last frame has passed finish, oldest first. */
static VOID CheckIsochronous(HC_EXTENSION *hc, HC_PIPE *pipe, ULONG now) {
  PLIST_ENTRY e = pipe->Transfers.Flink;
  while (e != &pipe->Transfers) {
    HC_TRANSFER *t = CONTAINING_RECORD(e, HC_TRANSFER, Link);
    ULONG last = t->IsoStart + t->Urb->UrbIsochronousTransfer.NumberOfPackets - 1;
    e = e->Flink;
    if (t->Retiring) continue;
    if ((LONG)(now - last) <= 0) break;
    RetireIsochronous(hc, t, ST_SUCCESS);
  }
  IsochronousIdle(pipe);
}

static USBD_STATUS SubmitIsochronous(HC_EXTENSION *hc, HC_TRANSFER *t) {
  HC_UHCI_STATE *u = &hc->u.Uhci;
  HC_PIPE *pipe = t->Pipe;
  UHCI_PIPE *up = (UHCI_PIPE *)pipe->Hardware;
  struct _URB_ISOCH_TRANSFER *x = &t->Urb->UrbIsochronousTransfer;
  ULONG maximum = MaximumPacket(pipe), packets, k, now, frame;
  ULONG token = (pipe->Address & 0x7F) << 8 | (ULONG)(pipe->Endpoint[2] & 0x0F) << 15;
  BOOLEAN in = (pipe->Flags & HC_PIPE_IN) != 0;
  ISO_CONTEXT c;
  KIRQL irql;
  if (!HcIsochronousPacketsValid(t, maximum)) return ST_INVALID_PARAMETER;
  packets = x->NumberOfPackets;
  t->IsoBlocks = (PVOID *)ExAllocatePoolWithTag(NonPagedPool, 2 * packets * sizeof(PVOID), HC_TRANSFER_TAG);
  if (!t->IsoBlocks) return ST_NO_MEMORY;
  RtlZeroMemory(t->IsoBlocks, 2 * packets * sizeof(PVOID));
  KeAcquireSpinLock(&u->ScheduleLock, &irql);
  now = ExtendFrame(hc);
  frame = HcIsochronousStartFrame(t, up->NextFrame, now);
  if ((LONG)(frame + packets - 1 - now) >= 1024) { /* beyond what the frame list reaches */
    KeReleaseSpinLock(&u->ScheduleLock, irql);
    FreeIsochronous(hc, t);
    return ST_BAD_START_FRAME;
  }
  x->StartFrame = frame;
  x->ErrorCount = 0;
  t->IsoStart = frame;
  for (k = 0; k < packets; ++k) {
    ULONG physical, length = IsoLength(t, k);
    PUCHAR va = t->Buffer + x->IsoPacket[k].Offset;
    PULONG td;
    if ((LONG)(frame + k - now) <= 0) continue; /* its frame has begun or passed: never sent */
    t->IsoBlocks[2 * k] = HcPoolAllocate(hc->DescriptorPool, NULL);
    if (!t->IsoBlocks[2 * k]) break;
    td = Hardware(hc, t->IsoBlocks[2 * k], &physical);
    td[3] = 0;
    if (length && ((ULONG_PTR)va & (HC_PAGE_SIZE - 1)) + length > HC_PAGE_SIZE) {
      ULONG extraPhysical;
      PVOID extra = HcPoolAllocate(u->IsoExtraPool, &extraPhysical);
      if (!extra) break;
      if (!in) RtlCopyMemory(extra, va, length);
      t->IsoBlocks[2 * k + 1] = extra;
      td[3] = extraPhysical;
    } else if (length) {
      td[3] = MmGetPhysicalAddress(va).LowPart;
    }
    td[1] = TD_ACTIVE | TD_ISO | (k + 1 == packets ? TD_IOC : 0);
    td[2] = token | (in ? PID_IN : PID_OUT) | (((length ? length : 0x800) - 1) & 0x7FF) << 21;
  }
  if (k < packets) {
    KeReleaseSpinLock(&u->ScheduleLock, irql);
    FreeIsochronous(hc, t);
    return ST_NO_MEMORY;
  }
  c.Hc = hc;
  c.Transfer = t;
  HcSynchronize(hc, LinkIsochronous, &c);
  up->NextFrame = frame + packets;
  InsertTailList(&pipe->Transfers, &t->Link);
  if (IsListEmpty(&up->ActiveLink)) InsertTailList(&u->ActivePipes, &up->ActiveLink);
  KeReleaseSpinLock(&u->ScheduleLock, irql);
  KeInsertQueueDpc(&u->CompletionDpc, NULL, NULL); /* a transfer whose frames have all passed */
  return ST_PENDING;
}

static USBD_STATUS SubmitTransfer(HC_EXTENSION *hc, HC_TRANSFER *t) {
  HC_PIPE *pipe = t->Pipe;
  ULONG maximum = MaximumPacket(pipe), data;
  KIRQL irql;
  if (pipe->Type == 1) return SubmitIsochronous(hc, t);
  if (!maximum) return ST_INVALID_PARAMETER;
  data = (t->Length + maximum - 1) / maximum;
  if (pipe->Type == 0) {
    t->Packets = data + 2;
    t->DataStart = 1;
  } else {
    t->Packets = data ? data : 1;
    t->DataStart = 0;
  }
  KeAcquireSpinLock(&hc->u.Uhci.ScheduleLock, &irql);
  InsertTailList(&pipe->Transfers, &t->Link);
  StartNext(hc, pipe);
  KeReleaseSpinLock(&hc->u.Uhci.ScheduleLock, irql);
  KeInsertQueueDpc(&hc->u.Uhci.CompletionDpc, NULL, NULL); /* a transfer that failed to start */
  return ST_PENDING;
}

/* ------------------------------------------------------------------------------------------- */
/* Removal
 *
 * The controller may be in the middle of a transaction of a descriptor when the driver takes it
 * off the schedule: it finishes it from what it fetched, writes its status back and the link
 * into the queue head's element. So a cancelled transfer's descriptors are made inactive (the
 * controller runs no further one) and taken out of the queue head or the frame list at once, but
 * freed, and the transfer completed, only when the frame number has moved past the frame of the
 * removal; the pipe starts no other transfer meanwhile. A closed pipe's queue head (and its
 * record) waits in the same way. The completion deferred procedure frees what has waited long
 * enough, and a timer brings it back while anything waits. A stopped controller holds nothing:
 * everything goes at once. */

/* Descriptors not yet run are made inactive with the null actual length, which a descriptor the
 * controller completes afterwards (the one in flight) no longer has unless it moved nothing. */
static VOID Deactivate(HC_EXTENSION *hc, HC_TRANSFER *t) {
  ULONG i;
  for (i = t->Checked; i < t->BatchCount; ++i) {
    PULONG td = t->Td[i] ? Hardware(hc, t->Td[i], NULL) : NULL;
    if (td && (td[1] & TD_ACTIVE)) td[1] = (td[1] & ~TD_ACTIVE) | 0x7FF;
  }
  if (t->IsoBlocks) {
    ISO_CONTEXT c;
    c.Hc = hc;
    c.Transfer = t;
    for (i = 0; i < t->Urb->UrbIsochronousTransfer.NumberOfPackets; ++i)
      if (t->IsoBlocks[2 * i]) Hardware(hc, t->IsoBlocks[2 * i], NULL)[1] &= ~TD_ACTIVE;
    HcSynchronize(hc, UnlinkIsochronous, &c);
  }
}

static VOID StartRetiring(HC_EXTENSION *hc, HC_TRANSFER *t, ULONG now) {
  UHCI_PIPE *up = (UHCI_PIPE *)t->Pipe->Hardware;
  Deactivate(hc, t);
  t->Retiring = TRUE;
  t->RetireFrame = now;
  InsertTailList(&hc->u.Uhci.Retiring, &t->RetireLink);
  up->Draining++;
}

/* Frees what the controller can no longer hold (everything when all is set); called under the
 * schedule lock. */
static VOID FreeRetired(HC_EXTENSION *hc, BOOLEAN all) {
  HC_UHCI_STATE *u = &hc->u.Uhci;
  ULONG now = ExtendFrame(hc);
  PLIST_ENTRY e;
  if (hc->State & HC_STATE_STOPPING) all = TRUE;
  for (e = u->Retiring.Flink; e != &u->Retiring;) {
    HC_TRANSFER *t = CONTAINING_RECORD(e, HC_TRANSFER, RetireLink);
    HC_PIPE *pipe = t->Pipe;
    UHCI_PIPE *up = (UHCI_PIPE *)pipe->Hardware;
    e = e->Flink;
    if (!all && (LONG)(now - t->RetireFrame) <= 0) continue;
    RemoveEntryList(&t->RetireLink);
    if (pipe->Type == 1) {
      RetireIsochronous(hc, t, ST_CANCELLED);
    } else {
      /* What the descriptors not yet checked moved is the caller's: copied back, counted, and the
       * toggle follows it. */
      ULONG i;
      for (i = t->Checked; i < t->BatchCount; ++i) {
        PULONG td = Hardware(hc, t->Td[i], NULL);
        ULONG control = td[1], token = td[2], actual = (control + 1) & 0x7FF, k = t->FirstPacket + i;
        if ((control & (TD_ACTIVE | TD_STALLED)) || !actual || (token & 0xFF) == PID_SETUP) continue;
        if (t->Extra[i] && (token & 0xFF) == PID_IN)
          RtlCopyMemory(t->Buffer + (k - t->DataStart) * MaximumPacket(pipe), t->Extra[i], actual);
        t->Moved += actual;
        if (pipe->Type != 0) up->Toggle = (token & TD_TOGGLE) ^ TD_TOGGLE;
      }
      FreeBatch(hc, t);
      HcFinishTransfer(hc, t, ST_CANCELLED);
    }
    if (--up->Draining == 0 && !up->Closed) {
      if (up->Qh) up->Qh[1] = UHCI_LINK_TERMINATE; /* the controller may have written an element back */
      if (pipe->Type == 1)
        IsochronousIdle(pipe);
      else if (!(pipe->Flags & HC_PIPE_HALTED))
        StartNext(hc, pipe);
    }
  }
  for (e = u->ClosedPipes.Flink; e != &u->ClosedPipes;) {
    UHCI_PIPE *up = CONTAINING_RECORD(e, UHCI_PIPE, AsyncLink);
    e = e->Flink;
    if (up->Draining || (!all && (LONG)(now - up->ClosedFrame) <= 0)) continue;
    RemoveEntryList(&up->AsyncLink);
    if (up->QhBlock) HcPoolFree(hc->DescriptorPool, up->QhBlock);
    ExFreePool(up->Pipe);
    ExFreePool(up);
  }
}

/* The completion deferred procedure comes back in 2 ms while something waits. */
static VOID WaitForRetired(HC_EXTENSION *hc) {
  HC_UHCI_STATE *u = &hc->u.Uhci;
  LARGE_INTEGER due;
  if (IsListEmpty(&u->Retiring) && IsListEmpty(&u->ClosedPipes)) return;
  due.QuadPart = -2 * 10000;
  KeSetTimer(&u->Timer, due, &u->CompletionDpc);
}

static NTSTATUS AbortPipe(HC_EXTENSION *hc, HC_PIPE *pipe) {
  UHCI_PIPE *up = (UHCI_PIPE *)pipe->Hardware;
  KIRQL irql;
  BOOLEAN any;
  PLIST_ENTRY e;
  ULONG now;
  if (!up) return STATUS_SUCCESS;
  KeAcquireSpinLock(&hc->u.Uhci.ScheduleLock, &irql);
  now = ExtendFrame(hc);
  any = !IsListEmpty(&pipe->Transfers);
  if (up->Active) {
    HC_TRANSFER *t = up->Active;
    up->Qh[1] = UHCI_LINK_TERMINATE;
    up->Active = NULL;
    RemoveEntryList(&up->ActiveLink);
    InitializeListHead(&up->ActiveLink);
    if (IsReclaimed(pipe) && --hc->u.Uhci.Reclaim == 0) RelinkAsync(hc);
    StartRetiring(hc, t, now);
  }
  for (e = pipe->Transfers.Flink; e != &pipe->Transfers;) {
    HC_TRANSFER *t = CONTAINING_RECORD(e, HC_TRANSFER, Link);
    e = e->Flink;
    if (t->Retiring) continue;
    if (pipe->Type == 1)
      StartRetiring(hc, t, now);
    else
      HcFinishTransfer(hc, t, ST_CANCELLED); /* never on the hardware */
  }
  FreeRetired(hc, FALSE);
  WaitForRetired(hc);
  KeReleaseSpinLock(&hc->u.Uhci.ScheduleLock, irql);
  if (!any) return STATUS_SUCCESS;
  KeInsertQueueDpc(&hc->u.Uhci.CompletionDpc, NULL, NULL);
  return STATUS_PENDING;
}

static BOOLEAN ClosePipe(HC_EXTENSION *hc, HC_PIPE *pipe) {
  HC_UHCI_STATE *u = &hc->u.Uhci;
  UHCI_PIPE *up = (UHCI_PIPE *)pipe->Hardware;
  KIRQL irql;
  if (!up) return FALSE;
  KeAcquireSpinLock(&u->ScheduleLock, &irql);
  if (pipe->Type == 0 || pipe->Type == 2) {
    RemoveEntryList(&up->AsyncLink);
    RelinkAsync(hc);
  } else if (pipe->Type == 3) {
    PULONG at = Hardware(hc, u->TreeNodes[up->Node], NULL);
    while (!(at[0] & UHCI_LINK_TERMINATE) && (at[0] & ~0xFu) != up->QhPhysical) {
      PVOID block = HcPoolFindPhysical(hc->DescriptorPool, at[0] & ~0xFu);
      if (!block) break;
      at = (PULONG)block;
    }
    if ((at[0] & ~0xFu) == up->QhPhysical) at[0] = up->Qh[0];
    u->NodeBandwidth[up->Node] -= up->Bandwidth;
  }
  if (IsListEmpty(&up->ActiveLink) == FALSE) {
    RemoveEntryList(&up->ActiveLink);
    InitializeListHead(&up->ActiveLink);
  }
  /* The queue head's own link stays as it was, so a controller on it goes on along the chain. */
  up->Closed = TRUE;
  up->ClosedFrame = ExtendFrame(hc);
  InsertTailList(&u->ClosedPipes, &up->AsyncLink);
  FreeRetired(hc, FALSE);
  WaitForRetired(hc);
  KeReleaseSpinLock(&u->ScheduleLock, irql);
  return TRUE;
}

static VOID ResetPipe(HC_EXTENSION *hc, HC_PIPE *pipe) {
  UHCI_PIPE *up = (UHCI_PIPE *)pipe->Hardware;
  KIRQL irql;
  if (!up) return;
  KeAcquireSpinLock(&hc->u.Uhci.ScheduleLock, &irql);
  up->Toggle = 0;
  pipe->Flags &= ~HC_PIPE_HALTED;
  StartNext(hc, pipe);
  KeReleaseSpinLock(&hc->u.Uhci.ScheduleLock, irql);
}

static ULONG FrameNumber(HC_EXTENSION *hc) { return ExtendFrame(hc); }

static BOOLEAN InterruptService(HC_EXTENSION *hc) {
  HC_UHCI_STATE *u = &hc->u.Uhci;
  static const UCHAR reversal[32] = {0, 16, 8, 24, 4, 20, 12, 28, 2, 18, 10, 26, 6, 22, 14, 30,
                                     1, 17, 9, 25, 5, 21, 13, 29, 3, 19, 11, 27, 7, 23, 15, 31};
  USHORT status = Read16(hc, USBSTS);
  ULONG frame, f;
  if (!(status & 0x1F)) return FALSE;
  Write16(hc, USBSTS, (USHORT)(status & 0x3F));
  frame = ExtendFrame(hc);
  /* Frame-list entries of the frames that have passed go back to their tree leaves. */
  f = frame - u->LastFrame > 1024 ? frame - 1024 : u->LastFrame;
  for (; f != frame; ++f) u->FrameList[f % 1024] = u->TreePhysical[31 + reversal[f % 32]] | UHCI_LINK_QH;
  u->LastFrame = frame;
  KeInsertQueueDpc(&u->IsrDpc, NULL, NULL);
  hc->InterruptCount++;
  return TRUE;
}

/* The deferred procedure: every pipe's transfer on the hardware is checked, oldest pipe first,
 * then the finished transfers are completed. */
static VOID DeferredCompletion(HC_EXTENSION *hc) {
  HC_UHCI_STATE *u = &hc->u.Uhci;
  PLIST_ENTRY e;
  KIRQL irql;
  ULONG now, wait = 0;
  KeAcquireSpinLock(&u->ScheduleLock, &irql);
  FreeRetired(hc, FALSE);
  now = ExtendFrame(hc);
  for (e = u->ActivePipes.Flink; e != &u->ActivePipes;) {
    UHCI_PIPE *up = CONTAINING_RECORD(e, UHCI_PIPE, ActiveLink);
    e = e->Flink;
    if (up->Pipe->Type != 1) {
      if (up->Active) Check(hc, up->Active);
      continue;
    }
    CheckIsochronous(hc, up->Pipe, now);
    if (!IsListEmpty(&up->Pipe->Transfers)) {
      /* The oldest transfer's last frame: the timer looks again when it has passed, in case its
       * last descriptor never ran and so never interrupted. */
      HC_TRANSFER *t = CONTAINING_RECORD(up->Pipe->Transfers.Flink, HC_TRANSFER, Link);
      ULONG left = t->IsoStart + t->Urb->UrbIsochronousTransfer.NumberOfPackets - now;
      if (!wait || left < wait) wait = left;
    }
  }
  if (wait) {
    LARGE_INTEGER due;
    due.QuadPart = -(LONGLONG)(wait + 1) * 10000;
    KeSetTimer(&u->Timer, due, &u->CompletionDpc);
  }
  WaitForRetired(hc);
  KeReleaseSpinLock(&u->ScheduleLock, irql);
  HcCompletePending(hc);
}

static VOID Reset(HC_EXTENSION *hc) { Stop(hc); }

const HC_OPERATIONS HcUhciOperations = {
    .Initialise = Initialise,
    .Stop = Stop,
    .Start = Start,
    .Reset = Reset,
    .FreeSchedule = FreeSchedule,
    .HubStatus = HcUhciHubStatus,
    .PortStatus = HcUhciPortStatus,
    .SetPortFeature = HcUhciSetPortFeature,
    .ClearPortFeature = HcUhciClearPortFeature,
    .ChangePipe = HcUhciChangePipe,
    .ResetPort = HcRootHubResetPort,
    .OpenPipe = OpenPipe,
    .ClosePipe = ClosePipe,
    .SubmitTransfer = SubmitTransfer,
    .AbortPipe = AbortPipe,
    .ResetPipe = ResetPipe,
    .FrameNumber = FrameNumber,
    .InterruptService = InterruptService,
    .DeferredCompletion = DeferredCompletion,
};
