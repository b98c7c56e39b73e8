/* usbhcd.sys: the UHCI root hub's port work. A UHCI port is one PORTSC register: software holds
 * a reset and signals a resume for as long as they last, so the driver times both (60 ms, 30 ms)
 * and keeps the reset and suspend changes itself; the controller raises no interrupt for a port
 * change, so a status-change request is answered by a check every 100 ms. */
#include "usbhcd.h"

#define PORTSC 0x10
#define PORT_CONNECTED 0x0001
#define PORT_CONNECT_CHANGE 0x0002
#define PORT_ENABLED 0x0004
#define PORT_ENABLE_CHANGE 0x0008
#define PORT_WRITE_CLEAR (PORT_CONNECT_CHANGE | PORT_ENABLE_CHANGE)
#define PORT_RESUME 0x0040
#define PORT_LOW_SPEED 0x0100
#define PORT_RESET 0x0200
#define PORT_SUSPEND 0x1000

#define RESET_MS 60
#define RESUME_MS 30
#define CHECK_MS 100

#define ST_PENDING 0x40000000u

static USHORT ReadPort(HC_EXTENSION *hc, ULONG port) {
  return HcReadPortUshort(hc->Registers + PORTSC + 2 * (port - 1));
}

/* Every write carries the change bits as 0, so that it clears none, unless it acknowledges. */
static VOID WritePort(HC_EXTENSION *hc, ULONG port, USHORT set, USHORT clear) {
  USHORT value = (USHORT)((ReadPort(hc, port) & ~PORT_WRITE_CLEAR & ~clear) | set);
  HcWritePortUshort(hc->Registers + PORTSC + 2 * (port - 1), value);
}

static VOID StartPortTimer(HC_EXTENSION *hc, ULONG port, ULONG ms) {
  LARGE_INTEGER due;
  due.QuadPart = -(LONGLONG)ms * 10000;
  KeSetTimer(&hc->u.Uhci.PortTimer[port - 1], due, &hc->u.Uhci.PortDpc[port - 1]);
}

ULONG HcUhciHubStatus(HC_EXTENSION *hc) {
  (void)hc;
  return 0;
}

ULONG HcUhciPortStatus(HC_EXTENSION *hc, ULONG port) {
  USHORT p = ReadPort(hc, port);
  ULONG flags = hc->u.Uhci.PortChange[port - 1], status = 0x100, change = 0;
  if (p & PORT_CONNECTED) status |= 0x01;
  if (p & PORT_ENABLED) status |= 0x02;
  if (p & PORT_SUSPEND) status |= 0x04;
  if (p & PORT_RESET) status |= 0x10;
  if (p & PORT_LOW_SPEED) status |= 0x200;
  if (p & PORT_CONNECT_CHANGE) change |= 0x01;
  if (p & PORT_ENABLE_CHANGE) change |= 0x02;
  if (flags & HC_UHCI_PORT_SUSPEND_CHANGE) change |= 0x04;
  if (flags & HC_UHCI_PORT_RESET_CHANGE) change |= 0x10;
  return status | change << 16;
}

VOID HcUhciSetPortFeature(HC_EXTENSION *hc, ULONG port, ULONG feature) {
  switch (feature) {
    case 1: /* enable */
      WritePort(hc, port, PORT_ENABLED, 0);
      break;
    case 2: /* suspend */
      WritePort(hc, port, PORT_SUSPEND, 0);
      break;
    case 4: /* reset: only with a device there */
      if (!(ReadPort(hc, port) & PORT_CONNECTED)) break;
      WritePort(hc, port, PORT_RESET | PORT_ENABLED, 0);
      hc->u.Uhci.PortChange[port - 1] |= HC_UHCI_PORT_RESET_IN_PROGRESS;
      StartPortTimer(hc, port, RESET_MS);
      break;
  }
}

VOID HcUhciClearPortFeature(HC_EXTENSION *hc, ULONG port, ULONG feature) {
  PULONG flags = &hc->u.Uhci.PortChange[port - 1];
  switch (feature) {
    case 1: /* enable */
      WritePort(hc, port, 0, PORT_ENABLED);
      break;
    case 2: /* suspend: resume signalling, ended by the port timer */
      WritePort(hc, port, PORT_RESUME, 0);
      *flags &= ~HC_UHCI_PORT_RESET_IN_PROGRESS;
      StartPortTimer(hc, port, RESUME_MS);
      break;
    case 16: /* connection change */
      WritePort(hc, port, PORT_CONNECT_CHANGE, 0);
      break;
    case 17: /* enable change */
      WritePort(hc, port, PORT_ENABLE_CHANGE, 0);
      break;
    case 18: /* suspend change */
      *flags &= ~HC_UHCI_PORT_SUSPEND_CHANGE;
      break;
    case 20: /* reset change */
      *flags &= ~HC_UHCI_PORT_RESET_CHANGE;
      break;
  }
}

/* The end of a port's reset or resume. */
static VOID NTAPI PortDpc(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2) {
  HC_EXTENSION *hc = (HC_EXTENSION *)context;
  ULONG port = dpc == &hc->u.Uhci.PortDpc[0] ? 1 : 2;
  PULONG flags = &hc->u.Uhci.PortChange[port - 1];
  (void)argument1, (void)argument2;
  if (*flags & HC_UHCI_PORT_RESET_IN_PROGRESS) {
    WritePort(hc, port, PORT_ENABLED, PORT_RESET);
    KeStallExecutionProcessor(100);
    WritePort(hc, port, PORT_ENABLED | PORT_WRITE_CLEAR, 0);
    *flags = (*flags & ~HC_UHCI_PORT_RESET_IN_PROGRESS) | HC_UHCI_PORT_RESET_CHANGE;
    KeStallExecutionProcessor(100);
  } else {
    WritePort(hc, port, PORT_WRITE_CLEAR, PORT_SUSPEND | PORT_RESUME);
    *flags |= HC_UHCI_PORT_SUSPEND_CHANGE;
  }
}

typedef struct {
  HC_EXTENSION *Hc;
  HC_TRANSFER *Transfer;
  BOOLEAN Waiting;
  BOOLEAN Completed;
} CHECK_CONTEXT;

static VOID ArmCheck(HC_EXTENSION *hc) {
  LARGE_INTEGER due;
  due.QuadPart = -(LONGLONG)CHECK_MS * 10000;
  KeSetTimer(&hc->u.Uhci.Timer, due, &hc->u.Uhci.ChangeDpc);
}

static BOOLEAN NTAPI QueueChange(PVOID context) {
  CHECK_CONTEXT *c = (CHECK_CONTEXT *)context;
  c->Waiting = !IsListEmpty(&c->Hc->ChangeRequests);
  InsertTailList(&c->Hc->ChangeRequests, &c->Transfer->Link);
  return TRUE;
}

USBD_STATUS HcUhciChangePipe(HC_EXTENSION *hc, HC_TRANSFER *transfer) {
  CHECK_CONTEXT c;
  c.Hc = hc;
  c.Transfer = transfer;
  HcSynchronize(hc, QueueChange, &c);
  if (!c.Waiting) ArmCheck(hc); /* the first waiting request starts the checks */
  return ST_PENDING;
}

/* Ports 1 ... n, n limited to what the oldest request's bitmap can hold besides the hub's bit. */
static BOOLEAN NTAPI CheckChanges(PVOID context) {
  CHECK_CONTEXT *c = (CHECK_CONTEXT *)context;
  HC_EXTENSION *hc = c->Hc;
  ULONG n = HC_UHCI_PORTS, limit, bitmap = 0, i;
  c->Completed = FALSE;
  c->Waiting = !IsListEmpty(&hc->ChangeRequests);
  if (!c->Waiting) return FALSE;
  limit = 8 * CONTAINING_RECORD(hc->ChangeRequests.Flink, HC_TRANSFER, Link)->Length - 1;
  if (n > limit) n = limit;
  for (i = 1; i <= n; ++i)
    if ((ReadPort(hc, i) & PORT_WRITE_CLEAR) ||
        (hc->u.Uhci.PortChange[i - 1] & (HC_UHCI_PORT_RESET_CHANGE | HC_UHCI_PORT_SUSPEND_CHANGE)))
      bitmap |= 1u << i;
  if (!bitmap) return TRUE;
  c->Waiting = HcRootHubReportChange(hc, bitmap, n / 8 + 1);
  c->Completed = TRUE;
  return TRUE;
}

static VOID NTAPI ChangeDpc(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2) {
  HC_EXTENSION *hc = (HC_EXTENSION *)context;
  CHECK_CONTEXT c;
  (void)dpc, (void)argument1, (void)argument2;
  c.Hc = hc;
  c.Transfer = NULL;
  HcSynchronize(hc, CheckChanges, &c);
  if (c.Completed) KeInsertQueueDpc(&hc->u.Uhci.CompletionDpc, NULL, NULL);
  if (c.Waiting) ArmCheck(hc);
}

VOID HcUhciRootHubInitialise(HC_EXTENSION *hc) {
  HC_UHCI_STATE *u = &hc->u.Uhci;
  ULONG i;
  KeInitializeDpc(&u->ChangeDpc, ChangeDpc, hc);
  KeInitializeTimer(&u->Timer);
  for (i = 0; i < HC_UHCI_PORTS; ++i) {
    KeInitializeDpc(&u->PortDpc[i], PortDpc, hc);
    KeInitializeTimer(&u->PortTimer[i]);
    u->PortChange[i] = 0;
  }
}
