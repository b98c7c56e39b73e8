/* usbhcd.sys: the six exported USBD helper routines of the USB driver interface. Device drivers
 * above the hub call them to find descriptors in what their device sent and to build the
 * select-configuration request they submit; the helper-table request hands out the same six.
 *
 * The walks never trust a length further than it can be checked:
 *   - a walk covers [buffer, buffer + total length): the given total length for
 *     USBD_ParseDescriptors, the configuration's own wTotalLength for the configuration parsers
 *     (they are given no buffer size, so a configuration must lie wholly in memory its caller
 *     owns, as the driver interface requires; a wTotalLength beyond that is the caller's fault
 *     and cannot be seen here);
 *   - a start position outside that range finds nothing;
 *   - a descriptor whose length byte is below 2 (it cannot hold its own length and type, and a 0
 *     would never advance) ends the walk with no result;
 *   - a descriptor that runs past the end of the range ends the walk unmatched, and no byte at or
 *     beyond the end is read;
 *   - an interface descriptor shorter than the standard 9 bytes is passed over, never matched.
 * The request builders refuse what the request cannot hold: more than 15 interfaces for
 * USBD_CreateConfigurationRequest, and any list whose request would be longer than the URB's
 * 16-bit length field for USBD_CreateConfigurationRequestEx. */
#if defined(HC_USBD_HOSTED)
#include "usbd_hosted.h" /* the native test build: the kit's types and pool routines on the host */
#else
#include "usbhcd.h"
/* This module is what the kit's declarations import: read as this module's own declarations, they
 * make the compiler check each definition's prototype and calling convention against the kit's.
 * usbhcd.def names the exports. */
#undef DECLSPEC_IMPORT
#define DECLSPEC_IMPORT
#include <usbdlib.h>
#endif

/* The parts of a select-configuration request (24, 16 and 20 bytes in the 32-bit driver). */
#define URB_HEAD_SIZE ((ULONG)FIELD_OFFSET(struct _URB_SELECT_CONFIGURATION, Interface))
#define RECORD_HEAD_SIZE ((ULONG)FIELD_OFFSET(USBD_INTERFACE_INFORMATION, Pipes))
#define PIPE_SIZE ((ULONG)sizeof(USBD_PIPE_INFORMATION))
#define MAXIMUM_URB_SIZE 0xFFFFu /* UrbHeader.Length is 16 bits */
#define MAXIMUM_LISTED_INTERFACES 15
#define PIPE_MAXIMUM_TRANSFER 4096
#define INTERFACE_DESCRIPTOR_TYPE 4
#define INTERFACE_DESCRIPTOR_SIZE 9
#define ANY (-1)
#if !defined(HC_USBD_HOSTED) && !defined(_WIN64)
_Static_assert(URB_HEAD_SIZE == 24 && RECORD_HEAD_SIZE == 16 && PIPE_SIZE == 20, "the 32-bit request layout");
#endif

/* The first descriptor of the type, at least minimum bytes long, from start on in the range of
 * total bytes at buffer; null when none (see the rules at the top). */
static PUCHAR FindDescriptor(PUCHAR buffer, ULONG total, PVOID start, LONG type, ULONG minimum) {
  ULONG_PTR at;
  if (!buffer || !start || (ULONG_PTR)start < (ULONG_PTR)buffer) return NULL;
  at = (ULONG_PTR)start - (ULONG_PTR)buffer;
  while (at < total && total - at >= 2) {
    ULONG length = buffer[at];
    if (length < 2 || length > total - at) return NULL;
    if ((LONG)buffer[at + 1] == type && length >= minimum) return buffer + at;
    at += length;
  }
  return NULL;
}

static BOOLEAN Matches(LONG wanted, UCHAR value) { return wanted == ANY || wanted == (LONG)value; }

static ULONG RecordLength(PUSB_INTERFACE_DESCRIPTOR d) {
  ULONG pipes = d->bNumEndpoints ? d->bNumEndpoints : 1; /* room for one pipe even without endpoints */
  return RECORD_HEAD_SIZE + pipes * PIPE_SIZE;
}

VOID NTAPI USBD_GetUSBDIVersion(PUSBD_VERSION_INFORMATION versionInformation) {
  if (!versionInformation) return;
  versionInformation->USBDI_Version = 0x101;
  versionInformation->Supported_USB_Version = 0x100;
}

PUSB_COMMON_DESCRIPTOR NTAPI USBD_ParseDescriptors(PVOID descriptorBuffer, ULONG totalLength, PVOID startPosition,
                                                   LONG descriptorType) {
  return (PUSB_COMMON_DESCRIPTOR)FindDescriptor((PUCHAR)descriptorBuffer, totalLength, startPosition, descriptorType,
                                                2);
}

PUSB_INTERFACE_DESCRIPTOR NTAPI USBD_ParseConfigurationDescriptorEx(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                                                                    PVOID startPosition, LONG interfaceNumber,
                                                                    LONG alternateSetting, LONG interfaceClass,
                                                                    LONG interfaceSubClass, LONG interfaceProtocol) {
  PUCHAR base = (PUCHAR)configuration;
  PVOID at = startPosition;
  ULONG total;
  if (!configuration) return NULL;
  total = configuration->wTotalLength;
  for (;;) {
    PUCHAR found = FindDescriptor(base, total, at, INTERFACE_DESCRIPTOR_TYPE, INTERFACE_DESCRIPTOR_SIZE);
    PUSB_INTERFACE_DESCRIPTOR d = (PUSB_INTERFACE_DESCRIPTOR)found;
    if (!d) return NULL;
    if (Matches(interfaceNumber, d->bInterfaceNumber) && Matches(alternateSetting, d->bAlternateSetting) &&
        Matches(interfaceClass, d->bInterfaceClass) && Matches(interfaceSubClass, d->bInterfaceSubClass) &&
        Matches(interfaceProtocol, d->bInterfaceProtocol))
      return d;
    at = found + d->bLength;
  }
}

PUSB_INTERFACE_DESCRIPTOR NTAPI USBD_ParseConfigurationDescriptor(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                                                                  UCHAR interfaceNumber, UCHAR alternateSetting) {
  return USBD_ParseConfigurationDescriptorEx(configuration, configuration, interfaceNumber, alternateSetting, ANY, ANY,
                                             ANY);
}

PURB NTAPI USBD_CreateConfigurationRequestEx(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                                             PUSBD_INTERFACE_LIST_ENTRY interfaceList) {
  PUSBD_INTERFACE_LIST_ENTRY entry;
  ULONG size = URB_HEAD_SIZE;
  PURB urb;
  PUCHAR at;
  if (!interfaceList || !interfaceList->InterfaceDescriptor) return NULL;
  /* Each record adds at most 16 + 255 x 20 bytes, and the sum stops at the 16-bit limit, so the
   * arithmetic cannot wrap however long the list is. */
  for (entry = interfaceList; entry->InterfaceDescriptor; ++entry) {
    ULONG record = RecordLength(entry->InterfaceDescriptor);
    if (record > MAXIMUM_URB_SIZE - size) return NULL;
    size += record;
  }
  urb = (PURB)ExAllocatePoolWithTag(NonPagedPool, size, HC_POOL_TAG);
  if (!urb) return NULL;
  /* Cleared, so that no stale pool bytes reach the fields the host-controller side fills or reads
   * (status, handles, the interface class triple, the room pipe of an interface without endpoints). */
  RtlZeroMemory(urb, size);
  at = (PUCHAR)&urb->UrbSelectConfiguration.Interface;
  for (entry = interfaceList; entry->InterfaceDescriptor; ++entry) {
    PUSB_INTERFACE_DESCRIPTOR d = entry->InterfaceDescriptor;
    PUSBD_INTERFACE_INFORMATION info = (PUSBD_INTERFACE_INFORMATION)at;
    PUSBD_PIPE_INFORMATION pipe = (PUSBD_PIPE_INFORMATION)(at + RECORD_HEAD_SIZE);
    ULONG i;
    info->Length = (USHORT)RecordLength(d);
    info->InterfaceNumber = d->bInterfaceNumber;
    info->AlternateSetting = d->bAlternateSetting;
    info->NumberOfPipes = d->bNumEndpoints;
    for (i = 0; i < d->bNumEndpoints; ++i) {
      pipe[i].MaximumTransferSize = PIPE_MAXIMUM_TRANSFER;
      pipe[i].PipeFlags = 0;
    }
    entry->Interface = info;
    at += info->Length;
  }
  urb->UrbHeader.Length = (USHORT)size;
  urb->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
  urb->UrbSelectConfiguration.ConfigurationDescriptor = configuration;
  return urb;
}

PURB NTAPI USBD_CreateConfigurationRequest(PUSB_CONFIGURATION_DESCRIPTOR configuration, PUSHORT siz) {
  USBD_INTERFACE_LIST_ENTRY list[MAXIMUM_LISTED_INTERFACES + 1];
  ULONG count, i;
  PURB urb;
  if (siz) *siz = 0;
  if (!configuration) return NULL;
  count = configuration->bNumInterfaces;
  if (count > MAXIMUM_LISTED_INTERFACES) return NULL;
  for (i = 0; i < count; ++i) {
    list[i].InterfaceDescriptor =
        USBD_ParseConfigurationDescriptorEx(configuration, configuration, (LONG)i, 0, ANY, ANY, ANY);
    list[i].Interface = NULL;
    if (!list[i].InterfaceDescriptor) return NULL;
  }
  list[count].InterfaceDescriptor = NULL;
  list[count].Interface = NULL;
  urb = USBD_CreateConfigurationRequestEx(configuration, list);
  if (urb && siz) *siz = urb->UrbHeader.Length;
  return urb;
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
