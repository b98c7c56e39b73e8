/* usbhcd.sys: the six exported USBD helper routines of the USB driver interface.
 *
 * STUBS: these entry points exist so that drivers written for the interface find them by name and
 * load; their bodies are not written yet. Each refuses: the parsers find nothing, the request
 * builders build nothing, and the version query leaves the caller's record untouched. */
#include "usbhcd.h"

VOID NTAPI USBD_GetUSBDIVersion(PVOID versionInformation) { (void)versionInformation; /* STUB */ }

PVOID NTAPI USBD_ParseDescriptors(PVOID buffer, ULONG totalLength, PVOID start, LONG descriptorType) {
  (void)buffer, (void)totalLength, (void)start, (void)descriptorType;
  return NULL; /* STUB */
}

PVOID NTAPI USBD_ParseConfigurationDescriptorEx(PVOID configuration, PVOID start, LONG interfaceNumber,
                                                LONG alternateSetting, LONG interfaceClass, LONG interfaceSubClass,
                                                LONG interfaceProtocol) {
  (void)configuration, (void)start, (void)interfaceNumber, (void)alternateSetting, (void)interfaceClass,
      (void)interfaceSubClass, (void)interfaceProtocol;
  return NULL; /* STUB */
}

PVOID NTAPI USBD_ParseConfigurationDescriptor(PVOID configuration, UCHAR interfaceNumber, UCHAR alternateSetting) {
  (void)configuration, (void)interfaceNumber, (void)alternateSetting;
  return NULL; /* STUB */
}

PVOID NTAPI USBD_CreateConfigurationRequestEx(PVOID configuration, PVOID interfaceList) {
  (void)configuration, (void)interfaceList;
  return NULL; /* STUB */
}

PVOID NTAPI USBD_CreateConfigurationRequest(PVOID configuration, PUSHORT length) {
  (void)configuration;
  if (length) *length = 0;
  return NULL; /* STUB */
}

/* The table handed out by the helper-table request, in the interface's order. */
PVOID const HcHelperTable[6] = {
    (PVOID)USBD_GetUSBDIVersion,
    (PVOID)USBD_ParseDescriptors,
    (PVOID)USBD_ParseConfigurationDescriptor,
    (PVOID)USBD_ParseConfigurationDescriptorEx,
    (PVOID)USBD_CreateConfigurationRequest,
    (PVOID)USBD_CreateConfigurationRequestEx,
};
