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

/* The end of a root-hub port's reset or resume is timed here; the port work belongs to the
 * root-hub operations. */
static VOID NTAPI PortDpc(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2) {
  (void)dpc, (void)context, (void)argument1, (void)argument2;
}

static NTSTATUS Initialise(HC_EXTENSION *hc) {
  HC_UHCI_STATE *u = &hc->u.Uhci;
  USHORT legacy = UHCI_LEGACY_VALUE;
  ULONG i;

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
  KeInitializeDpc(&u->CompletionDpc, CompletionDpc, hc);
  KeInitializeDpc(&u->IsrDpc, CompletionDpc, hc);
  KeInitializeTimer(&u->Timer);
  for (i = 0; i < 2; ++i) {
    KeInitializeDpc(&u->PortDpc[i], PortDpc, hc);
    KeInitializeTimer(&u->PortTimer[i]);
  }
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

static VOID FreeSchedule(HC_EXTENSION *hc) {
  HC_UHCI_STATE *u = &hc->u.Uhci;
  ULONG i;
  if (u->DpcsReady) {
    KeCancelTimer(&u->Timer);
    for (i = 0; i < 2; ++i) KeCancelTimer(&u->PortTimer[i]);
    KeRemoveQueueDpc(&u->CompletionDpc);
    KeRemoveQueueDpc(&u->IsrDpc);
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
  if (u->LookasideReady) ExDeleteNPagedLookasideList(&u->Lookaside);
  u->LookasideReady = FALSE;
}

static BOOLEAN InterruptService(HC_EXTENSION *hc) {
  USHORT status = Read16(hc, USBSTS);
  if (!(status & 0x1F)) return FALSE;
  Write16(hc, USBSTS, (USHORT)(status & 0x3F));
  hc->InterruptCount++;
  return TRUE;
}

static VOID Reset(HC_EXTENSION *hc) { Stop(hc); }

const HC_OPERATIONS HcUhciOperations = {
    Initialise,
    Stop,
    Start,
    Reset,
    FreeSchedule,
    NULL,
    NULL,
    NULL,
    NULL,
    NULL,
    NULL,
    NULL, /* root hub */
    NULL,
    NULL,
    NULL,
    NULL,
    NULL,
    NULL, /* pipes and transfers */
    InterruptService,
    NULL,
};
