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
  KeInitializeDpc(&o->DoneDpc, DoneDpc, hc);
  KeInitializeDpc(&o->CompletionDpc, DoneDpc, hc);
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

static VOID FreeSchedule(HC_EXTENSION *hc) {
  HC_OHCI_STATE *o = &hc->u.Ohci;
  ULONG i;
  if (o->DpcsReady) {
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

static BOOLEAN InterruptService(HC_EXTENSION *hc) {
  ULONG status = Read(hc, HcInterruptStatus) & Read(hc, HcInterruptEnable) & ~0x80000000u;
  if (!status) return FALSE;
  Write(hc, HcInterruptStatus, status);
  hc->InterruptCount++;
  return TRUE;
}

static VOID Reset(HC_EXTENSION *hc) { ResetController(hc); }

const HC_OPERATIONS HcOhciOperations = {
    .Initialise = Initialise,
    .Stop = Stop,
    .Start = Start,
    .Reset = Reset,
    .FreeSchedule = FreeSchedule,
    .InterruptService = InterruptService,
};
