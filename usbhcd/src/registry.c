/* usbhcd.sys: the service key's values, the per-controller keys and text formatting. */
#include <stdarg.h>
#include "usbhcd.h"

/* The compiler may call these for structure copies and clears; there is no C runtime. */
void *memset(void *destination, int value, size_t count) {
  volatile unsigned char *d = (volatile unsigned char *)destination;
  while (count--) *d++ = (unsigned char)value;
  return destination;
}

void *memcpy(void *destination, const void *source, size_t count) {
  volatile unsigned char *d = (volatile unsigned char *)destination;
  const unsigned char *s = (const unsigned char *)source;
  while (count--) *d++ = *s++;
  return destination;
}

static ULONG PutChar(PWCHAR out, ULONG capacity, ULONG at, WCHAR c) {
  if (at + 1 < capacity) out[at] = c;
  return at + 1;
}

static ULONG PutNumber(PWCHAR out, ULONG capacity, ULONG at, ULONG value, ULONG base, ULONG width) {
  WCHAR digits[12];
  ULONG n = 0;
  do {
    ULONG digit = value % base;
    digits[n++] = (WCHAR)(digit < 10 ? L'0' + digit : L'A' + digit - 10);
    value /= base;
  } while (value && n < 12);
  while (n < width && n < 12) digits[n++] = L'0';
  while (n) at = PutChar(out, capacity, at, digits[--n]);
  return at;
}

/* A small formatter for key names and values: %u, %04X and %wZ. Always terminates the output
 * (capacity in characters); returns the characters the whole text needs. */
ULONG HcFormat(PWCHAR out, ULONG capacity, PCSTR format, ...) {
  va_list args;
  ULONG at = 0;
  va_start(args, format);
  for (; *format; ++format) {
    if (*format != '%') {
      at = PutChar(out, capacity, at, (WCHAR)*format);
      continue;
    }
    ++format;
    if (*format == 'u') {
      at = PutNumber(out, capacity, at, va_arg(args, ULONG), 10, 0);
    } else if (format[0] == '0' && format[1] == '4' && format[2] == 'X') {
      at = PutNumber(out, capacity, at, va_arg(args, ULONG), 16, 4);
      format += 2;
    } else if (format[0] == 'w' && format[1] == 'Z') {
      PUNICODE_STRING s = va_arg(args, PUNICODE_STRING);
      ULONG i;
      for (i = 0; s && i < s->Length / sizeof(WCHAR); ++i) at = PutChar(out, capacity, at, s->Buffer[i]);
      ++format;
    } else if (*format == '%') {
      at = PutChar(out, capacity, at, L'%');
    } else {
      break;
    }
  }
  va_end(args);
  if (capacity) out[at < capacity ? at : capacity - 1] = 0;
  return at;
}

VOID HcFreeString(PUNICODE_STRING string) {
  if (string->Buffer) ExFreePool(string->Buffer);
  string->Buffer = NULL;
  string->Length = string->MaximumLength = 0;
}

static NTSTATUS FormatString(PUNICODE_STRING result, PCSTR format, PUNICODE_STRING path, ULONG number) {
  ULONG characters = HcFormat(NULL, 0, format, path, number);
  if (characters >= 0x7FFF) return STATUS_NAME_TOO_LONG;
  result->Buffer = (PWCH)ExAllocatePoolWithTag(PagedPool, (characters + 1) * sizeof(WCHAR), HC_POOL_TAG);
  if (!result->Buffer) return STATUS_INSUFFICIENT_RESOURCES;
  HcFormat(result->Buffer, characters + 1, format, path, number);
  result->Length = (USHORT)(characters * sizeof(WCHAR));
  result->MaximumLength = (USHORT)((characters + 1) * sizeof(WCHAR));
  return STATUS_SUCCESS;
}

NTSTATUS HcControllerKeyPath(ULONG number, PUNICODE_STRING path) {
  return FormatString(path, "%wZ\\Parameters\\UsbHc%u", &HcDriver.RegistryPath, number);
}

static NTSTATUS OpenRelative(HANDLE root, PUNICODE_STRING name, HANDLE *key, BOOLEAN create) {
  OBJECT_ATTRIBUTES attributes;
  ULONG disposition;
  InitializeObjectAttributes(&attributes, name, OBJ_CASE_INSENSITIVE, root, NULL);
  if (create) return ZwCreateKey(key, KEY_ALL_ACCESS, &attributes, 0, NULL, REG_OPTION_NON_VOLATILE, &disposition);
  return ZwOpenKey(key, KEY_ALL_ACCESS, &attributes);
}

NTSTATUS HcOpenKey(PUNICODE_STRING path, HANDLE *key) { return OpenRelative(NULL, path, key, FALSE); }

static BOOLEAN QueryDword(HANDLE key, PCWSTR name, ULONG *value) {
  /* KEY_VALUE_PARTIAL_INFORMATION with room for a few bytes more than a REG_DWORD, so that a
   * longer value shows its true length and is refused. */
  ULONG buffer[8];
  PKEY_VALUE_PARTIAL_INFORMATION info = (PKEY_VALUE_PARTIAL_INFORMATION)buffer;
  UNICODE_STRING valueName;
  ULONG length = 0;
  NTSTATUS status;
  RtlInitUnicodeString(&valueName, name);
  status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, info, sizeof(buffer), &length);
  if (!NT_SUCCESS(status) || info->Type != REG_DWORD || info->DataLength != sizeof(ULONG)) return FALSE;
  *value = *(ULONG UNALIGNED *)info->Data;
  return TRUE;
}

BOOLEAN HcReadDword(PUNICODE_STRING keyPath, PCWSTR name, ULONG *value) {
  HANDLE key;
  BOOLEAN found;
  if (!NT_SUCCESS(HcOpenKey(keyPath, &key))) return FALSE;
  found = QueryDword(key, name, value);
  ZwClose(key);
  return found;
}

static NTSTATUS SetValue(HANDLE key, PCWSTR name, ULONG type, PVOID data, ULONG length) {
  UNICODE_STRING valueName;
  RtlInitUnicodeString(&valueName, name);
  return ZwSetValueKey(key, &valueName, 0, type, data, length);
}

static NTSTATUS SetDword(HANDLE key, PCWSTR name, ULONG value) {
  return SetValue(key, name, REG_DWORD, &value, sizeof(value));
}

NTSTATUS HcWriteControllerValues(HC_EXTENSION *hc) {
  UNICODE_STRING parameters, name;
  HANDLE parametersKey, key;
  WCHAR text[32], keyName[16];
  NTSTATUS status;

  RtlInitUnicodeString(&parameters, L"Parameters");
  {
    HANDLE service;
    status = HcOpenKey(&HcDriver.RegistryPath, &service);
    if (!NT_SUCCESS(status)) return status;
    status = OpenRelative(service, &parameters, &parametersKey, TRUE);
    ZwClose(service);
    if (!NT_SUCCESS(status)) return status;
  }
  HcFormat(keyName, 16, "UsbHc%u", hc->Number);
  RtlInitUnicodeString(&name, keyName);
  status = OpenRelative(parametersKey, &name, &key, TRUE);
  ZwClose(parametersKey);
  if (!NT_SUCCESS(status)) return status;

  {
    ULONG characters = HcFormat(text, 32, "VEN%04X_DEV%04X", (ULONG)hc->VendorId, (ULONG)hc->DeviceId);
    status = SetValue(key, L"PciID", REG_SZ, text, (characters + 1) * sizeof(WCHAR));
  }
  if (NT_SUCCESS(status)) {
    PCWSTR type = hc->Type == HC_TYPE_UHCI ? L"UHCI" : L"OHCI";
    status = SetValue(key, L"Type", REG_SZ, (PVOID)type, 5 * sizeof(WCHAR));
  }
  if (NT_SUCCESS(status)) status = SetDword(key, L"Revision", hc->Revision);
  if (NT_SUCCESS(status)) status = SetDword(key, L"SubVendorID", hc->SubVendorId);
  if (NT_SUCCESS(status)) status = SetDword(key, L"SubSystemID", hc->SubSystemId);
  if (NT_SUCCESS(status)) status = SetDword(key, L"BusNumber", hc->Bus);
  if (NT_SUCCESS(status)) status = SetDword(key, L"DeviceNumber", hc->Slot & 0x1F);
  if (NT_SUCCESS(status)) status = SetDword(key, L"FunctionNumber", (hc->Slot >> 5) & 0x7);
  ZwClose(key);
  return status;
}

/* Deletes an open key with everything below it, and closes it. Each level's enumeration buffer
 * comes from pool: the kernel stack is small. */
static VOID DeleteTree(HANDLE key, ULONG depth) {
  const ULONG size = sizeof(KEY_BASIC_INFORMATION) + 256 * sizeof(WCHAR);
  PKEY_BASIC_INFORMATION info = (PKEY_BASIC_INFORMATION)ExAllocatePoolWithTag(PagedPool, size, HC_POOL_TAG);
  ULONG length;
  while (info && depth < 16 && NT_SUCCESS(ZwEnumerateKey(key, 0, KeyBasicInformation, info, size, &length))) {
    UNICODE_STRING name;
    HANDLE child;
    name.Buffer = info->Name;
    name.Length = name.MaximumLength = (USHORT)info->NameLength;
    if (!NT_SUCCESS(OpenRelative(key, &name, &child, FALSE))) break;
    DeleteTree(child, depth + 1);
    /* A sub-key that could not be deleted would be enumerated again for ever. */
    if (NT_SUCCESS(OpenRelative(key, &name, &child, FALSE))) {
      ZwClose(child);
      break;
    }
  }
  if (info) ExFreePool(info);
  ZwDeleteKey(key);
  ZwClose(key);
}

VOID HcDeleteStaleControllerKeys(ULONG fromNumber) {
  ULONG number;
  for (number = fromNumber;; ++number) {
    UNICODE_STRING path;
    HANDLE key;
    NTSTATUS status;
    if (!NT_SUCCESS(HcControllerKeyPath(number, &path))) return;
    status = HcOpenKey(&path, &key);
    HcFreeString(&path);
    if (!NT_SUCCESS(status)) return;
    DbgPrint("usbhcd: deleting the stale key of controller %u\n", number);
    DeleteTree(key, 0);
  }
}
