/* usbhcd.sys: the shared declarations of the host-controller driver. */
#ifndef USBHCD_H
#define USBHCD_H

#include "nt.h"

#include <usb.h>

/* Pool tags. */
#define HC_POOL_TAG HC_TAG('D', 'd', 'k', ' ')
#define HC_DEVICE_TAG HC_TAG('U', 'd', 'e', 'v')
#define HC_PIPE_TAG HC_TAG('P', 'i', 'p', 'e')
#define HC_LOOKASIDE_TAG HC_TAG('U', 'h', 'c', 'd')
#define HC_TRANSFER_TAG HC_TAG('U', 'x', 'f', 'r')

/* Internal device-control codes. */
#define IOCTL_HC_SUBMIT_URB 0x220003
#define IOCTL_HC_RESET_PORT 0x220007
#define IOCTL_HC_CREATE_DEVICE 0x222003
#define IOCTL_HC_SET_ADDRESS 0x222007
#define IOCTL_HC_CLOSE_DEVICE 0x22200B
#define IOCTL_HC_REGISTER_CALLBACK 0x222033
#define IOCTL_HC_HELPER_TABLE 0x222EE0
#define IOCTL_HC_REGISTRY_PATH 0x222EE4

#define HC_TYPE_OHCI 0
#define HC_TYPE_UHCI 1

#define HC_DEVICE_TYPE_CONTROL 0xFFFF
#define HC_DEVICE_TYPE_USB 0x22

/* Extension state flags. */
#define HC_STATE_STOPPING 0x01
#define HC_STATE_REMOVED 0x02
#define HC_STATE_SHUTDOWN_REGISTERED 0x04
#define HC_STATE_STARTED 0x08
#define HC_STATE_INTERRUPT_CONNECTED 0x10
#define HC_STATE_INITIALISED 0x20

typedef struct _HC_EXTENSION HC_EXTENSION;
typedef struct _HC_PIPE HC_PIPE;
typedef struct _HC_TRANSFER HC_TRANSFER;

/* A pool of equal blocks cut from 4,096-byte common-buffer pages. The last bytes of every block
 * are its trailer: the owning pool, the free-list link and the block's physical address (12 bytes
 * in the 32-bit driver). */
typedef struct _HC_BLOCK_TRAILER {
  struct _HC_POOL *Pool;
  struct _HC_BLOCK_TRAILER *Next;
  ULONG Physical;
} HC_BLOCK_TRAILER;

typedef struct _HC_POOL_PAGE {
  struct _HC_POOL_PAGE *Next;
  PVOID Virtual;
  PHYSICAL_ADDRESS Physical;
} HC_POOL_PAGE;

typedef struct _HC_POOL {
  KSPIN_LOCK Lock;
  PADAPTER_OBJECT Adapter;
  ULONG BlockSize;
  ULONG HardwareSize;
  ULONG MaximumBlocks;
  ULONG Blocks;     /* blocks cut so far */
  ULONG FreeBlocks; /* on the free list */
  HC_BLOCK_TRAILER *Free;
  HC_POOL_PAGE *Pages;
} HC_POOL;

#define HC_PAGE_SIZE 4096
#define HC_TRAILER_SIZE ((ULONG)sizeof(HC_BLOCK_TRAILER))

HC_POOL *HcPoolCreate(PADAPTER_OBJECT adapter, ULONG initialBlocks, ULONG hardwareSize, ULONG maximumBlocks,
                      ULONG blockSize);
PVOID HcPoolAllocate(HC_POOL *pool, ULONG *physical);
VOID HcPoolFree(HC_POOL *pool, PVOID block);
PVOID HcPoolFindPhysical(HC_POOL *pool, ULONG physical);
PVOID HcPoolFindBlock(HC_POOL *pool, ULONG physical); /* only the exact start of a block */
VOID HcPoolDestroy(HC_POOL *pool);
ULONG HcPoolBlockPhysical(HC_POOL *pool, PVOID block);

/* The operations of one controller type; all generic code reaches the hardware through them.
 * Entries that are null are not provided by that type (yet). */
typedef struct _HC_OPERATIONS {
  NTSTATUS (*Initialise)(HC_EXTENSION *hc);
  VOID (*Stop)(HC_EXTENSION *hc);
  VOID (*Start)(HC_EXTENSION *hc);
  VOID (*Reset)(HC_EXTENSION *hc);
  VOID (*FreeSchedule)(HC_EXTENSION *hc);
  /* Root hub. */
  ULONG (*HubStatus)(HC_EXTENSION *hc);
  ULONG (*PortStatus)(HC_EXTENSION *hc, ULONG port);
  VOID (*SetPortFeature)(HC_EXTENSION *hc, ULONG port, ULONG feature);
  VOID (*ClearPortFeature)(HC_EXTENSION *hc, ULONG port, ULONG feature);
  VOID (*HubDescriptor)(HC_EXTENSION *hc, PUCHAR descriptor); /* completes the template in place */
  /* Queues a request of the root hub's status-change pipe (on ChangeRequests) and arms what
   * reports the next change: pending. */
  USBD_STATUS (*ChangePipe)(HC_EXTENSION *hc, HC_TRANSFER *transfer);
  NTSTATUS (*ResetPort)(HC_EXTENSION *hc, PIRP irp);
  /* Pipes and transfers. */
  NTSTATUS (*OpenPipe)(HC_EXTENSION *hc, HC_PIPE *pipe);
  /* Takes the pipe off the schedule. TRUE: the controller may still hold its descriptors, and the
   * type frees the pipe record itself (ExFreePool) once it has let go of them. */
  BOOLEAN (*ClosePipe)(HC_EXTENSION *hc, HC_PIPE *pipe);
  VOID (*UpdatePipe)(HC_EXTENSION *hc, HC_PIPE *pipe);
  /* Queues a transfer on its pipe's schedule: pending, or a status when it cannot be queued (the
   * caller then completes it). A queued transfer comes back through HcFinishTransfer. */
  USBD_STATUS (*SubmitTransfer)(HC_EXTENSION *hc, HC_TRANSFER *transfer);
  /* Takes every transfer of the pipe off the schedule (they finish cancelled): success when
   * none was left, pending while the hardware may still hold them. */
  NTSTATUS (*AbortPipe)(HC_EXTENSION *hc, HC_PIPE *pipe);
  VOID (*ResetPipe)(HC_EXTENSION *hc, HC_PIPE *pipe); /* halt cleared, data toggle DATA0 */
  ULONG (*FrameNumber)(HC_EXTENSION *hc);
  BOOLEAN (*InterruptService)(HC_EXTENSION *hc);
  VOID (*DeferredCompletion)(HC_EXTENSION *hc);
} HC_OPERATIONS;

extern const HC_OPERATIONS HcOhciOperations;
extern const HC_OPERATIONS HcUhciOperations;

/* A USB device handle, tag "Udev". */
typedef struct _HC_DEVICE_HANDLE {
  LIST_ENTRY Link; /* in the controller's device list */
  HC_EXTENSION *Controller;
  ULONG Flags; /* bit 0 low speed, bit 1 root hub */
  LIST_ENTRY Pipes;
  HC_PIPE *DefaultPipe;
  PVOID Configuration; /* the current configuration descriptor copy */
} HC_DEVICE_HANDLE;

#define HC_HANDLE_LOW_SPEED 0x01
#define HC_HANDLE_ROOT_HUB 0x02

/* A pipe, tag "Pipe". */
struct _HC_PIPE {
  ULONG Tag;
  LIST_ENTRY Link; /* in the device handle's pipe list */
  HC_EXTENSION *Controller;
  HC_DEVICE_HANDLE *Device;
  UCHAR Endpoint[7]; /* the endpoint descriptor */
  ULONG Type;        /* 0 control, 1 isochronous, 2 bulk, 3 interrupt */
  ULONG Flags;
  ULONG Address;   /* the device's USB address */
  ULONG Parameter; /* the 16-bit parameter given with the address */
  LIST_ENTRY Transfers;
  PVOID Hardware;  /* the type's schedule entry */
  UCHAR Interface; /* interface number; 0xFF for the default pipe */
  ULONG Polling;   /* P: the interrupt-tree level's first node; polled every P + 1 frames */
  KTIMER AbortTimer;
  KDPC AbortDpc;
  PIRP AbortIrp; /* the abort request the timer waits to complete */
  PURB AbortUrb;
};

/* One queued transfer: a transfer URB on its pipe, with what the schedule has made of it. */
struct _HC_TRANSFER {
  LIST_ENTRY Link; /* in the pipe's transfer list, then on the pending-completion list */
  HC_PIPE *Pipe;
  PURB Urb;
  PIRP Irp; /* null for the driver's own requests (their URB's status tells the end) */
  PUCHAR Buffer;
  ULONG Length;
  ULONG Flags; /* transfer flags: bit 0 in, bit 1 short transfer OK */
  ULONG Moved;
  USBD_STATUS Status;
  BOOLEAN Started;
  /* The UHCI schedule: packets of the transfer (control: setup, data ..., status) and the
   * descriptors of the batch on the hardware now. */
  ULONG Packets;
  ULONG FirstPacket; /* of the current batch */
  ULONG BatchCount;
  ULONG DataStart;      /* index of the first data packet */
  PVOID Td[128];        /* blocks */
  PVOID Extra[128];     /* the extra block a straddling packet uses, or null */
  ULONG Checked;        /* descriptors of the batch accounted for */
  ULONG NextPhysical;   /* OHCI: the descriptor after the transfer's last (the controller reuses links) */
  USHORT IsoFirst[128]; /* OHCI isochronous: the first packet of each descriptor */
  ULONG IsoStart;       /* isochronous: the frame of packet 0 */
  PVOID *IsoBlocks;     /* UHCI isochronous: per packet its descriptor block and its extra block, or null */
  /* Taken off the hardware (cancelled), waiting for the frame to pass before it is freed. */
  BOOLEAN Retiring;
  ULONG RetireFrame;
  LIST_ENTRY RetireLink;
};

#define HC_PIPE_LOW_SPEED 0x001
#define HC_PIPE_ROOT_HUB 0x002
#define HC_PIPE_IN 0x004
#define HC_PIPE_CONTROL 0x0A0
#define HC_PIPE_ISOCHRONOUS 0x040
#define HC_PIPE_BULK 0x088
#define HC_PIPE_INTERRUPT 0x010
#define HC_PIPE_HALTED 0x100

typedef struct _HC_OHCI_STATE {
  PVOID Hcca;
  PHYSICAL_ADDRESS HccaBufferPhysical;
  PVOID HccaBuffer;
  ULONG HccaBufferLength;
  PVOID TreeNodes[63];
  ULONG TreePhysical[63];
  LIST_ENTRY DoneLists[2];
  KDPC DoneDpc;
  KDPC CompletionDpc;
  BOOLEAN DpcsReady;
  ULONG RhDescriptorA;
  KSPIN_LOCK ScheduleLock;
  ULONG NodeBandwidth[63];
  ULONG DoneHead;     /* handed from the interrupt routine to the deferred procedure */
  ULONG FrameHigh;    /* the upper part of the 32-bit frame number */
  LIST_ENTRY Pipes;   /* every pipe with an endpoint descriptor */
  LIST_ENTRY Cancels; /* skipped endpoints whose transfers are cancelled at the next start of frame */
  LIST_ENTRY Removed; /* unlinked endpoints, freed at the next start of frame */
} HC_OHCI_STATE;

typedef struct _HC_UHCI_STATE {
  PULONG FrameList;
  PHYSICAL_ADDRESS FrameListPhysical;
  USHORT LegacySupport;
  BOOLEAN LegacySaved;
  BOOLEAN LookasideReady;
  NPAGED_LOOKASIDE_LIST Lookaside;
  PVOID TreeNodes[63];
  ULONG TreePhysical[63];
  PVOID ControlQueueHead;
  PVOID ControlTd;
  BOOLEAN DpcsReady;
  KDPC CompletionDpc;
  KDPC IsrDpc;
  KTIMER Timer; /* the root hub's periodic change check */
  KDPC ChangeDpc;
  KDPC PortDpc[2];
  KTIMER PortTimer[2];
  ULONG PortChange[2];   /* the root-hub ports' software change flags (HC_UHCI_PORT_...) */
  HC_POOL *ExtraPool;    /* blocks for packets that straddle a page */
  HC_POOL *IsoExtraPool; /* the same for isochronous packets, up to 1,023 bytes */
  KSPIN_LOCK ScheduleLock;
  ULONG NodeBandwidth[63];
  LIST_ENTRY AsyncPipes; /* control and bulk queue heads, in the order they are linked */
  LONG Reclaim;          /* queued full-speed control and bulk transfers */
  ULONG LastFrame;
  LIST_ENTRY ActivePipes; /* pipes with a transfer on the hardware */
  LIST_ENTRY Retiring;    /* cancelled transfers whose descriptors the controller may still hold */
  LIST_ENTRY ClosedPipes; /* closed pipes whose queue heads it may still hold */
} HC_UHCI_STATE;

struct _HC_EXTENSION {
  ULONG Type;
  const HC_OPERATIONS *Ops;
  ULONG Number;
  ULONG Bus;
  ULONG Slot;
  PDEVICE_OBJECT Self;
  USHORT VendorId;
  USHORT DeviceId;
  UCHAR Revision;
  UCHAR InterruptPin;
  USHORT SubVendorId;
  USHORT SubSystemId;
  ULONG Vector;
  KIRQL Irql;
  KIRQL SynchronizeIrql;
  KAFFINITY Affinity;
  KINTERRUPT_MODE InterruptMode;
  BOOLEAN SharedInterrupt;
  BOOLEAN RegistersMapped;
  BOOLEAN ResourcesClaimed;
  PUCHAR Registers; /* I/O port base (UHCI) or mapped memory (OHCI) */
  ULONG RegisterLength;
  PADAPTER_OBJECT Adapter;
  ULONG MapRegisters;
  HC_POOL *GeneralPool;
  HC_POOL *DescriptorPool;
  PKINTERRUPT Interrupt;
  KSPIN_LOCK InterruptLock;
  LIST_ENTRY Devices;
  KSPIN_LOCK DeviceLock;
  ULONG State;
  ULONG InterruptCount;
  LIST_ENTRY PendingCompletions; /* finished transfers the deferred procedure completes */
  LIST_ENTRY ChangeRequests;     /* the root hub's status-change requests waiting for a change */
  ULONG BadDoneHeads;
  union {
    HC_OHCI_STATE Ohci;
    HC_UHCI_STATE Uhci;
  } u;
};

/* Driver-wide state. */
typedef VOID(NTAPI *HC_REGISTER_CALLBACK)(PDEVICE_OBJECT controller);

typedef struct _HC_DRIVER {
  PDRIVER_OBJECT DriverObject;
  UNICODE_STRING RegistryPath; /* our copy, zero-terminated */
  BOOLEAN IgnoreOhci;
  BOOLEAN IgnoreUhci;
  PDEVICE_OBJECT ControlDevice;
  HC_REGISTER_CALLBACK Callback;
  ULONG ControllerCount;
  KIRQL SynchronizeIrql;
} HC_DRIVER;

extern HC_DRIVER HcDriver;

/* discovery.c */
VOID HcDiscover(VOID);
VOID HcTeardown(HC_EXTENSION *hc);
VOID HcStopController(HC_EXTENSION *hc);

/* registry.c */
NTSTATUS HcOpenKey(PUNICODE_STRING path, HANDLE *key);
BOOLEAN HcReadDword(PUNICODE_STRING keyPath, PCWSTR name, ULONG *value);
NTSTATUS HcControllerKeyPath(ULONG number, PUNICODE_STRING path); /* pool string, freed by HcFreeString */
VOID HcFreeString(PUNICODE_STRING string);
NTSTATUS HcWriteControllerValues(HC_EXTENSION *hc);
VOID HcDeleteStaleControllerKeys(ULONG fromNumber);
ULONG HcFormat(PWCHAR out, ULONG capacity, PCSTR format, ...); /* %u %04X %wZ; returns characters */

/* devices.c */
NTSTATUS HcCreateDeviceHandle(HC_EXTENSION *hc, PVOID *handleOut, ULONG flags);
NTSTATUS HcSetAddress(HC_EXTENSION *hc, HC_DEVICE_HANDLE *handle, ULONG address, ULONG parameter);
NTSTATUS HcCloseDeviceHandle(HC_EXTENSION *hc, HC_DEVICE_HANDLE *handle);
VOID HcCloseAllDeviceHandles(HC_EXTENSION *hc);

/* pipes.c: URBs, pipes and transfers common to both controller types. */
NTSTATUS HcDispatchUrb(HC_EXTENSION *hc, PIRP irp);
HC_PIPE *HcOpenPipe(HC_EXTENSION *hc, HC_DEVICE_HANDLE *handle, const UCHAR *endpoint, UCHAR interfaceNumber);
VOID HcClosePipe(HC_EXTENSION *hc, HC_PIPE *pipe);
/* A transfer the schedule is done with: off its pipe's list (the type's schedule lock held) and
 * onto the pending-completion list; the completion deferred procedure completes it. */
VOID HcFinishTransfer(HC_EXTENSION *hc, HC_TRANSFER *transfer, USBD_STATUS status);
VOID HcCompletePending(HC_EXTENSION *hc);
BOOLEAN HcSynchronize(HC_EXTENSION *hc, PKSYNCHRONIZE_ROUTINE routine, PVOID context);
ULONG HcPollingValue(UCHAR interval);
/* Isochronous URBs: the packet array fits the URB, and each packet's bytes (from its offset to the
 * next packet's, the last to the buffer's end) lie in the buffer and fit the pipe's packet size. */
BOOLEAN HcIsochronousPacketsValid(HC_TRANSFER *transfer, ULONG maximumPacket);
/* The frame of packet 0: the URB's, or as soon as possible, the frame after the pipe's last
 * queued one (next, when still ahead of now) or else two frames on from now. */
ULONG HcIsochronousStartFrame(HC_TRANSFER *transfer, ULONG next, ULONG now);
NTSTATUS HcUrbToNtStatus(USBD_STATUS status);

/* roothub.c: the root hub each controller presents to the hub driver above as a USB 1.x hub. */
#define HC_UHCI_PORTS 2
#define HC_UHCI_PORT_RESET_CHANGE 0x01
#define HC_UHCI_PORT_SUSPEND_CHANGE 0x02
#define HC_UHCI_PORT_RESET_IN_PROGRESS 0x04
#define HC_HUB_DESCRIPTOR_AREA 71
/* A control request to the root hub, answered at once: its status and the bytes it moved. */
USBD_STATUS HcRootHubRequest(HC_EXTENSION *hc, const UCHAR *setup, PUCHAR buffer, ULONG length, ULONG *moved);
/* A status-change request: checked, its buffer cleared and handed to the type's change pipe. */
USBD_STATUS HcRootHubChangeRequest(HC_EXTENSION *hc, HC_TRANSFER *transfer);
/* The pipe's waiting change requests end cancelled and are completed. */
VOID HcRootHubAbort(HC_EXTENSION *hc, HC_PIPE *pipe);
/* Synchronised with the interrupt: the oldest change request gets the bitmap (bit i for port i)
 * in bytes bytes and goes to the pending completions. Answers whether more requests wait. */
BOOLEAN HcRootHubReportChange(HC_EXTENSION *hc, ULONG bitmap, ULONG bytes);
ULONG HcRootHubPorts(HC_EXTENSION *hc);
NTSTATUS HcRootHubResetPort(HC_EXTENSION *hc, PIRP irp);
/* roothub_ohci.c, roothub_uhci.c: the port work of each type. */
ULONG HcOhciHubStatus(HC_EXTENSION *hc);
ULONG HcOhciPortStatus(HC_EXTENSION *hc, ULONG port);
VOID HcOhciSetPortFeature(HC_EXTENSION *hc, ULONG port, ULONG feature);
VOID HcOhciClearPortFeature(HC_EXTENSION *hc, ULONG port, ULONG feature);
VOID HcOhciHubDescriptor(HC_EXTENSION *hc, PUCHAR descriptor);
USBD_STATUS HcOhciChangePipe(HC_EXTENSION *hc, HC_TRANSFER *transfer);
BOOLEAN HcOhciChangeInterrupt(HC_EXTENSION *hc); /* from the interrupt service: whether it took the status */
ULONG HcUhciHubStatus(HC_EXTENSION *hc);
ULONG HcUhciPortStatus(HC_EXTENSION *hc, ULONG port);
VOID HcUhciSetPortFeature(HC_EXTENSION *hc, ULONG port, ULONG feature);
VOID HcUhciClearPortFeature(HC_EXTENSION *hc, ULONG port, ULONG feature);
USBD_STATUS HcUhciChangePipe(HC_EXTENSION *hc, HC_TRANSFER *transfer);
VOID HcUhciRootHubInitialise(HC_EXTENSION *hc); /* the port timers and deferred procedures */

/* Waits: the IRQL-safe microsecond stall and the passive-level millisecond delay. */
VOID HcDelayMilliseconds(ULONG ms);

/* The helper table of the exported USBD routines. */
extern PVOID const HcHelperTable[6];

#endif
