/* The driver kit's types and pool routines as the USBD helpers (src/usbd.c) use them, for the
 * native build on the host, where the helpers run under the sanitizers. The layouts follow the
 * kit's declarations (descriptors byte-packed, requests naturally aligned); the word sizes are the
 * host's, which the helpers handle as they do those of the 64-bit driver. The test defines the
 * pool routines. */
#ifndef USBD_HOSTED_H
#define USBD_HOSTED_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

#define NTAPI
#define VOID void
typedef void *PVOID;
typedef uint8_t UCHAR, *PUCHAR, BOOLEAN;
typedef uint16_t USHORT, *PUSHORT;
typedef uint32_t ULONG, *PULONG;
typedef int32_t LONG;
typedef uintptr_t ULONG_PTR;
typedef int32_t USBD_STATUS;

#define FIELD_OFFSET(type, field) ((LONG)offsetof(type, field))
#define RtlZeroMemory(p, n) memset((p), 0, (n))

typedef enum { NonPagedPool = 0 } POOL_TYPE;
PVOID ExAllocatePoolWithTag(POOL_TYPE type, size_t size, ULONG tag);
VOID ExFreePool(PVOID block);
#define HC_POOL_TAG ((ULONG)'D' | ((ULONG)'d' << 8) | ((ULONG)'k' << 16) | ((ULONG)' ' << 24))

#pragma pack(push, 1)
typedef struct _USB_COMMON_DESCRIPTOR {
  UCHAR bLength;
  UCHAR bDescriptorType;
} USB_COMMON_DESCRIPTOR, *PUSB_COMMON_DESCRIPTOR;

typedef struct _USB_CONFIGURATION_DESCRIPTOR {
  UCHAR bLength;
  UCHAR bDescriptorType;
  USHORT wTotalLength;
  UCHAR bNumInterfaces;
  UCHAR bConfigurationValue;
  UCHAR iConfiguration;
  UCHAR bmAttributes;
  UCHAR MaxPower;
} USB_CONFIGURATION_DESCRIPTOR, *PUSB_CONFIGURATION_DESCRIPTOR;

typedef struct _USB_INTERFACE_DESCRIPTOR {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bInterfaceNumber;
  UCHAR bAlternateSetting;
  UCHAR bNumEndpoints;
  UCHAR bInterfaceClass;
  UCHAR bInterfaceSubClass;
  UCHAR bInterfaceProtocol;
  UCHAR iInterface;
} USB_INTERFACE_DESCRIPTOR, *PUSB_INTERFACE_DESCRIPTOR;
#pragma pack(pop)

typedef struct _USBD_PIPE_INFORMATION {
  USHORT MaximumPacketSize;
  UCHAR EndpointAddress;
  UCHAR Interval;
  int PipeType;
  PVOID PipeHandle;
  ULONG MaximumTransferSize;
  ULONG PipeFlags;
} USBD_PIPE_INFORMATION, *PUSBD_PIPE_INFORMATION;

typedef struct _USBD_INTERFACE_INFORMATION {
  USHORT Length;
  UCHAR InterfaceNumber;
  UCHAR AlternateSetting;
  UCHAR Class;
  UCHAR SubClass;
  UCHAR Protocol;
  UCHAR Reserved;
  PVOID InterfaceHandle;
  ULONG NumberOfPipes;
  USBD_PIPE_INFORMATION Pipes[1];
} USBD_INTERFACE_INFORMATION, *PUSBD_INTERFACE_INFORMATION;

struct _URB_HEADER {
  USHORT Length;
  USHORT Function;
  USBD_STATUS Status;
  PVOID UsbdDeviceHandle;
  ULONG UsbdFlags;
};

struct _URB_SELECT_CONFIGURATION {
  struct _URB_HEADER Hdr;
  PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor;
  PVOID ConfigurationHandle;
  USBD_INTERFACE_INFORMATION Interface;
};

typedef struct _URB {
  union {
    struct _URB_HEADER UrbHeader;
    struct _URB_SELECT_CONFIGURATION UrbSelectConfiguration;
  };
} URB, *PURB;

#define URB_FUNCTION_SELECT_CONFIGURATION 0x0000

typedef struct _USBD_INTERFACE_LIST_ENTRY {
  PUSB_INTERFACE_DESCRIPTOR InterfaceDescriptor;
  PUSBD_INTERFACE_INFORMATION Interface;
} USBD_INTERFACE_LIST_ENTRY, *PUSBD_INTERFACE_LIST_ENTRY;

typedef struct _USBD_VERSION_INFORMATION {
  ULONG USBDI_Version;
  ULONG Supported_USB_Version;
} USBD_VERSION_INFORMATION, *PUSBD_VERSION_INFORMATION;

VOID USBD_GetUSBDIVersion(PUSBD_VERSION_INFORMATION versionInformation);
PUSB_COMMON_DESCRIPTOR USBD_ParseDescriptors(PVOID descriptorBuffer, ULONG totalLength, PVOID startPosition,
                                             LONG descriptorType);
PUSB_INTERFACE_DESCRIPTOR USBD_ParseConfigurationDescriptorEx(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                                                              PVOID startPosition, LONG interfaceNumber,
                                                              LONG alternateSetting, LONG interfaceClass,
                                                              LONG interfaceSubClass, LONG interfaceProtocol);
PUSB_INTERFACE_DESCRIPTOR USBD_ParseConfigurationDescriptor(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                                                            UCHAR interfaceNumber, UCHAR alternateSetting);
PURB USBD_CreateConfigurationRequestEx(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                                       PUSBD_INTERFACE_LIST_ENTRY interfaceList);
PURB USBD_CreateConfigurationRequest(PUSB_CONFIGURATION_DESCRIPTOR configuration, PUSHORT siz);
extern PVOID const HcHelperTable[6];

#ifdef __cplusplus
}
#endif

#endif
