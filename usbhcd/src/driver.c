/* usbhcd.sys: driver entry, the dispatch routines and the internal device-control interface. */
#include "usbhcd.h"

HC_DRIVER HcDriver;

static const WCHAR ControlDeviceName[] = L"\\Device\\Uhcd";

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  return Complete(irp, STATUS_SUCCESS, 0);
}

static HC_EXTENSION *ControllerOf(PDEVICE_OBJECT device) {
  if (device == HcDriver.ControlDevice) return NULL;
  return (HC_EXTENSION *)device->DeviceExtension;
}

static NTSTATUS NTAPI DispatchShutdown(PDEVICE_OBJECT device, PIRP irp) {
  HC_EXTENSION *hc = ControllerOf(device);
  if (hc) HcStopController(hc);
  return Complete(irp, STATUS_SUCCESS, 0);
}

/* Plug-and-play (NT 4.0's IRP_MJ_PNP_POWER): minor code 2 removes the controller. */
static NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
  HC_EXTENSION *hc = ControllerOf(device);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (hc && stack->MinorFunction == IRP_MN_REMOVE_DEVICE) {
    Complete(irp, STATUS_SUCCESS, 0);
    HcTeardown(hc);
    return STATUS_SUCCESS;
  }
  return Complete(irp, STATUS_SUCCESS, 0);
}

/* The registry path answer: a 32-bit length (string bytes + 4) followed by the wide characters;
 * when the output cannot hold the string, only the length and an empty string. */
static NTSTATUS RegistryPathAnswer(HC_EXTENSION *hc, PIRP irp, ULONG outputLength) {
  UNICODE_STRING path;
  PUCHAR out = (PUCHAR)irp->AssociatedIrp.SystemBuffer;
  NTSTATUS status;
  ULONG needed;
  if (!out || outputLength <= 5) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  status = HcControllerKeyPath(hc->Number, &path);
  if (!NT_SUCCESS(status)) return Complete(irp, status, 0);
  needed = path.Length + 4;
  *(ULONG UNALIGNED *)out = needed;
  if (outputLength >= needed) {
    RtlCopyMemory(out + 4, path.Buffer, path.Length);
    if (outputLength >= needed + sizeof(WCHAR)) *(WCHAR UNALIGNED *)(out + needed) = 0;
    HcFreeString(&path);
    return Complete(irp, STATUS_SUCCESS, needed);
  }
  *(WCHAR UNALIGNED *)(out + 4) = 0;
  HcFreeString(&path);
  return Complete(irp, STATUS_SUCCESS, 6);
}

static NTSTATUS NTAPI DispatchInternalControl(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  HC_EXTENSION *hc = ControllerOf(device);
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  PVOID argument1 = stack->Parameters.Others.Argument1;
  ULONG_PTR argument2 = (ULONG_PTR)stack->Parameters.Others.Argument2;
  ULONG_PTR argument4 = (ULONG_PTR)stack->Parameters.Others.Argument4;

  if (code == IOCTL_HC_REGISTER_CALLBACK) {
    HcDriver.Callback = (HC_REGISTER_CALLBACK)argument1;
    if (HcDriver.Callback) HcDiscover();
    return Complete(irp, STATUS_SUCCESS, 0);
  }
  if (code == IOCTL_HC_HELPER_TABLE) {
    /* The table's address: one pointer (4 bytes in the 32-bit driver). */
    PVOID *out = (PVOID *)irp->AssociatedIrp.SystemBuffer;
    if (!out || outputLength < sizeof(PVOID)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    *out = (PVOID)HcHelperTable;
    return Complete(irp, STATUS_SUCCESS, sizeof(PVOID));
  }
  switch (code) {
    case IOCTL_HC_SUBMIT_URB:
    case IOCTL_HC_RESET_PORT:
    case IOCTL_HC_CREATE_DEVICE:
    case IOCTL_HC_SET_ADDRESS:
    case IOCTL_HC_CLOSE_DEVICE:
    case IOCTL_HC_REGISTRY_PATH:
      if (!hc) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
      break;
    default:
      return Complete(irp, STATUS_NOT_IMPLEMENTED, 0);
  }
  switch (code) {
    case IOCTL_HC_SUBMIT_URB: {
      return HcDispatchUrb(hc, irp);
    }
    case IOCTL_HC_RESET_PORT:
      if (!hc->Ops->ResetPort) return Complete(irp, STATUS_NOT_IMPLEMENTED, 0);
      return hc->Ops->ResetPort(hc, irp);
    case IOCTL_HC_CREATE_DEVICE: {
      ULONG flags = (ULONG)(argument2 & 1) | (ULONG)((argument4 & 1) << 1);
      return Complete(irp, HcCreateDeviceHandle(hc, (PVOID *)argument1, flags), 0);
    }
    case IOCTL_HC_SET_ADDRESS:
      return Complete(
          irp, HcSetAddress(hc, (HC_DEVICE_HANDLE *)argument1, (ULONG)argument2, (ULONG)(argument4 & 0xFFFF)), 0);
    case IOCTL_HC_CLOSE_DEVICE:
      return Complete(irp, HcCloseDeviceHandle(hc, (HC_DEVICE_HANDLE *)argument1), 0);
    default: /* IOCTL_HC_REGISTRY_PATH */
      return RegistryPathAnswer(hc, irp, outputLength);
  }
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  /* Controllers still present go with the driver: nothing of theirs may outlive the image. */
  PDEVICE_OBJECT device = driver->DeviceObject;
  while (device) {
    PDEVICE_OBJECT next = device->NextDevice;
    if (device != HcDriver.ControlDevice) HcTeardown((HC_EXTENSION *)device->DeviceExtension);
    device = next;
  }
  if (HcDriver.ControlDevice) IoDeleteDevice(HcDriver.ControlDevice);
  HcDriver.ControlDevice = NULL;
  if (HcDriver.RegistryPath.Buffer) ExFreePool(HcDriver.RegistryPath.Buffer);
  HcDriver.RegistryPath.Buffer = NULL;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  UNICODE_STRING name;
  NTSTATUS status;
  ULONG value;
  USHORT bytes = registryPath->Length;

  RtlZeroMemory(&HcDriver, sizeof(HcDriver));
  HcDriver.DriverObject = driver;
  HcDriver.RegistryPath.Buffer = (PWCH)ExAllocatePoolWithTag(NonPagedPool, bytes + sizeof(WCHAR), HC_POOL_TAG);
  if (!HcDriver.RegistryPath.Buffer) return STATUS_INSUFFICIENT_RESOURCES;
  RtlCopyMemory(HcDriver.RegistryPath.Buffer, registryPath->Buffer, bytes);
  HcDriver.RegistryPath.Buffer[bytes / sizeof(WCHAR)] = 0;
  HcDriver.RegistryPath.Length = bytes;
  HcDriver.RegistryPath.MaximumLength = bytes + sizeof(WCHAR);

  if (HcReadDword(&HcDriver.RegistryPath, L"IgnoreOhci", &value) && value) HcDriver.IgnoreOhci = TRUE;
  if (HcReadDword(&HcDriver.RegistryPath, L"IgnoreUhci", &value) && value) HcDriver.IgnoreUhci = TRUE;

  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
  driver->MajorFunction[IRP_MJ_SHUTDOWN] = DispatchShutdown;
  driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternalControl;
  driver->DriverUnload = Unload;

  RtlInitUnicodeString(&name, ControlDeviceName);
  status = IoCreateDevice(driver, 0, &name, HC_DEVICE_TYPE_CONTROL, 0, TRUE, &HcDriver.ControlDevice);
  if (!NT_SUCCESS(status)) {
    ExFreePool(HcDriver.RegistryPath.Buffer);
    HcDriver.RegistryPath.Buffer = NULL;
    HcDriver.ControlDevice = NULL;
    return status;
  }
  HcDriver.ControlDevice->Flags |= DO_DIRECT_IO;
  HcDriver.ControlDevice->Flags &= ~DO_DEVICE_INITIALIZING;
  DbgPrint("usbhcd: loaded, IgnoreOhci %u IgnoreUhci %u\n", HcDriver.IgnoreOhci, HcDriver.IgnoreUhci);
  return STATUS_SUCCESS;
}
