/* usbhcd.sys: USB device handles and their default control pipes. */
#include "usbhcd.h"

/* Endpoint 0: length 7, type 5, address 0, control, 64-byte packets, no interval; a low-speed
 * device's endpoint 0 has 8-byte packets (the only size low speed allows), so that its longer
 * answers are not cut short after the first packet. */
static const UCHAR DefaultEndpoint[7] = {7, 5, 0, 0, 64, 0, 0};
static const UCHAR LowSpeedDefaultEndpoint[7] = {7, 5, 0, 0, 8, 0, 0};

NTSTATUS HcCreateDeviceHandle(HC_EXTENSION *hc, PVOID *handleOut, ULONG flags) {
  HC_DEVICE_HANDLE *handle;
  KIRQL irql;
  if (!handleOut) return STATUS_INVALID_PARAMETER;
  *handleOut = NULL;
  handle = (HC_DEVICE_HANDLE *)ExAllocatePoolWithTag(NonPagedPool, sizeof(*handle), HC_DEVICE_TAG);
  if (!handle) return STATUS_INSUFFICIENT_RESOURCES;
  RtlZeroMemory(handle, sizeof(*handle));
  handle->Controller = hc;
  handle->Flags = flags;
  InitializeListHead(&handle->Pipes);
  handle->DefaultPipe =
      HcOpenPipe(hc, handle, (flags & HC_HANDLE_LOW_SPEED) ? LowSpeedDefaultEndpoint : DefaultEndpoint, 0xFF);
  if (!handle->DefaultPipe) {
    ExFreePool(handle);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  KeAcquireSpinLock(&hc->DeviceLock, &irql);
  InsertTailList(&hc->Devices, &handle->Link);
  KeReleaseSpinLock(&hc->DeviceLock, irql);
  *handleOut = handle;
  return STATUS_SUCCESS;
}

/* A handle is used only when it is on this controller's list: a stale or foreign pointer is
 * refused rather than followed. Called with the device lock held. */
static BOOLEAN IsListed(HC_EXTENSION *hc, HC_DEVICE_HANDLE *handle) {
  PLIST_ENTRY entry;
  if (!handle) return FALSE;
  for (entry = hc->Devices.Flink; entry != &hc->Devices; entry = entry->Flink)
    if (CONTAINING_RECORD(entry, HC_DEVICE_HANDLE, Link) == handle) return TRUE;
  return FALSE;
}

NTSTATUS HcSetAddress(HC_EXTENSION *hc, HC_DEVICE_HANDLE *handle, ULONG address, ULONG parameter) {
  KIRQL irql;
  BOOLEAN listed;
  KeAcquireSpinLock(&hc->DeviceLock, &irql);
  listed = IsListed(hc, handle);
  KeReleaseSpinLock(&hc->DeviceLock, irql);
  if (!listed || !handle->DefaultPipe) return STATUS_INVALID_PARAMETER;
  handle->DefaultPipe->Address = address;
  handle->DefaultPipe->Parameter = parameter & 0xFFFF;
  if (!(handle->Flags & HC_HANDLE_ROOT_HUB) && hc->Ops->UpdatePipe) hc->Ops->UpdatePipe(hc, handle->DefaultPipe);
  return STATUS_SUCCESS;
}

static VOID FreeHandle(HC_EXTENSION *hc, HC_DEVICE_HANDLE *handle) {
  while (!IsListEmpty(&handle->Pipes)) HcClosePipe(hc, CONTAINING_RECORD(handle->Pipes.Flink, HC_PIPE, Link));
  if (handle->Configuration) ExFreePool(handle->Configuration);
  ExFreePool(handle);
}

NTSTATUS HcCloseDeviceHandle(HC_EXTENSION *hc, HC_DEVICE_HANDLE *handle) {
  KIRQL irql;
  BOOLEAN listed;
  KeAcquireSpinLock(&hc->DeviceLock, &irql);
  listed = IsListed(hc, handle);
  if (listed) RemoveEntryList(&handle->Link);
  KeReleaseSpinLock(&hc->DeviceLock, irql);
  if (!listed) return STATUS_INVALID_PARAMETER;
  FreeHandle(hc, handle);
  return STATUS_SUCCESS;
}

VOID HcCloseAllDeviceHandles(HC_EXTENSION *hc) {
  for (;;) {
    KIRQL irql;
    HC_DEVICE_HANDLE *handle = NULL;
    KeAcquireSpinLock(&hc->DeviceLock, &irql);
    if (!IsListEmpty(&hc->Devices)) {
      handle = CONTAINING_RECORD(hc->Devices.Flink, HC_DEVICE_HANDLE, Link);
      RemoveEntryList(&handle->Link);
    }
    KeReleaseSpinLock(&hc->DeviceLock, irql);
    if (!handle) return;
    FreeHandle(hc, handle);
  }
}
