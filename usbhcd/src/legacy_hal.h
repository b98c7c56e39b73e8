/* The NT 4.0 HAL routines for legacy (non-plug-and-play) drivers. The kit's headers declare them
 * only for 32-bit builds; the 64-bit test build of the driver and the test bed's simulation of
 * them need the same prototypes. */
#ifndef USBHCD_LEGACY_HAL_H
#define USBHCD_LEGACY_HAL_H

#if defined(_WIN64)
#ifdef __cplusplus
extern "C" {
#endif
NTHALAPI NTSTATUS NTAPI HalAssignSlotResources(PUNICODE_STRING RegistryPath, PUNICODE_STRING DriverClassName,
                                               PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT DeviceObject,
                                               INTERFACE_TYPE BusType, ULONG BusNumber, ULONG SlotNumber,
                                               PCM_RESOURCE_LIST *AllocatedResources);
NTHALAPI ULONG NTAPI HalGetInterruptVector(INTERFACE_TYPE InterfaceType, ULONG BusNumber, ULONG BusInterruptLevel,
                                           ULONG BusInterruptVector, PKIRQL Irql, PKAFFINITY Affinity);
NTHALAPI ULONG NTAPI HalSetBusData(BUS_DATA_TYPE BusDataType, ULONG BusNumber, ULONG SlotNumber, PVOID Buffer,
                                   ULONG Length);
NTHALAPI ULONG NTAPI HalGetBusData(BUS_DATA_TYPE BusDataType, ULONG BusNumber, ULONG SlotNumber, PVOID Buffer,
                                   ULONG Length);
#ifdef __cplusplus
}
#endif
#endif

#endif
