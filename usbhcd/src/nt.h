/* The kernel interface of usbhcd.sys: the driver kit's headers, plus the hardware accessors.
 *
 * On x86 (the shipped driver) the accessors are the HAL's and the kernel's exports, exactly as the
 * kit declares them. The kit makes them processor instructions on x86-64 (in/out, CR8 for the
 * IRQL), which only the 64-bit build of the user-mode test bed needs and which user mode cannot
 * execute; there the same routines are called through import slots of the same names, which the
 * test bed binds to its simulation like every other import. */
#ifndef USBHCD_NT_H
#define USBHCD_NT_H

#define _WIN2K_COMPAT_SLIST_USAGE
#include <ntddk.h>

#include "legacy_hal.h"

#define HC_TAG(a, b, c, d) ((ULONG)(a) | ((ULONG)(b) << 8) | ((ULONG)(c) << 16) | ((ULONG)(d) << 24))

#if defined(__x86_64__)
#define HC_IMPORT(ret, name, args) extern ret(NTAPI *__imp_##name) args;
HC_IMPORT(UCHAR, READ_PORT_UCHAR, (PUCHAR))
HC_IMPORT(USHORT, READ_PORT_USHORT, (PUSHORT))
HC_IMPORT(ULONG, READ_PORT_ULONG, (PULONG))
HC_IMPORT(VOID, WRITE_PORT_UCHAR, (PUCHAR, UCHAR))
HC_IMPORT(VOID, WRITE_PORT_USHORT, (PUSHORT, USHORT))
HC_IMPORT(VOID, WRITE_PORT_ULONG, (PULONG, ULONG))
HC_IMPORT(ULONG, READ_REGISTER_ULONG, (volatile ULONG *))
HC_IMPORT(VOID, WRITE_REGISTER_ULONG, (volatile ULONG *, ULONG))
HC_IMPORT(KIRQL, KeGetCurrentIrql, (VOID))
#define HcReadPortUchar(p) (__imp_READ_PORT_UCHAR((PUCHAR)(p)))
#define HcReadPortUshort(p) (__imp_READ_PORT_USHORT((PUSHORT)(p)))
#define HcReadPortUlong(p) (__imp_READ_PORT_ULONG((PULONG)(p)))
#define HcWritePortUchar(p, v) (__imp_WRITE_PORT_UCHAR((PUCHAR)(p), (v)))
#define HcWritePortUshort(p, v) (__imp_WRITE_PORT_USHORT((PUSHORT)(p), (v)))
#define HcWritePortUlong(p, v) (__imp_WRITE_PORT_ULONG((PULONG)(p), (v)))
#define HcReadRegisterUlong(p) (__imp_READ_REGISTER_ULONG((volatile ULONG *)(p)))
#define HcWriteRegisterUlong(p, v) (__imp_WRITE_REGISTER_ULONG((volatile ULONG *)(p), (v)))
#define HcCurrentIrql() (__imp_KeGetCurrentIrql())
#else
#define HcReadPortUchar(p) READ_PORT_UCHAR((PUCHAR)(p))
#define HcReadPortUshort(p) READ_PORT_USHORT((PUSHORT)(p))
#define HcReadPortUlong(p) READ_PORT_ULONG((PULONG)(p))
#define HcWritePortUchar(p, v) WRITE_PORT_UCHAR((PUCHAR)(p), (v))
#define HcWritePortUshort(p, v) WRITE_PORT_USHORT((PUSHORT)(p), (v))
#define HcWritePortUlong(p, v) WRITE_PORT_ULONG((PULONG)(p), (v))
#define HcReadRegisterUlong(p) READ_REGISTER_ULONG((PULONG)(p))
#define HcWriteRegisterUlong(p, v) WRITE_REGISTER_ULONG((PULONG)(p), (v))
#define HcCurrentIrql() KeGetCurrentIrql()
#endif

#endif
