/* usbhcd.sys: host-controller discovery on PCI, per-controller set-up, start, stop and teardown. */
#include "usbhcd.h"

#define PCI_CLASS_SERIAL_BUS 0x0C
#define PCI_SUBCLASS_USB 0x03
#define PCI_INTERFACE_UHCI 0x00
#define PCI_INTERFACE_OHCI 0x10
#define PCI_COMMAND_BUS_MASTER 0x0004
#define PCI_CONFIG_INTERRUPT_LINE 0x3C
#define PCI_CONFIG_INTERRUPT_PIN 0x3D
#define PIIX_VENDOR 0x8086
#define PIIX_DEVICE 0x7110
#define PIIX_PIRQ_ROUTE_BASE 0x5F /* + pin: 0x60-0x63 for pins A-D */
#define ELCR_PORT_LOW 0x4D0
#define ELCR_PORT_HIGH 0x4D1

VOID HcDelayMilliseconds(ULONG ms) {
  LARGE_INTEGER interval;
  interval.QuadPart = -(LONGLONG)ms * 10000;
  KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

static ULONG SlotNumber(ULONG device, ULONG function) {
  PCI_SLOT_NUMBER slot;
  slot.u.AsULONG = 0;
  slot.u.bits.DeviceNumber = device;
  slot.u.bits.FunctionNumber = function;
  return slot.u.AsULONG;
}

/* Calls visit for every PCI function present; a visit that answers FALSE ends the walk. A read
 * that returns nothing ends the scan of that bus. */
typedef BOOLEAN (*PCI_VISIT)(ULONG bus, ULONG slot, PPCI_COMMON_CONFIG config, PVOID context);

static VOID WalkPci(PCI_VISIT visit, PVOID context) {
  ULONG bus, device, function;
  for (bus = 0; bus < 256; ++bus) {
    for (device = 0; device < PCI_MAX_DEVICES; ++device) {
      BOOLEAN endOfBus = FALSE;
      for (function = 0; function < PCI_MAX_FUNCTION; ++function) {
        PCI_COMMON_CONFIG config;
        ULONG slot = SlotNumber(device, function);
        ULONG read = HalGetBusData(PCIConfiguration, bus, slot, &config, PCI_COMMON_HDR_LENGTH);
        if (read == 0) {
          endOfBus = TRUE;
          break;
        }
        if (read < 2 || config.VendorID == PCI_INVALID_VENDORID) continue;
        if (read < PCI_COMMON_HDR_LENGTH) continue;
        if (!visit(bus, slot, &config, context)) return;
      }
      if (endOfBus) break;
    }
  }
}

typedef struct _BRIDGE_SEARCH {
  BOOLEAN Found;
  ULONG Bus;
  ULONG Slot;
} BRIDGE_SEARCH;

static BOOLEAN FindBridge(ULONG bus, ULONG slot, PPCI_COMMON_CONFIG config, PVOID context) {
  BRIDGE_SEARCH *search = (BRIDGE_SEARCH *)context;
  if (config->VendorID != PIIX_VENDOR || config->DeviceID != PIIX_DEVICE) return TRUE;
  search->Found = TRUE;
  search->Bus = bus;
  search->Slot = slot;
  return FALSE;
}

typedef struct _LINE_REWRITE {
  UCHAR Pin;
  UCHAR Irq;
} LINE_REWRITE;

static BOOLEAN RewriteLine(ULONG bus, ULONG slot, PPCI_COMMON_CONFIG config, PVOID context) {
  LINE_REWRITE *rewrite = (LINE_REWRITE *)context;
  if (config->u.type0.InterruptPin == rewrite->Pin) {
    UCHAR irq = rewrite->Irq;
    HalSetBusDataByOffset(PCIConfiguration, bus, slot, &irq, PCI_CONFIG_INTERRUPT_LINE, 1);
  }
  return TRUE;
}

/* "ForceIrq": route the controller's interrupt pin to the given IRQ through the PCI-to-ISA bridge,
 * make that IRQ level-triggered, and tell every device on the same pin. */
static NTSTATUS ForceInterrupt(HC_EXTENSION *hc, ULONG irq) {
  BRIDGE_SEARCH bridge = {FALSE, 0, 0};
  LINE_REWRITE rewrite;
  USHORT port;
  UCHAR elcr, route;
  if (irq > 15) return STATUS_UNSUCCESSFUL;
  if (hc->InterruptPin < 1 || hc->InterruptPin > 4) return STATUS_UNSUCCESSFUL;
  WalkPci(FindBridge, &bridge);
  if (!bridge.Found) return STATUS_UNSUCCESSFUL;
  port = irq < 8 ? ELCR_PORT_LOW : ELCR_PORT_HIGH;
  elcr = HcReadPortUchar((ULONG_PTR)port);
  HcWritePortUchar((ULONG_PTR)port, (UCHAR)(elcr | (1 << (irq & 7))));
  route = (UCHAR)irq;
  HalSetBusDataByOffset(PCIConfiguration, bridge.Bus, bridge.Slot, &route, PIIX_PIRQ_ROUTE_BASE + hc->InterruptPin, 1);
  rewrite.Pin = hc->InterruptPin;
  rewrite.Irq = (UCHAR)irq;
  WalkPci(RewriteLine, &rewrite);
  DbgPrint("usbhcd: controller %u forced to IRQ %u on pin %u\n", hc->Number, irq, hc->InterruptPin);
  return STATUS_SUCCESS;
}

static VOID ReleaseResources(HC_EXTENSION *hc) {
  if (hc->RegistersMapped) MmUnmapIoSpace(hc->Registers, hc->RegisterLength);
  hc->RegistersMapped = FALSE;
  hc->Registers = NULL;
  if (hc->ResourcesClaimed) {
    /* An empty list gives back what HalAssignSlotResources claimed for the device. */
    CM_RESOURCE_LIST empty;
    BOOLEAN conflict = FALSE;
    RtlZeroMemory(&empty, sizeof(empty));
    IoReportResourceUsage(NULL, HcDriver.DriverObject, NULL, 0, hc->Self, &empty, sizeof(empty), FALSE, &conflict);
  }
  hc->ResourcesClaimed = FALSE;
}

static NTSTATUS ClaimResources(HC_EXTENSION *hc) {
  PCM_RESOURCE_LIST list = NULL;
  PCM_PARTIAL_RESOURCE_DESCRIPTOR port = NULL, memory = NULL, interrupt = NULL;
  PHYSICAL_ADDRESS translated;
  ULONG i, addressSpace;
  NTSTATUS status;

  status = HalAssignSlotResources(&HcDriver.RegistryPath, NULL, HcDriver.DriverObject, hc->Self, PCIBus, hc->Bus,
                                  hc->Slot, &list);
  if (!NT_SUCCESS(status)) return status;
  hc->ResourcesClaimed = TRUE;
  if (!list) return STATUS_UNSUCCESSFUL;
  if (list->Count >= 1) {
    PCM_PARTIAL_RESOURCE_LIST partial = &list->List[0].PartialResourceList;
    for (i = 0; i < partial->Count; ++i) {
      PCM_PARTIAL_RESOURCE_DESCRIPTOR d = &partial->PartialDescriptors[i];
      if (d->Type == CmResourceTypePort && !port) port = d;
      if (d->Type == CmResourceTypeMemory && !memory) memory = d;
      if (d->Type == CmResourceTypeInterrupt && !interrupt) interrupt = d;
    }
  }
  if (!interrupt) {
    ExFreePool(list);
    return STATUS_RESOURCE_DATA_NOT_FOUND;
  }
  hc->Vector = HalGetInterruptVector(PCIBus, hc->Bus, interrupt->u.Interrupt.Level, interrupt->u.Interrupt.Vector,
                                     &hc->Irql, &hc->Affinity);
  hc->InterruptMode = (interrupt->Flags & CM_RESOURCE_INTERRUPT_LATCHED) ? Latched : LevelSensitive;
  hc->SharedInterrupt = interrupt->ShareDisposition == CmResourceShareShared;

  status = STATUS_UNSUCCESSFUL;
  if (port || memory) {
    PHYSICAL_ADDRESS start = port ? port->u.Port.Start : memory->u.Memory.Start;
    ULONG length = port ? port->u.Port.Length : memory->u.Memory.Length;
    addressSpace = port ? 1 : 0;
    if (HalTranslateBusAddress(PCIBus, hc->Bus, start, &addressSpace, &translated)) {
      hc->RegisterLength = length;
      if (addressSpace == 0) {
        hc->Registers = (PUCHAR)MmMapIoSpace(translated, length, MmNonCached);
        hc->RegistersMapped = hc->Registers != NULL;
        if (hc->Registers) status = STATUS_SUCCESS;
      } else {
        hc->Registers = (PUCHAR)(ULONG_PTR)translated.LowPart;
        status = STATUS_SUCCESS;
      }
    }
  }
  ExFreePool(list);
  return status;
}

/* Everything a controller device holds goes, whatever stage it reached, and the device with it. */
VOID HcTeardown(HC_EXTENSION *hc) {
  PDEVICE_OBJECT device = hc->Self;
  if (hc->State & HC_STATE_REMOVED) return;
  hc->State |= HC_STATE_REMOVED | HC_STATE_STOPPING;
  if ((hc->State & HC_STATE_INITIALISED) && hc->Ops->Stop) hc->Ops->Stop(hc);
  HcCloseAllDeviceHandles(hc);
  HcCompletePending(hc); /* the transfers the closed pipes still had, cancelled */
  if (hc->State & HC_STATE_INTERRUPT_CONNECTED) IoDisconnectInterrupt(hc->Interrupt);
  hc->State &= ~HC_STATE_INTERRUPT_CONNECTED;
  hc->Interrupt = NULL;
  if (hc->Ops->FreeSchedule) hc->Ops->FreeSchedule(hc);
  hc->State &= ~HC_STATE_INITIALISED;
  if (hc->State & HC_STATE_SHUTDOWN_REGISTERED) IoUnregisterShutdownNotification(device);
  hc->State &= ~HC_STATE_SHUTDOWN_REGISTERED;
  HcPoolDestroy(hc->DescriptorPool);
  hc->DescriptorPool = NULL;
  HcPoolDestroy(hc->GeneralPool);
  hc->GeneralPool = NULL;
  ReleaseResources(hc);
  IoDeleteDevice(device);
}

VOID HcStopController(HC_EXTENSION *hc) {
  if (!(hc->State & HC_STATE_STARTED) || (hc->State & HC_STATE_STOPPING)) return;
  hc->State |= HC_STATE_STOPPING;
  if (hc->Ops->Stop) hc->Ops->Stop(hc);
}

static NTSTATUS ReadForceIrq(ULONG number, ULONG *irq, BOOLEAN *present) {
  UNICODE_STRING path;
  NTSTATUS status = HcControllerKeyPath(number, &path);
  if (!NT_SUCCESS(status)) return status;
  *present = HcReadDword(&path, L"ForceIrq", irq);
  HcFreeString(&path);
  return STATUS_SUCCESS;
}

static NTSTATUS SetUpController(ULONG bus, ULONG slot, PPCI_COMMON_CONFIG config) {
  ULONG type, irq = 0;
  BOOLEAN forced = FALSE;
  WCHAR nameText[32];
  UNICODE_STRING name;
  PDEVICE_OBJECT device;
  HC_EXTENSION *hc;
  NTSTATUS status;

  if (!(config->Command & PCI_COMMAND_BUS_MASTER)) {
    USHORT command = config->Command | PCI_COMMAND_BUS_MASTER;
    HalSetBusDataByOffset(PCIConfiguration, bus, slot, &command, FIELD_OFFSET(PCI_COMMON_CONFIG, Command), 2);
    command = 0;
    HalGetBusDataByOffset(PCIConfiguration, bus, slot, &command, FIELD_OFFSET(PCI_COMMON_CONFIG, Command), 2);
    if (!(command & PCI_COMMAND_BUS_MASTER)) return STATUS_UNSUCCESSFUL;
  }
  if (config->ProgIf == PCI_INTERFACE_UHCI) {
    type = HC_TYPE_UHCI;
    if (HcDriver.IgnoreUhci) return STATUS_UNSUCCESSFUL;
  } else if (config->ProgIf == PCI_INTERFACE_OHCI) {
    type = HC_TYPE_OHCI;
    if (HcDriver.IgnoreOhci) return STATUS_UNSUCCESSFUL;
  } else {
    return STATUS_UNSUCCESSFUL;
  }

  HcFormat(nameText, 32, "\\Device\\UsbHc%u", HcDriver.ControllerCount);
  RtlInitUnicodeString(&name, nameText);
  status = IoCreateDevice(HcDriver.DriverObject, sizeof(HC_EXTENSION), &name, HC_DEVICE_TYPE_USB, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  hc = (HC_EXTENSION *)device->DeviceExtension;
  RtlZeroMemory(hc, sizeof(*hc));
  hc->Self = device;
  hc->Type = type;
  hc->Ops = type == HC_TYPE_UHCI ? &HcUhciOperations : &HcOhciOperations;
  hc->Number = HcDriver.ControllerCount;
  hc->Bus = bus;
  hc->Slot = slot;
  hc->VendorId = config->VendorID;
  hc->DeviceId = config->DeviceID;
  hc->Revision = config->RevisionID;
  hc->SubVendorId = config->u.type0.SubVendorID;
  hc->SubSystemId = config->u.type0.SubSystemID;
  hc->InterruptPin = config->u.type0.InterruptPin;
  KeInitializeSpinLock(&hc->InterruptLock);
  KeInitializeSpinLock(&hc->DeviceLock);
  InitializeListHead(&hc->Devices);
  InitializeListHead(&hc->PendingCompletions);
  InitializeListHead(&hc->ChangeRequests);

  status = ReadForceIrq(hc->Number, &irq, &forced);
  if (NT_SUCCESS(status) && forced) status = ForceInterrupt(hc, irq);
  if (NT_SUCCESS(status)) status = ClaimResources(hc);
  if (!NT_SUCCESS(status)) {
    ReleaseResources(hc);
    IoDeleteDevice(device);
    return status;
  }
  HcDriver.ControllerCount++;
  HcWriteControllerValues(hc);
  DbgPrint("usbhcd: controller %u (%s) at bus %u slot 0x%x\n", hc->Number, type == HC_TYPE_UHCI ? "UHCI" : "OHCI", bus,
           slot);
  return STATUS_SUCCESS;
}

static BOOLEAN VisitController(ULONG bus, ULONG slot, PPCI_COMMON_CONFIG config, PVOID context) {
  (void)context;
  if (config->BaseClass == PCI_CLASS_SERIAL_BUS && config->SubClass == PCI_SUBCLASS_USB) {
    NTSTATUS status = SetUpController(bus, slot, config);
    if (!NT_SUCCESS(status)) DbgPrint("usbhcd: controller at bus %u slot 0x%x not set up: 0x%08x\n", bus, slot, status);
  }
  return TRUE;
}

static BOOLEAN NTAPI InterruptService(PKINTERRUPT interrupt, PVOID context) {
  HC_EXTENSION *hc = (HC_EXTENSION *)context;
  (void)interrupt;
  if (!hc->Ops->InterruptService) return FALSE;
  return hc->Ops->InterruptService(hc);
}

static NTSTATUS StartController(HC_EXTENSION *hc) {
  DEVICE_DESCRIPTION description;
  NTSTATUS status;

  RtlZeroMemory(&description, sizeof(description));
  description.Version = DEVICE_DESCRIPTION_VERSION;
  description.Master = TRUE;
  description.ScatterGather = TRUE;
  description.Dma32BitAddresses = TRUE;
  description.InterfaceType = PCIBus;
  description.BusNumber = hc->Bus;
  description.MaximumLength = (ULONG)-1;
  hc->Adapter = HalGetAdapter(&description, &hc->MapRegisters);
  if (!hc->Adapter) return STATUS_NO_SUCH_DEVICE;

  status = IoRegisterShutdownNotification(hc->Self);
  if (!NT_SUCCESS(status)) return status;
  hc->State |= HC_STATE_SHUTDOWN_REGISTERED;

  hc->GeneralPool = HcPoolCreate(hc->Adapter, 128, 32 - HC_TRAILER_SIZE, 1024, 32);
  if (!hc->GeneralPool) return STATUS_NO_MEMORY;

  hc->State |= HC_STATE_INITIALISED;
  status = hc->Ops->Initialise(hc);
  if (!NT_SUCCESS(status)) return status;

  hc->SynchronizeIrql = HcDriver.SynchronizeIrql;
  status = IoConnectInterrupt(&hc->Interrupt, InterruptService, hc, &hc->InterruptLock, hc->Vector, hc->Irql,
                              hc->SynchronizeIrql, hc->InterruptMode, hc->SharedInterrupt, hc->Affinity, FALSE);
  if (status == STATUS_INVALID_PARAMETER && !hc->SharedInterrupt)
    status = IoConnectInterrupt(&hc->Interrupt, InterruptService, hc, &hc->InterruptLock, hc->Vector, hc->Irql,
                                hc->SynchronizeIrql, hc->InterruptMode, TRUE, hc->Affinity, FALSE);
  if (!NT_SUCCESS(status)) return status;
  hc->State |= HC_STATE_INTERRUPT_CONNECTED;

  hc->Ops->Start(hc);
  hc->State |= HC_STATE_STARTED;
  hc->Self->Flags |= DO_DIRECT_IO;
  hc->Self->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

static BOOLEAN IsController(PDEVICE_OBJECT device) { return device != HcDriver.ControlDevice; }

VOID HcDiscover(VOID) {
  PDEVICE_OBJECT device;
  ULONG number;

  /* Controllers already started by an earlier registration stay as they are; the new caller is
   * told of each. */
  for (device = HcDriver.DriverObject->DeviceObject; device; device = device->NextDevice) {
    if (IsController(device)) {
      for (device = HcDriver.DriverObject->DeviceObject; device; device = device->NextDevice)
        if (IsController(device) && HcDriver.Callback) HcDriver.Callback(device);
      return;
    }
  }

  HcDriver.ControllerCount = 0;
  WalkPci(VisitController, NULL);
  HcDeleteStaleControllerKeys(HcDriver.ControllerCount);

  HcDriver.SynchronizeIrql = 0;
  for (device = HcDriver.DriverObject->DeviceObject; device; device = device->NextDevice) {
    if (!IsController(device)) continue;
    if (((HC_EXTENSION *)device->DeviceExtension)->Irql > HcDriver.SynchronizeIrql)
      HcDriver.SynchronizeIrql = ((HC_EXTENSION *)device->DeviceExtension)->Irql;
  }

  /* In discovery order: the driver object lists the newest device first. */
  for (number = 0; number < HcDriver.ControllerCount; ++number) {
    HC_EXTENSION *hc = NULL;
    NTSTATUS status;
    for (device = HcDriver.DriverObject->DeviceObject; device; device = device->NextDevice)
      if (IsController(device) && ((HC_EXTENSION *)device->DeviceExtension)->Number == number)
        hc = (HC_EXTENSION *)device->DeviceExtension;
    if (!hc) continue;
    device = hc->Self;
    status = StartController(hc);
    if (!NT_SUCCESS(status)) {
      DbgPrint("usbhcd: controller %u did not start: 0x%08x\n", hc->Number, status);
      HcTeardown(hc);
      continue;
    }
    if (HcDriver.Callback) HcDriver.Callback(device);
  }
}
