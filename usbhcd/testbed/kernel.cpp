// The simulated NT 4.0 kernel and HAL that usbhcd.sys runs on in the test bed. Every routine has
// the kit's own prototype (so the calling convention of each matches the driver's: __stdcall, or
// __fastcall for the Kf/Iof/Ex...List routines on x86) and is bound to the driver's import of that
// name by the table at the end.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <malloc.h>
#include <map>
#include <new>
#include <memory>
#include <set>
#include <string>
#include <vector>

// The kit's headers redefine two intrinsics that the compiler's own header defines first.
#include <intrin.h>
#define InterlockedBitTestAndSet wdm_InterlockedBitTestAndSet
#define InterlockedBitTestAndReset wdm_InterlockedBitTestAndReset
#define _WIN2K_COMPAT_SLIST_USAGE
#include <ntddk.h>

#include "../src/legacy_hal.h"

#include "image_loader.h"
#include "testbed.h"

namespace hcsim {

// ---------------------------------------------------------------------------------------------
// State

struct RegistryKey {
  std::wstring name;
  std::map<std::wstring, std::shared_ptr<RegistryKey>> keys;              // by lower-case name
  std::map<std::wstring, std::pair<std::wstring, RegistryValue>> values;  // lower-case -> (name, value)
  RegistryKey *parent = nullptr;
  bool deleted = false;
};

struct PoolBlock {
  size_t size;
  ULONG tag;
};

struct CommonBuffer {
  void *virtualAddress;
  uint64_t physical;
  ULONG length;
};

struct Mapping {
  uint64_t physical;
  size_t length;
  PciDevice *device;
  uint32_t offset;
};

struct SimInterrupt {
  PKSERVICE_ROUTINE routine;
  PVOID context;
  PKSPIN_LOCK lock;
  InterruptInfo info;
};

struct SimDpc {
  PKDEFERRED_ROUTINE routine;
  PVOID context;
  bool queued = false;
  PVOID argument1 = nullptr, argument2 = nullptr;
};

struct SimTimer {
  bool set = false;
  uint64_t due = 0;
  uint64_t period = 0;
  PKDPC dpc = nullptr;
};

constexpr uint64_t kPhysicalBase = 0x01000000;  // where simulated common buffers start
constexpr size_t kPoolGuard = 16;
constexpr uint8_t kGuardByte = 0xFD;

struct SimState {
  Testbed *owner = nullptr;
  LoadedImage image;
  bool entered = false;
  DRIVER_OBJECT *driver = nullptr;
  DRIVER_EXTENSION *driverExtension = nullptr;
  std::wstring registryPath = Testbed::kServiceKey;
  UNICODE_STRING registryPathString{};

  std::shared_ptr<RegistryKey> root = std::make_shared<RegistryKey>();
  std::map<uintptr_t, std::shared_ptr<RegistryKey>> handles;
  uintptr_t nextHandle = 0x100;

  std::map<void *, PoolBlock> pool;
  std::map<void *, CommonBuffer> commonBuffers;
  uint64_t nextPhysical = kPhysicalBase;
  std::map<void *, Mapping> mappings;
  std::map<void *, std::pair<unsigned, uint32_t>> claims;  // device object -> (bus, slot)
  std::map<PKINTERRUPT, SimInterrupt> interrupts;
  std::set<PDEVICE_OBJECT> shutdown;
  std::vector<PDEVICE_OBJECT> deviceOrder;
  std::map<PDEVICE_OBJECT, DeviceInfo> devices;
  std::set<PNPAGED_LOOKASIDE_LIST> lookasides;
  std::map<PKDPC, SimDpc> dpcs;
  std::vector<PKDPC> dpcQueue;
  std::map<PKTIMER, SimTimer> timers;
  std::vector<PWORK_QUEUE_ITEM> work;
  std::map<PADAPTER_OBJECT, std::unique_ptr<uint8_t[]>> adapters;
  std::vector<Testbed::AdapterRequest> adapterRequests;

  KIRQL irql = PASSIVE_LEVEL;
  std::set<PKSPIN_LOCK> heldLocks;
  uint64_t clock = 0;
  std::vector<uint64_t> delays;
  bool runningDpcs = false;

  std::vector<std::string> debugPrints;
  std::vector<std::string> errors;
  std::vector<void *> callbackDevices;
  std::set<PIRP> completed;
  std::set<PIRP> asynchronous;  // requests a Request object owns: their completion is kept

  // Pages of the test's own memory that the driver asked the physical address of: each gets a
  // simulated page frame of its own, and neighbouring pages get frames that are not neighbours.
  std::map<uintptr_t, uint32_t> physicalOfPage;
  std::map<uint32_t, uintptr_t> pageOfPhysical;
  uint32_t nextCallerPhysical = 0x40000000;
};

static SimState *g = nullptr;

static void misuse(const std::string &what) {
  if (g) g->errors.push_back(what);
}

static std::wstring lowerW(std::wstring s) {
  for (auto &c : s) c = static_cast<wchar_t>(towlower(c));
  return s;
}

static std::wstring fromUnicode(PCUNICODE_STRING s) {
  if (!s || !s->Buffer) return {};
  return std::wstring(s->Buffer, s->Length / sizeof(WCHAR));
}

static std::string tagText(ULONG tag) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>((tag >> (8 * i)) & 0xFF);
  return s;
}

// ---------------------------------------------------------------------------------------------
// Time, IRQL, deferred procedures and timers

static void runDpcs() {
  if (g->runningDpcs || g->irql >= DISPATCH_LEVEL) return;
  g->runningDpcs = true;
  while (!g->dpcQueue.empty()) {
    PKDPC dpc = g->dpcQueue.front();
    g->dpcQueue.erase(g->dpcQueue.begin());
    SimDpc &d = g->dpcs[dpc];
    d.queued = false;
    KIRQL old = g->irql;
    g->irql = DISPATCH_LEVEL;
    d.routine(dpc, d.context, d.argument1, d.argument2);
    g->irql = old;
  }
  g->runningDpcs = false;
}

static void queueDpc(PKDPC dpc, PVOID a1, PVOID a2) {
  auto it = g->dpcs.find(dpc);
  if (it == g->dpcs.end()) {
    misuse("a DPC that was never initialised was queued");
    return;
  }
  if (it->second.queued) return;
  it->second.queued = true;
  it->second.argument1 = a1;
  it->second.argument2 = a2;
  g->dpcQueue.push_back(dpc);
}

static void deliverInterrupts();

static void passTime(uint64_t microseconds) {
  uint64_t end = g->clock + microseconds;
  for (;;) {
    // The next timer due within the interval fires at its time.
    SimTimer *next = nullptr;
    for (auto &t : g->timers)
      if (t.second.set && t.second.due <= end && (!next || t.second.due < next->due)) next = &t.second;
    uint64_t step = next ? std::max(next->due, g->clock) : end;
    while (g->clock < step) {
      uint64_t slice = std::min<uint64_t>(step - g->clock, 1000 - g->clock % 1000);
      g->owner->machine.advance(slice);
      g->clock += slice;
      deliverInterrupts();
    }
    if (!next) break;
    if (next->period)
      next->due += next->period;
    else
      next->set = false;
    if (next->dpc) queueDpc(next->dpc, nullptr, nullptr);
    runDpcs();
  }
}

static VOID NTAPI sim_KeStallExecutionProcessor(ULONG microseconds) {
  if (microseconds > 1000) misuse("KeStallExecutionProcessor of more than a millisecond");
  g->owner->machine.advance(microseconds);
  g->clock += microseconds;
}

static NTSTATUS NTAPI sim_KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER interval) {
  if (g->irql != PASSIVE_LEVEL) misuse("KeDelayExecutionThread above passive level");
  if (!interval) return STATUS_INVALID_PARAMETER;
  uint64_t us = interval->QuadPart < 0 ? static_cast<uint64_t>(-interval->QuadPart) / 10 : 0;
  g->delays.push_back(us);
  passTime(us);
  return STATUS_SUCCESS;
}

static KIRQL raiseTo(KIRQL irql) {
  KIRQL old = g->irql;
  if (irql < old) misuse("IRQL raised to a lower level");
  g->irql = irql;
  return old;
}

static void lowerTo(KIRQL irql) {
  if (irql > g->irql) misuse("IRQL lowered to a higher level");
  g->irql = irql;
  if (irql < DISPATCH_LEVEL) runDpcs();
}

static KIRQL NTAPI sim_KeGetCurrentIrql() { return g->irql; }
#if !defined(__x86_64__)
static KIRQL FASTCALL sim_KfRaiseIrql(KIRQL irql) { return raiseTo(irql); }
static VOID FASTCALL sim_KfLowerIrql(KIRQL irql) { lowerTo(irql); }
#endif

static void acquire(PKSPIN_LOCK lock) {
  if (!g->heldLocks.insert(lock).second) misuse("spin lock acquired twice");
}
static void release(PKSPIN_LOCK lock) {
  if (!g->heldLocks.erase(lock)) misuse("spin lock released that was not held");
}

#if defined(__x86_64__)
static KIRQL NTAPI sim_KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK lock) {
  KIRQL old = raiseTo(std::max<KIRQL>(g->irql, DISPATCH_LEVEL));
  acquire(lock);
  return old;
}
static VOID NTAPI sim_KeReleaseSpinLock(PKSPIN_LOCK lock, KIRQL irql) {
  release(lock);
  lowerTo(irql);
}
#else
static KIRQL FASTCALL sim_KfAcquireSpinLock(PKSPIN_LOCK lock) {
  KIRQL old = raiseTo(std::max<KIRQL>(g->irql, DISPATCH_LEVEL));
  acquire(lock);
  return old;
}
static VOID FASTCALL sim_KfReleaseSpinLock(PKSPIN_LOCK lock, KIRQL irql) {
  release(lock);
  lowerTo(irql);
}
static VOID NTAPI sim_KeInitializeSpinLock(PKSPIN_LOCK lock) { *lock = 0; }
#endif
static VOID NTAPI sim_KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK lock) {
  if (g->irql < DISPATCH_LEVEL) misuse("KeAcquireSpinLockAtDpcLevel below dispatch level");
  acquire(lock);
}
static VOID NTAPI sim_KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK lock) { release(lock); }

static VOID NTAPI sim_KeInitializeDpc(PRKDPC dpc, PKDEFERRED_ROUTINE routine, PVOID context) {
  SimDpc d;
  d.routine = routine;
  d.context = context;
  g->dpcQueue.erase(std::remove(g->dpcQueue.begin(), g->dpcQueue.end(), dpc), g->dpcQueue.end());
  g->dpcs[dpc] = d;
}

static BOOLEAN NTAPI sim_KeInsertQueueDpc(PRKDPC dpc, PVOID a1, PVOID a2) {
  auto it = g->dpcs.find(dpc);
  bool was = it != g->dpcs.end() && it->second.queued;
  queueDpc(dpc, a1, a2);
  return !was;
}

static BOOLEAN NTAPI sim_KeRemoveQueueDpc(PRKDPC dpc) {
  auto it = g->dpcs.find(dpc);
  if (it == g->dpcs.end()) {
    misuse("KeRemoveQueueDpc of a DPC never initialised");
    return FALSE;
  }
  bool was = it->second.queued;
  it->second.queued = false;
  g->dpcQueue.erase(std::remove(g->dpcQueue.begin(), g->dpcQueue.end(), dpc), g->dpcQueue.end());
  return was;
}

static VOID NTAPI sim_KeInitializeTimer(PKTIMER timer) { g->timers[timer] = SimTimer{}; }
static VOID NTAPI sim_KeInitializeTimerEx(PKTIMER timer, TIMER_TYPE) { g->timers[timer] = SimTimer{}; }

static BOOLEAN NTAPI sim_KeSetTimerEx(PKTIMER timer, LARGE_INTEGER due, LONG period, PKDPC dpc) {
  auto it = g->timers.find(timer);
  if (it == g->timers.end()) {
    misuse("KeSetTimer of a timer never initialised");
    return FALSE;
  }
  bool was = it->second.set;
  it->second.set = true;
  it->second.due = due.QuadPart < 0 ? g->clock + static_cast<uint64_t>(-due.QuadPart) / 10
                                    : static_cast<uint64_t>(due.QuadPart) / 10;
  it->second.period = period > 0 ? static_cast<uint64_t>(period) * 1000 : 0;
  it->second.dpc = dpc;
  return was;
}

static BOOLEAN NTAPI sim_KeSetTimer(PKTIMER timer, LARGE_INTEGER due, PKDPC dpc) {
  return sim_KeSetTimerEx(timer, due, 0, dpc);
}

static BOOLEAN NTAPI sim_KeCancelTimer(PKTIMER timer) {
  auto it = g->timers.find(timer);
  if (it == g->timers.end()) {
    misuse("KeCancelTimer of a timer never initialised");
    return FALSE;
  }
  bool was = it->second.set;
  it->second.set = false;
  return was;
}

static VOID NTAPI sim_KeQuerySystemTime(PLARGE_INTEGER time) {
  time->QuadPart = static_cast<LONGLONG>(g->clock) * 10 + 0x01BF53EB256D4000LL;
}

// ---------------------------------------------------------------------------------------------
// Pool and look-aside lists

static void *poolAllocate(size_t size, ULONG tag) {
  if (g->owner->failPoolAfter == 0) return nullptr;
  if (g->owner->failPoolAfter > 0) --g->owner->failPoolAfter;
  auto *block = static_cast<uint8_t *>(malloc(size + kPoolGuard));
  if (!block) return nullptr;
  std::memset(block, 0xCD, size);  // never zero: the driver must clear what it needs cleared
  std::memset(block + size, kGuardByte, kPoolGuard);
  g->pool[block] = PoolBlock{size, tag};
  return block;
}

static void poolFree(void *p) {
  auto it = g->pool.find(p);
  if (it == g->pool.end()) {
    misuse("ExFreePool of memory that is not pool");
    return;
  }
  auto *bytes = static_cast<uint8_t *>(p);
  for (size_t i = 0; i < kPoolGuard; ++i)
    if (bytes[it->second.size + i] != kGuardByte) {
      misuse("pool block tagged '" + tagText(it->second.tag) + "' written past its end");
      break;
    }
  g->pool.erase(it);
  free(p);
}

static PVOID NTAPI sim_ExAllocatePoolWithTag(POOL_TYPE, SIZE_T size, ULONG tag) { return poolAllocate(size, tag); }
static PVOID NTAPI sim_ExAllocatePool(POOL_TYPE, SIZE_T size) { return poolAllocate(size, 0x656E6F4E); }
static VOID NTAPI sim_ExFreePool(PVOID p) { poolFree(p); }

static PVOID NTAPI lookasideAllocate(POOL_TYPE, SIZE_T size, ULONG tag) { return poolAllocate(size, tag); }
static VOID NTAPI lookasideFree(PVOID p) { poolFree(p); }

// A singly linked list head: the first entry and a 16-bit depth. On x86 that is the kit's own
// layout, which the driver's inline look-aside code reads; on x86-64 the driver reaches the head
// only through the kernel's routines, so the simulation keeps the same two fields in its own way.
#if defined(__x86_64__)
struct SimSlist {
  PSINGLE_LIST_ENTRY first;
  ULONGLONG depth;
};
static_assert(sizeof(SimSlist) <= sizeof(SLIST_HEADER), "list head");
static SimSlist *slistOf(PSLIST_HEADER head) { return reinterpret_cast<SimSlist *>(head); }
#else
struct SimSlist {
  SLIST_HEADER *h;
};
#endif

static PSINGLE_LIST_ENTRY slistPop(PSLIST_HEADER head) {
#if defined(__x86_64__)
  SimSlist *l = slistOf(head);
  PSINGLE_LIST_ENTRY first = l->first;
  if (first) {
    l->first = first->Next;
    l->depth--;
  }
#else
  PSINGLE_LIST_ENTRY first = head->Next.Next;
  if (first) {
    head->Next.Next = first->Next;
    head->Depth--;
  }
#endif
  return first;
}

static PSINGLE_LIST_ENTRY slistPush(PSLIST_HEADER head, PSINGLE_LIST_ENTRY entry) {
#if defined(__x86_64__)
  SimSlist *l = slistOf(head);
  PSINGLE_LIST_ENTRY first = l->first;
  entry->Next = first;
  l->first = entry;
  l->depth++;
#else
  PSINGLE_LIST_ENTRY first = head->Next.Next;
  entry->Next = first;
  head->Next.Next = entry;
  head->Depth++;
#endif
  return first;
}

#if defined(__x86_64__)
static PSLIST_ENTRY NTAPI sim_ExpInterlockedPopEntrySList(PSLIST_HEADER head) {
  return reinterpret_cast<PSLIST_ENTRY>(slistPop(head));
}
static PSLIST_ENTRY NTAPI sim_ExpInterlockedPushEntrySList(PSLIST_HEADER head, PSLIST_ENTRY entry) {
  return reinterpret_cast<PSLIST_ENTRY>(slistPush(head, reinterpret_cast<PSINGLE_LIST_ENTRY>(entry)));
}
static USHORT NTAPI sim_ExQueryDepthSList(PSLIST_HEADER head) { return static_cast<USHORT>(slistOf(head)->depth); }
#endif

#if !defined(__x86_64__)
static PSINGLE_LIST_ENTRY FASTCALL sim_ExInterlockedPopEntrySList(PSLIST_HEADER head, PKSPIN_LOCK) {
  return slistPop(head);
}
static PSINGLE_LIST_ENTRY FASTCALL sim_ExInterlockedPushEntrySList(PSLIST_HEADER head, PSINGLE_LIST_ENTRY entry,
                                                                   PKSPIN_LOCK) {
  return reinterpret_cast<PSLIST_ENTRY>(slistPush(head, reinterpret_cast<PSINGLE_LIST_ENTRY>(entry)));
}
#endif

static VOID NTAPI sim_ExInitializeNPagedLookasideList(PNPAGED_LOOKASIDE_LIST list, PALLOCATE_FUNCTION allocate,
                                                      PFREE_FUNCTION freeRoutine, ULONG, SIZE_T size, ULONG tag,
                                                      USHORT depth) {
  std::memset(list, 0, sizeof(*list));
  list->L.Depth = depth;
  list->L.MaximumDepth = depth;
  list->L.Type = NonPagedPool;
  list->L.Tag = tag;
  list->L.Size = static_cast<ULONG>(size);
  list->L.Allocate = allocate ? allocate : lookasideAllocate;
  list->L.Free = freeRoutine ? freeRoutine : lookasideFree;
  g->lookasides.insert(list);
}

static VOID NTAPI sim_ExDeleteNPagedLookasideList(PNPAGED_LOOKASIDE_LIST list) {
  if (!g->lookasides.erase(list)) {
    misuse("ExDeleteNPagedLookasideList of a list never initialised");
    return;
  }
  while (PSINGLE_LIST_ENTRY entry = slistPop(&list->L.ListHead)) list->L.Free(entry);
}

// ---------------------------------------------------------------------------------------------
// Registry

static std::vector<std::wstring> splitPath(const std::wstring &path) {
  std::vector<std::wstring> parts;
  std::wstring part;
  for (wchar_t c : path) {
    if (c == L'\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

static std::shared_ptr<RegistryKey> walk(std::shared_ptr<RegistryKey> from, const std::wstring &path, bool create) {
  for (const auto &part : splitPath(path)) {
    auto &keys = from->keys;
    auto it = keys.find(lowerW(part));
    if (it == keys.end()) {
      if (!create) return nullptr;
      auto key = std::make_shared<RegistryKey>();
      key->name = part;
      key->parent = from.get();
      it = keys.emplace(lowerW(part), key).first;
    }
    from = it->second;
  }
  return from;
}

static std::shared_ptr<RegistryKey> keyOfHandle(HANDLE handle) {
  auto it = g->handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == g->handles.end()) return nullptr;
  return it->second;
}

static NTSTATUS openKey(PHANDLE handle, POBJECT_ATTRIBUTES attributes, bool create, PULONG disposition) {
  if (!handle || !attributes || !attributes->ObjectName) return STATUS_INVALID_PARAMETER;
  std::wstring name = fromUnicode(attributes->ObjectName);
  std::shared_ptr<RegistryKey> from;
  if (attributes->RootDirectory) {
    from = keyOfHandle(attributes->RootDirectory);
    if (!from) return STATUS_INVALID_HANDLE;
    if (from->deleted) return STATUS_KEY_DELETED;
  } else {
    if (lowerW(name).rfind(L"\\registry\\", 0) != 0) return STATUS_OBJECT_PATH_SYNTAX_BAD;
    from = g->root;
  }
  bool existed = walk(from, name, false) != nullptr;
  auto key = walk(from, name, create);
  if (!key) return STATUS_OBJECT_NAME_NOT_FOUND;
  if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  uintptr_t h = g->nextHandle;
  g->nextHandle += 4;
  g->handles[h] = key;
  *handle = reinterpret_cast<HANDLE>(h);
  return STATUS_SUCCESS;
}

static NTSTATUS NTAPI sim_ZwOpenKey(PHANDLE handle, ACCESS_MASK, POBJECT_ATTRIBUTES attributes) {
  return openKey(handle, attributes, false, nullptr);
}

static NTSTATUS NTAPI sim_ZwCreateKey(PHANDLE handle, ACCESS_MASK, POBJECT_ATTRIBUTES attributes, ULONG,
                                      PUNICODE_STRING, ULONG, PULONG disposition) {
  return openKey(handle, attributes, true, disposition);
}

static NTSTATUS NTAPI sim_ZwClose(HANDLE handle) {
  if (!g->handles.erase(reinterpret_cast<uintptr_t>(handle))) {
    misuse("ZwClose of a handle that is not open");
    return STATUS_INVALID_HANDLE;
  }
  return STATUS_SUCCESS;
}

static NTSTATUS NTAPI sim_ZwQueryValueKey(HANDLE handle, PUNICODE_STRING name, KEY_VALUE_INFORMATION_CLASS infoClass,
                                          PVOID buffer, ULONG length, PULONG resultLength) {
  auto key = keyOfHandle(handle);
  if (!key) return STATUS_INVALID_HANDLE;
  if (key->deleted) return STATUS_KEY_DELETED;
  if (infoClass != KeyValuePartialInformation) return STATUS_INVALID_PARAMETER;
  auto it = key->values.find(lowerW(fromUnicode(name)));
  if (it == key->values.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
  const RegistryValue &v = it->second.second;
  ULONG header = FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data);
  ULONG need = header + static_cast<ULONG>(v.data.size());
  if (resultLength) *resultLength = need;
  if (!buffer || length < header) return STATUS_BUFFER_TOO_SMALL;
  auto *info = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
  info->TitleIndex = 0;
  info->Type = v.type;
  info->DataLength = static_cast<ULONG>(v.data.size());
  if (length < need) return STATUS_BUFFER_OVERFLOW;
  if (!v.data.empty()) std::memcpy(info->Data, v.data.data(), v.data.size());
  return STATUS_SUCCESS;
}

static NTSTATUS NTAPI sim_ZwSetValueKey(HANDLE handle, PUNICODE_STRING name, ULONG, ULONG type, PVOID data,
                                        ULONG size) {
  auto key = keyOfHandle(handle);
  if (!key) return STATUS_INVALID_HANDLE;
  if (key->deleted) return STATUS_KEY_DELETED;
  RegistryValue v;
  v.type = type;
  if (size) v.data.assign(static_cast<uint8_t *>(data), static_cast<uint8_t *>(data) + size);
  std::wstring n = fromUnicode(name);
  key->values[lowerW(n)] = {n, v};
  return STATUS_SUCCESS;
}

static NTSTATUS NTAPI sim_ZwEnumerateKey(HANDLE handle, ULONG index, KEY_INFORMATION_CLASS infoClass, PVOID buffer,
                                         ULONG length, PULONG resultLength) {
  auto key = keyOfHandle(handle);
  if (!key) return STATUS_INVALID_HANDLE;
  if (key->deleted) return STATUS_KEY_DELETED;
  if (infoClass != KeyBasicInformation) return STATUS_INVALID_PARAMETER;
  if (index >= key->keys.size()) return STATUS_NO_MORE_ENTRIES;
  auto it = key->keys.begin();
  std::advance(it, index);
  const std::wstring &n = it->second->name;
  ULONG header = FIELD_OFFSET(KEY_BASIC_INFORMATION, Name);
  ULONG need = header + static_cast<ULONG>(n.size() * sizeof(WCHAR));
  if (resultLength) *resultLength = need;
  if (!buffer || length < header) return STATUS_BUFFER_TOO_SMALL;
  auto *info = static_cast<PKEY_BASIC_INFORMATION>(buffer);
  info->LastWriteTime.QuadPart = 0;
  info->TitleIndex = 0;
  info->NameLength = static_cast<ULONG>(n.size() * sizeof(WCHAR));
  if (length < need) return STATUS_BUFFER_OVERFLOW;
  std::memcpy(info->Name, n.data(), n.size() * sizeof(WCHAR));
  return STATUS_SUCCESS;
}

// As NT: a key with sub-keys cannot be deleted; a deleted key's open handles stay until closed.
static NTSTATUS NTAPI sim_ZwDeleteKey(HANDLE handle) {
  auto key = keyOfHandle(handle);
  if (!key) return STATUS_INVALID_HANDLE;
  if (key->deleted) return STATUS_KEY_DELETED;
  if (!key->keys.empty()) return STATUS_CANNOT_DELETE;
  if (!key->parent) return STATUS_ACCESS_DENIED;
  key->deleted = true;
  key->parent->keys.erase(lowerW(key->name));
  key->parent = nullptr;
  return STATUS_SUCCESS;
}

static VOID NTAPI sim_RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source) {
  size_t n = source ? wcslen(source) : 0;
  destination->Buffer = const_cast<PWSTR>(source);
  destination->Length = static_cast<USHORT>(n * sizeof(WCHAR));
  destination->MaximumLength = static_cast<USHORT>(source ? (n + 1) * sizeof(WCHAR) : 0);
}

static ULONG __cdecl sim_DbgPrint(PCSTR format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  g->debugPrints.push_back(text);
  return 0;
}

// ---------------------------------------------------------------------------------------------
// I/O manager

static VOID FASTCALL sim_IofCompleteRequest(PIRP irp, CCHAR) {
  if (!g->completed.insert(irp).second) misuse("request completed twice");
}

static NTSTATUS NTAPI invalidRequest(PDEVICE_OBJECT, PIRP irp) {
  irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
  sim_IofCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_INVALID_DEVICE_REQUEST;
}

static NTSTATUS NTAPI sim_IoCreateDevice(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name,
                                         DEVICE_TYPE type, ULONG characteristics, BOOLEAN exclusive,
                                         PDEVICE_OBJECT *deviceObject) {
  std::wstring n = fromUnicode(name);
  for (auto &d : g->devices)
    if (!n.empty() && lowerW(d.second.name) == lowerW(n)) return STATUS_OBJECT_NAME_COLLISION;
  if (g->owner->failPoolAfter == 0) return STATUS_INSUFFICIENT_RESOURCES;
  size_t objectSize = (sizeof(DEVICE_OBJECT) + 15) & ~size_t(15);
  auto *memory = static_cast<uint8_t *>(_aligned_malloc(objectSize + extensionSize + 16, 16));
  std::memset(memory, 0, objectSize + extensionSize);
  auto *device = reinterpret_cast<PDEVICE_OBJECT>(memory);
  device->Type = 3;
  device->Size = static_cast<USHORT>(objectSize + extensionSize);
  device->ReferenceCount = 0;
  device->DriverObject = driver;
  device->NextDevice = driver->DeviceObject;
  driver->DeviceObject = device;
  device->DeviceExtension = extensionSize ? memory + objectSize : nullptr;
  device->DeviceType = type;
  device->Characteristics = characteristics;
  device->Flags = DO_DEVICE_INITIALIZING | (exclusive ? DO_EXCLUSIVE : 0);
  device->StackSize = 1;
  *deviceObject = device;
  g->devices[device] = DeviceInfo{device, n, type, 0, exclusive != FALSE, extensionSize};
  g->deviceOrder.push_back(device);
  return STATUS_SUCCESS;
}

static VOID NTAPI sim_IoDeleteDevice(PDEVICE_OBJECT device) {
  if (!g->devices.erase(device)) {
    misuse("IoDeleteDevice of a device that does not exist");
    return;
  }
  if (g->claims.count(device)) misuse("device deleted with its resources still claimed");
  if (g->shutdown.count(device)) misuse("device deleted still registered for shutdown notification");
  g->deviceOrder.erase(std::remove(g->deviceOrder.begin(), g->deviceOrder.end(), device), g->deviceOrder.end());
  PDEVICE_OBJECT *link = &device->DriverObject->DeviceObject;
  while (*link && *link != device) link = &(*link)->NextDevice;
  if (*link) *link = device->NextDevice;
  _aligned_free(device);
}

static NTSTATUS FASTCALL sim_IofCallDriver(PDEVICE_OBJECT device, PIRP irp) {
  irp->CurrentLocation--;
  if (irp->CurrentLocation <= 0) {
    misuse("IoCallDriver with no stack location left");
    return STATUS_INVALID_PARAMETER;
  }
  irp->Tail.Overlay.CurrentStackLocation--;
  PIO_STACK_LOCATION stack = irp->Tail.Overlay.CurrentStackLocation;
  stack->DeviceObject = device;
  return device->DriverObject->MajorFunction[stack->MajorFunction](device, irp);
}

static NTSTATUS NTAPI sim_IoRegisterShutdownNotification(PDEVICE_OBJECT device) {
  if (!g->shutdown.insert(device).second) misuse("shutdown notification registered twice");
  return STATUS_SUCCESS;
}

static VOID NTAPI sim_IoUnregisterShutdownNotification(PDEVICE_OBJECT device) {
  if (!g->shutdown.erase(device)) misuse("shutdown notification unregistered that was not registered");
}

static VOID NTAPI sim_ExQueueWorkItem(PWORK_QUEUE_ITEM item, WORK_QUEUE_TYPE) { g->work.push_back(item); }

static NTSTATUS NTAPI sim_IoConnectInterrupt(PKINTERRUPT *object, PKSERVICE_ROUTINE routine, PVOID context,
                                             PKSPIN_LOCK lock, ULONG vector, KIRQL irql, KIRQL synchronizeIrql,
                                             KINTERRUPT_MODE mode, BOOLEAN shared, KAFFINITY, BOOLEAN) {
  if (!object || !routine) return STATUS_INVALID_PARAMETER;
  if (synchronizeIrql < irql) return STATUS_INVALID_PARAMETER;
  if (!shared && g->owner->refuseExclusiveInterrupts) return STATUS_INVALID_PARAMETER;
  for (auto &i : g->interrupts)
    if (i.second.info.vector == vector && (!shared || !i.second.info.shared)) return STATUS_INVALID_PARAMETER;
  auto *memory = static_cast<PKINTERRUPT>(malloc(64));
  SimInterrupt si{routine, context, lock,
                  InterruptInfo{vector, irql, synchronizeIrql, shared != FALSE, mode == Latched}};
  g->interrupts[memory] = si;
  *object = memory;
  return STATUS_SUCCESS;
}

static VOID NTAPI sim_IoDisconnectInterrupt(PKINTERRUPT object) {
  if (!g->interrupts.erase(object)) {
    misuse("IoDisconnectInterrupt of an interrupt not connected");
    return;
  }
  free(object);
}

static BOOLEAN NTAPI sim_KeSynchronizeExecution(PKINTERRUPT object, PKSYNCHRONIZE_ROUTINE routine, PVOID context) {
  auto it = g->interrupts.find(object);
  if (it == g->interrupts.end()) {
    misuse("KeSynchronizeExecution with an interrupt not connected");
    return FALSE;
  }
  KIRQL old = raiseTo(std::max(g->irql, it->second.info.synchronizeIrql));
  if (it->second.lock) acquire(it->second.lock);
  BOOLEAN result = routine(context);
  if (it->second.lock) release(it->second.lock);
  lowerTo(old);
  return result;
}

// Resources: an empty device list gives back what the device claimed.
static NTSTATUS NTAPI sim_IoReportResourceUsage(PUNICODE_STRING, PDRIVER_OBJECT, PCM_RESOURCE_LIST, ULONG,
                                                PDEVICE_OBJECT device, PCM_RESOURCE_LIST list, ULONG size, BOOLEAN,
                                                PBOOLEAN conflict) {
  if (conflict) *conflict = FALSE;
  if (list && size >= sizeof(ULONG) && list->Count == 0) {
    if (!g->claims.erase(device)) misuse("resources released that were not claimed");
    return STATUS_SUCCESS;
  }
  return STATUS_SUCCESS;
}

// ---------------------------------------------------------------------------------------------
// HAL: PCI configuration space, resources, bus addresses, DMA, ports and registers

static PciDevice *pciDevice(ULONG bus, ULONG slot) {
  PCI_SLOT_NUMBER s;
  s.u.AsULONG = slot;
  if (s.u.bits.Reserved) return nullptr;
  return g->owner->machine.find(bus, slot);
}

static ULONG NTAPI sim_HalGetBusDataByOffset(BUS_DATA_TYPE type, ULONG bus, ULONG slot, PVOID buffer, ULONG offset,
                                             ULONG length) {
  if (type != PCIConfiguration) return 0;
  if (bus > g->owner->machine.lastBus) return 0;  // no such bus
  PciDevice *d = pciDevice(bus, slot);
  auto *out = static_cast<uint8_t *>(buffer);
  if (!d) {
    // No device: the vendor ID reads 0xFFFF.
    if (offset == 0 && length >= 2) {
      out[0] = out[1] = 0xFF;
      return 2;
    }
    return 0;
  }
  if (offset >= 256) return 0;
  ULONG n = std::min<ULONG>(length, 256 - offset);
  std::memcpy(out, d->config + offset, n);
  return n;
}

static ULONG NTAPI sim_HalGetBusData(BUS_DATA_TYPE type, ULONG bus, ULONG slot, PVOID buffer, ULONG length) {
  return sim_HalGetBusDataByOffset(type, bus, slot, buffer, 0, length);
}

static ULONG NTAPI sim_HalSetBusDataByOffset(BUS_DATA_TYPE type, ULONG bus, ULONG slot, PVOID buffer, ULONG offset,
                                             ULONG length) {
  if (type != PCIConfiguration || bus > g->owner->machine.lastBus) return 0;
  PciDevice *d = pciDevice(bus, slot);
  if (!d || offset >= 256) return 0;
  ULONG n = std::min<ULONG>(length, 256 - offset);
  d->writeConfig(offset, static_cast<uint8_t *>(buffer), n);
  return n;
}

static ULONG NTAPI sim_HalSetBusData(BUS_DATA_TYPE type, ULONG bus, ULONG slot, PVOID buffer, ULONG length) {
  return sim_HalSetBusDataByOffset(type, bus, slot, buffer, 0, length);
}

static NTSTATUS NTAPI sim_HalAssignSlotResources(PUNICODE_STRING, PUNICODE_STRING, PDRIVER_OBJECT,
                                                 PDEVICE_OBJECT device, INTERFACE_TYPE busType, ULONG bus, ULONG slot,
                                                 PCM_RESOURCE_LIST *allocated) {
  if (!allocated) return STATUS_INVALID_PARAMETER;
  *allocated = nullptr;
  PciDevice *d = busType == PCIBus ? pciDevice(bus, slot) : nullptr;
  if (!d) return STATUS_NO_SUCH_DEVICE;
  for (auto &c : g->claims)
    if (c.second == std::make_pair(static_cast<unsigned>(bus), static_cast<uint32_t>(slot)))
      return STATUS_CONFLICTING_ADDRESSES;
  bool hasInterrupt = d->interruptPin() != 0 && d->interruptLine() != 0 && d->interruptLine() != 0xFF;
  bool hasRange = d->range != PciDevice::Range::None;
  ULONG count = (hasInterrupt ? 1 : 0) + (hasRange ? 1 : 0);
  size_t size = sizeof(CM_RESOURCE_LIST) + sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR) * (count ? count - 1 : 0);
  auto *list = static_cast<PCM_RESOURCE_LIST>(poolAllocate(size, 0x206C6148));  // "Hal "
  if (!list) return STATUS_INSUFFICIENT_RESOURCES;
  std::memset(list, 0, size);
  list->Count = 1;
  list->List[0].InterfaceType = PCIBus;
  list->List[0].BusNumber = bus;
  auto &partial = list->List[0].PartialResourceList;
  partial.Version = 1;
  partial.Revision = 1;
  partial.Count = count;
  ULONG i = 0;
  if (hasRange) {
    auto &r = partial.PartialDescriptors[i++];
    if (d->range == PciDevice::Range::Io) {
      r.Type = CmResourceTypePort;
      r.ShareDisposition = CmResourceShareDeviceExclusive;
      r.Flags = CM_RESOURCE_PORT_IO;
      r.u.Port.Start.QuadPart = d->rangeBase;
      r.u.Port.Length = d->rangeLength;
    } else {
      r.Type = CmResourceTypeMemory;
      r.ShareDisposition = CmResourceShareDeviceExclusive;
      r.Flags = CM_RESOURCE_MEMORY_READ_WRITE;
      r.u.Memory.Start.QuadPart = d->rangeBase;
      r.u.Memory.Length = d->rangeLength;
    }
  }
  if (hasInterrupt) {
    auto &r = partial.PartialDescriptors[i++];
    r.Type = CmResourceTypeInterrupt;
    r.ShareDisposition = d->interruptShared ? CmResourceShareShared : CmResourceShareDeviceExclusive;
    r.Flags = CM_RESOURCE_INTERRUPT_LEVEL_SENSITIVE;
    r.u.Interrupt.Level = d->interruptLine();
    r.u.Interrupt.Vector = d->interruptLine();
    r.u.Interrupt.Affinity = 1;
  }
  g->claims[device] = {bus, slot};
  *allocated = list;
  return STATUS_SUCCESS;
}

// The x86 HAL's mapping of ISA IRQs: vector 0x30 + IRQ, IRQL 27 - IRQ.
static ULONG NTAPI sim_HalGetInterruptVector(INTERFACE_TYPE, ULONG, ULONG level, ULONG, PKIRQL irql,
                                             PKAFFINITY affinity) {
  if (level > 15) return 0;
  *irql = static_cast<KIRQL>(27 - level);
  *affinity = 1;
  return 0x30 + level;
}

static BOOLEAN NTAPI sim_HalTranslateBusAddress(INTERFACE_TYPE, ULONG, PHYSICAL_ADDRESS address, PULONG space,
                                                PPHYSICAL_ADDRESS translated) {
  if (g->owner->failTranslation) return FALSE;
  *translated = address;
  (void)space;  // ports stay ports and memory stays memory on this machine
  return TRUE;
}

static PVOID NTAPI sim_MmMapIoSpace(PHYSICAL_ADDRESS physical, SIZE_T length, MEMORY_CACHING_TYPE) {
  if (g->owner->failMapping || !length) return nullptr;
  uint32_t offset = 0;
  PciDevice *d = g->owner->machine.deviceAtMemory(physical.QuadPart, &offset);
  if (!d) return nullptr;
  void *va = reserveAddressSpace(length);
  if (!va) return nullptr;
  g->mappings[va] = Mapping{static_cast<uint64_t>(physical.QuadPart), length, d, offset};
  return va;
}

static VOID NTAPI sim_MmUnmapIoSpace(PVOID address, SIZE_T length) {
  auto it = g->mappings.find(address);
  if (it == g->mappings.end() || it->second.length != length) {
    misuse("MmUnmapIoSpace of a range not mapped so");
    return;
  }
  releaseAddressSpace(address);
  g->mappings.erase(it);
}

struct SimAdapter {
  DMA_ADAPTER adapter;
  DMA_OPERATIONS operations;
};
static PVOID NTAPI dmaAllocateCommonBuffer(PDMA_ADAPTER, ULONG, PPHYSICAL_ADDRESS, BOOLEAN);
static VOID NTAPI dmaFreeCommonBuffer(PDMA_ADAPTER, ULONG, PHYSICAL_ADDRESS, PVOID, BOOLEAN);

static PADAPTER_OBJECT NTAPI sim_HalGetAdapter(PDEVICE_DESCRIPTION description, PULONG mapRegisters) {
  Testbed::AdapterRequest r{description->Master != FALSE,
                            description->ScatterGather != FALSE,
                            description->Dma32BitAddresses != FALSE,
                            description->Dma64BitAddresses != FALSE,
                            description->MaximumLength,
                            description->BusNumber,
                            static_cast<uint32_t>(description->InterfaceType)};
  g->adapterRequests.push_back(r);
  if (g->owner->noAdapter) return nullptr;
  // Shaped as the later kits' DMA adapter, whose operations table the 64-bit kit headers call
  // the common-buffer routines through; the 32-bit driver imports them from the HAL instead.
  auto memory = std::make_unique<uint8_t[]>(sizeof(SimAdapter));
  auto *sim = new (memory.get()) SimAdapter{};
  sim->adapter.Version = 1;
  sim->adapter.Size = sizeof(DMA_ADAPTER);
  sim->adapter.DmaOperations = &sim->operations;
  sim->operations.Size = sizeof(DMA_OPERATIONS);
  sim->operations.AllocateCommonBuffer = dmaAllocateCommonBuffer;
  sim->operations.FreeCommonBuffer = dmaFreeCommonBuffer;
  auto *adapter = reinterpret_cast<PADAPTER_OBJECT>(memory.get());
  g->adapters[adapter] = std::move(memory);
  if (mapRegisters) *mapRegisters = 16;
  return adapter;
}

static PVOID NTAPI sim_HalAllocateCommonBuffer(PADAPTER_OBJECT adapter, ULONG length, PPHYSICAL_ADDRESS physical,
                                               BOOLEAN) {
  if (!g->adapters.count(adapter)) {
    misuse("HalAllocateCommonBuffer with an unknown adapter");
    return nullptr;
  }
  if (g->owner->failCommonBufferAfter == 0 || !length) return nullptr;
  if (g->owner->failCommonBufferAfter > 0) --g->owner->failCommonBufferAfter;
  ULONG pages = (length + 4095) / 4096;
  void *va = _aligned_malloc(pages * 4096, 4096);
  std::memset(va, 0xCD, pages * 4096);
  physical->QuadPart = static_cast<LONGLONG>(g->nextPhysical);
  g->commonBuffers[va] = CommonBuffer{va, g->nextPhysical, length};
  g->nextPhysical += pages * 4096;
  return va;
}

static VOID NTAPI sim_HalFreeCommonBuffer(PADAPTER_OBJECT, ULONG length, PHYSICAL_ADDRESS physical, PVOID va, BOOLEAN) {
  auto it = g->commonBuffers.find(va);
  if (it == g->commonBuffers.end() || it->second.length != length ||
      it->second.physical != static_cast<uint64_t>(physical.QuadPart)) {
    misuse("HalFreeCommonBuffer of a buffer not allocated so");
    return;
  }
  _aligned_free(va);
  g->commonBuffers.erase(it);
}

static PVOID NTAPI dmaAllocateCommonBuffer(PDMA_ADAPTER adapter, ULONG length, PPHYSICAL_ADDRESS physical,
                                           BOOLEAN cached) {
  return sim_HalAllocateCommonBuffer(reinterpret_cast<PADAPTER_OBJECT>(adapter), length, physical, cached);
}
static VOID NTAPI dmaFreeCommonBuffer(PDMA_ADAPTER adapter, ULONG length, PHYSICAL_ADDRESS physical, PVOID va,
                                      BOOLEAN cached) {
  sim_HalFreeCommonBuffer(reinterpret_cast<PADAPTER_OBJECT>(adapter), length, physical, va, cached);
}

// What the controllers reach as bus masters: common buffers, and the pages of the test's memory
// whose physical addresses the driver took.
struct SimDma : DmaSpace {
  uint8_t *at(uint32_t physical, uint32_t length) override {
    if (!g) return nullptr;
    for (auto &c : g->commonBuffers)
      if (physical >= c.second.physical && physical - c.second.physical + uint64_t(length) <= c.second.length)
        return static_cast<uint8_t *>(c.second.virtualAddress) + (physical - c.second.physical);
    auto it = g->pageOfPhysical.find(physical & ~0xFFFu);
    if (it == g->pageOfPhysical.end() || (physical & 0xFFF) + uint64_t(length) > 4096) return nullptr;
    return reinterpret_cast<uint8_t *>(it->second + (physical & 0xFFF));
  }
};
static SimDma simDma;

static PHYSICAL_ADDRESS NTAPI sim_MmGetPhysicalAddress(PVOID address) {
  PHYSICAL_ADDRESS result;
  result.QuadPart = 0;
  uintptr_t va = reinterpret_cast<uintptr_t>(address);
  for (auto &c : g->commonBuffers) {
    uintptr_t base = reinterpret_cast<uintptr_t>(c.second.virtualAddress);
    if (va >= base && va - base < c.second.length) {
      result.QuadPart = static_cast<LONGLONG>(c.second.physical + (va - base));
      return result;
    }
  }
  uintptr_t page = va & ~uintptr_t(0xFFF);
  auto it = g->physicalOfPage.find(page);
  if (it == g->physicalOfPage.end()) {
    it = g->physicalOfPage.emplace(page, g->nextCallerPhysical).first;
    g->pageOfPhysical[g->nextCallerPhysical] = page;
    g->nextCallerPhysical += 0x2000;
  }
  result.QuadPart = it->second + (va & 0xFFF);
  return result;
}

static PVOID NTAPI sim_MmMapLockedPages(PMDL mdl, KPROCESSOR_MODE) {
  if (!mdl) return nullptr;
  mdl->MappedSystemVa = static_cast<PUCHAR>(mdl->StartVa) + mdl->ByteOffset;
  mdl->MdlFlags |= MDL_MAPPED_TO_SYSTEM_VA;
  return mdl->MappedSystemVa;
}

static uint32_t portRead(uintptr_t port, unsigned size) {
  Machine &m = g->owner->machine;
  if (size == 1 && (port == 0x4D0 || port == 0x4D1)) {
    uint32_t v = m.elcr[port - 0x4D0];
    m.portLog.push_back({false, static_cast<uint32_t>(port), size, v});
    return v;
  }
  uint32_t offset;
  if (PciDevice *d = m.deviceAtPort(static_cast<uint32_t>(port), &offset)) return d->readRegister(offset, size);
  m.portLog.push_back({false, static_cast<uint32_t>(port), size, 0xFFFFFFFFu});
  return size == 1 ? 0xFF : size == 2 ? 0xFFFF : 0xFFFFFFFFu;
}

static void portWrite(uintptr_t port, unsigned size, uint32_t value) {
  Machine &m = g->owner->machine;
  if (size == 1 && (port == 0x4D0 || port == 0x4D1)) {
    m.elcr[port - 0x4D0] = static_cast<uint8_t>(value);
    m.portLog.push_back({true, static_cast<uint32_t>(port), size, value});
    return;
  }
  uint32_t offset;
  if (PciDevice *d = m.deviceAtPort(static_cast<uint32_t>(port), &offset)) return d->writeRegister(offset, size, value);
  m.portLog.push_back({true, static_cast<uint32_t>(port), size, value});
}

static UCHAR NTAPI sim_READ_PORT_UCHAR(PUCHAR port) { return static_cast<UCHAR>(portRead((uintptr_t)port, 1)); }
static USHORT NTAPI sim_READ_PORT_USHORT(PUSHORT port) { return static_cast<USHORT>(portRead((uintptr_t)port, 2)); }
static ULONG NTAPI sim_READ_PORT_ULONG(PULONG port) { return portRead((uintptr_t)port, 4); }
static VOID NTAPI sim_WRITE_PORT_UCHAR(PUCHAR port, UCHAR v) { portWrite((uintptr_t)port, 1, v); }
static VOID NTAPI sim_WRITE_PORT_USHORT(PUSHORT port, USHORT v) { portWrite((uintptr_t)port, 2, v); }
static VOID NTAPI sim_WRITE_PORT_ULONG(PULONG port, ULONG v) { portWrite((uintptr_t)port, 4, v); }

static PciDevice *registerAt(volatile void *address, uint32_t *offset) {
  auto *p = (uint8_t *)address;
  for (auto &m : g->mappings) {
    auto *base = static_cast<uint8_t *>(m.first);
    if (p >= base && p < base + m.second.length) {
      *offset = m.second.offset + static_cast<uint32_t>(p - base);
      return m.second.device;
    }
  }
  misuse("register access outside every mapped range");
  return nullptr;
}

static ULONG NTAPI sim_READ_REGISTER_ULONG(volatile ULONG *r) {
  uint32_t offset;
  PciDevice *d = registerAt(r, &offset);
  return d ? d->readRegister(offset, 4) : 0xFFFFFFFFu;
}
static VOID NTAPI sim_WRITE_REGISTER_ULONG(volatile ULONG *r, ULONG v) {
  uint32_t offset;
  if (PciDevice *d = registerAt(r, &offset)) d->writeRegister(offset, 4, v);
}
static USHORT NTAPI sim_READ_REGISTER_USHORT(volatile USHORT *r) {
  uint32_t offset;
  PciDevice *d = registerAt(r, &offset);
  return d ? static_cast<USHORT>(d->readRegister(offset, 2)) : 0xFFFF;
}
static VOID NTAPI sim_WRITE_REGISTER_USHORT(volatile USHORT *r, USHORT v) {
  uint32_t offset;
  if (PciDevice *d = registerAt(r, &offset)) d->writeRegister(offset, 2, v);
}
static UCHAR NTAPI sim_READ_REGISTER_UCHAR(volatile UCHAR *r) {
  uint32_t offset;
  PciDevice *d = registerAt(r, &offset);
  return d ? static_cast<UCHAR>(d->readRegister(offset, 1)) : 0xFF;
}
static VOID NTAPI sim_WRITE_REGISTER_UCHAR(volatile UCHAR *r, UCHAR v) {
  uint32_t offset;
  if (PciDevice *d = registerAt(r, &offset)) d->writeRegister(offset, 1, v);
}

// ---------------------------------------------------------------------------------------------
// The import table: each entry is checked against the kit's prototype of that name.

struct Binding {
  const char *dll;
  const char *name;
  void *function;
};

#define BIND(dll, name) \
  Binding { dll, #name, reinterpret_cast<void *>(static_cast<decltype(&name)>(&sim_##name)) }
#define BIND_AS(dll, name, type) \
  Binding { dll, #name, reinterpret_cast<void *>(static_cast<type>(&sim_##name)) }

using PortReadUchar = UCHAR(NTAPI *)(PUCHAR);
using PortReadUshort = USHORT(NTAPI *)(PUSHORT);
using PortReadUlong = ULONG(NTAPI *)(PULONG);
using PortWriteUchar = VOID(NTAPI *)(PUCHAR, UCHAR);
using PortWriteUshort = VOID(NTAPI *)(PUSHORT, USHORT);
using PortWriteUlong = VOID(NTAPI *)(PULONG, ULONG);

static const std::vector<Binding> &bindings() {
  static const std::vector<Binding> table = {
    BIND("ntoskrnl.exe", IoCreateDevice),
    BIND("ntoskrnl.exe", IoDeleteDevice),
    BIND("ntoskrnl.exe", IofCompleteRequest),
    BIND("ntoskrnl.exe", IofCallDriver),
    BIND("ntoskrnl.exe", IoRegisterShutdownNotification),
    BIND("ntoskrnl.exe", IoUnregisterShutdownNotification),
    BIND("ntoskrnl.exe", IoConnectInterrupt),
    BIND("ntoskrnl.exe", IoDisconnectInterrupt),
    BIND("ntoskrnl.exe", IoReportResourceUsage),
    BIND("ntoskrnl.exe", KeSynchronizeExecution),
    BIND("ntoskrnl.exe", KeInitializeDpc),
    BIND("ntoskrnl.exe", KeInsertQueueDpc),
    BIND("ntoskrnl.exe", KeRemoveQueueDpc),
    BIND("ntoskrnl.exe", KeInitializeTimer),
    BIND("ntoskrnl.exe", KeInitializeTimerEx),
    BIND("ntoskrnl.exe", KeSetTimer),
    BIND("ntoskrnl.exe", KeSetTimerEx),
    BIND("ntoskrnl.exe", KeCancelTimer),
    BIND("ntoskrnl.exe", KeDelayExecutionThread),
    BIND_AS("ntoskrnl.exe", KeQuerySystemTime, VOID(NTAPI *)(PLARGE_INTEGER)),
    BIND_AS("ntoskrnl.exe", KeAcquireSpinLockAtDpcLevel, VOID(NTAPI *)(PKSPIN_LOCK)),
    BIND_AS("ntoskrnl.exe", KeReleaseSpinLockFromDpcLevel, VOID(NTAPI *)(PKSPIN_LOCK)),
    BIND("ntoskrnl.exe", ExAllocatePoolWithTag),
    BIND("ntoskrnl.exe", ExAllocatePool),
    BIND("ntoskrnl.exe", ExFreePool),
    BIND("ntoskrnl.exe", ExInitializeNPagedLookasideList),
    BIND("ntoskrnl.exe", ExDeleteNPagedLookasideList),
    BIND("ntoskrnl.exe", ExQueueWorkItem),
    BIND("ntoskrnl.exe", MmMapIoSpace),
    BIND("ntoskrnl.exe", MmGetPhysicalAddress),
    BIND("ntoskrnl.exe", MmMapLockedPages),
    BIND("ntoskrnl.exe", MmUnmapIoSpace),
    BIND("ntoskrnl.exe", RtlInitUnicodeString),
    BIND("ntoskrnl.exe", ZwOpenKey),
    BIND("ntoskrnl.exe", ZwCreateKey),
    BIND("ntoskrnl.exe", ZwClose),
    BIND("ntoskrnl.exe", ZwQueryValueKey),
    BIND("ntoskrnl.exe", ZwSetValueKey),
    BIND("ntoskrnl.exe", ZwEnumerateKey),
    BIND("ntoskrnl.exe", ZwDeleteKey),
    BIND_AS("ntoskrnl.exe", DbgPrint, ULONG(__cdecl *)(PCSTR, ...)),
    BIND_AS("ntoskrnl.exe", READ_REGISTER_ULONG, ULONG(NTAPI *)(volatile ULONG *)),
    BIND_AS("ntoskrnl.exe", WRITE_REGISTER_ULONG, VOID(NTAPI *)(volatile ULONG *, ULONG)),
    BIND_AS("ntoskrnl.exe", READ_REGISTER_USHORT, USHORT(NTAPI *)(volatile USHORT *)),
    BIND_AS("ntoskrnl.exe", WRITE_REGISTER_USHORT, VOID(NTAPI *)(volatile USHORT *, USHORT)),
    BIND_AS("ntoskrnl.exe", READ_REGISTER_UCHAR, UCHAR(NTAPI *)(volatile UCHAR *)),
    BIND_AS("ntoskrnl.exe", WRITE_REGISTER_UCHAR, VOID(NTAPI *)(volatile UCHAR *, UCHAR)),
#if defined(__x86_64__)
    BIND_AS("ntoskrnl.exe", KeAcquireSpinLockRaiseToDpc, KIRQL(NTAPI *)(PKSPIN_LOCK)),
    BIND_AS("ntoskrnl.exe", KeReleaseSpinLock, VOID(NTAPI *)(PKSPIN_LOCK, KIRQL)),
    BIND_AS("hal.dll", KeGetCurrentIrql, KIRQL(NTAPI *)()),
    BIND_AS("ntoskrnl.exe", KeGetCurrentIrql, KIRQL(NTAPI *)()),
    BIND_AS("ntoskrnl.exe", ExpInterlockedPopEntrySList, PSLIST_ENTRY(NTAPI *)(PSLIST_HEADER)),
    BIND_AS("ntoskrnl.exe", ExpInterlockedPushEntrySList, PSLIST_ENTRY(NTAPI *)(PSLIST_HEADER, PSLIST_ENTRY)),
    BIND_AS("ntoskrnl.exe", ExQueryDepthSList, USHORT(NTAPI *)(PSLIST_HEADER)),
#else
    BIND("ntoskrnl.exe", ExInterlockedPopEntrySList),
    BIND("ntoskrnl.exe", ExInterlockedPushEntrySList),
    BIND_AS("ntoskrnl.exe", KeInitializeSpinLock, VOID(NTAPI *)(PKSPIN_LOCK)),
    BIND("hal.dll", KfAcquireSpinLock),
    BIND("hal.dll", KfReleaseSpinLock),
    BIND("hal.dll", KfRaiseIrql),
    BIND("hal.dll", KfLowerIrql),
    BIND("hal.dll", KeGetCurrentIrql),
#endif
    BIND("hal.dll", KeStallExecutionProcessor),
    BIND("hal.dll", HalGetBusData),
    BIND("hal.dll", HalGetBusDataByOffset),
    BIND("hal.dll", HalSetBusData),
    BIND("hal.dll", HalSetBusDataByOffset),
    BIND("hal.dll", HalAssignSlotResources),
    BIND("hal.dll", HalGetInterruptVector),
    BIND("hal.dll", HalTranslateBusAddress),
    BIND("hal.dll", HalGetAdapter),
    BIND_AS("hal.dll", HalAllocateCommonBuffer, PVOID(NTAPI *)(PADAPTER_OBJECT, ULONG, PPHYSICAL_ADDRESS, BOOLEAN)),
    BIND_AS("hal.dll", HalFreeCommonBuffer, VOID(NTAPI *)(PADAPTER_OBJECT, ULONG, PHYSICAL_ADDRESS, PVOID, BOOLEAN)),
    BIND_AS("hal.dll", READ_PORT_UCHAR, PortReadUchar),
    BIND_AS("hal.dll", READ_PORT_USHORT, PortReadUshort),
    BIND_AS("hal.dll", READ_PORT_ULONG, PortReadUlong),
    BIND_AS("hal.dll", WRITE_PORT_UCHAR, PortWriteUchar),
    BIND_AS("hal.dll", WRITE_PORT_USHORT, PortWriteUshort),
    BIND_AS("hal.dll", WRITE_PORT_ULONG, PortWriteUlong),
  };
  return table;
}

static void NTAPI unresolvedImportCalled() { misuse("the driver called an import the test bed does not provide"); }

// The upper driver's callback.
static VOID NTAPI upperCallback(PDEVICE_OBJECT device) { g->callbackDevices.push_back(device); }

// ---------------------------------------------------------------------------------------------
// Testbed

bool Holdings::operator==(const Holdings &o) const {
  return poolBlocks == o.poolBlocks && commonBuffers == o.commonBuffers && mappings == o.mappings &&
         resourceClaims == o.resourceClaims && interrupts == o.interrupts &&
         shutdownRegistrations == o.shutdownRegistrations && registryHandles == o.registryHandles &&
         devices == o.devices && lookasideLists == o.lookasideLists && timersSet == o.timersSet &&
         dpcsQueued == o.dpcsQueued;
}

std::string describe(const Holdings &h) {
  char text[400];
  snprintf(text, sizeof(text),
           "pool %u, common buffers %u, mappings %u, resource claims %u, interrupts %u, shutdown registrations %u, "
           "registry handles %u, devices %u, look-aside lists %u, timers set %u, DPCs queued %u",
           unsigned(h.poolBlocks), unsigned(h.commonBuffers), unsigned(h.mappings), unsigned(h.resourceClaims),
           unsigned(h.interrupts), unsigned(h.shutdownRegistrations), unsigned(h.registryHandles), unsigned(h.devices),
           unsigned(h.lookasideLists), unsigned(h.timersSet), unsigned(h.dpcsQueued));
  return text;
}

std::vector<uint8_t> dwordBytes(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
          static_cast<uint8_t>(value >> 24)};
}

Testbed::Testbed() : state_(std::make_unique<SimState>()) {
  machine.memory = &simDma;
  if (g) misuse("a second Testbed while one exists");
  g = state_.get();
  g->owner = this;
  walk(g->root, kServiceKey, true);
}

Testbed::~Testbed() {
  unloadImage(g->image);
  for (auto &d : g->devices) _aligned_free(d.first);
  for (auto &b : g->pool) free(b.first);
  for (auto &c : g->commonBuffers) _aligned_free(c.first);
  for (auto &m : g->mappings) releaseAddressSpace(m.first);
  for (auto &i : g->interrupts) free(i.first);
  if (g->driver) {
    free(g->driverExtension);
    free(g->driver);
  }
  g = nullptr;
}

static std::wstring full(const std::wstring &key) {
  return key.empty() ? Testbed::kServiceKey : std::wstring(Testbed::kServiceKey) + L"\\" + key;
}

void Testbed::setValue(const std::wstring &key, const std::wstring &name, uint32_t type,
                       const std::vector<uint8_t> &data) {
  auto k = walk(g->root, full(key), true);
  k->values[lowerW(name)] = {name, RegistryValue{type, data}};
}
void Testbed::setDword(const std::wstring &key, const std::wstring &name, uint32_t v) {
  setValue(key, name, REG_DWORD, dwordBytes(v));
}
void Testbed::createKey(const std::wstring &key) { walk(g->root, full(key), true); }
bool Testbed::keyExists(const std::wstring &key) const { return walk(g->root, full(key), false) != nullptr; }
std::optional<RegistryValue> Testbed::value(const std::wstring &key, const std::wstring &name) const {
  auto k = walk(g->root, full(key), false);
  if (!k) return std::nullopt;
  auto it = k->values.find(lowerW(name));
  if (it == k->values.end()) return std::nullopt;
  return it->second.second;
}
std::optional<uint32_t> Testbed::dword(const std::wstring &key, const std::wstring &name) const {
  auto v = value(key, name);
  if (!v || v->type != REG_DWORD || v->data.size() != 4) return std::nullopt;
  return v->data[0] | v->data[1] << 8 | v->data[2] << 16 | static_cast<uint32_t>(v->data[3]) << 24;
}
std::optional<std::wstring> Testbed::text(const std::wstring &key, const std::wstring &name) const {
  auto v = value(key, name);
  if (!v || v->type != REG_SZ) return std::nullopt;
  std::wstring s(reinterpret_cast<const wchar_t *>(v->data.data()), v->data.size() / sizeof(WCHAR));
  while (!s.empty() && s.back() == 0) s.pop_back();
  return s;
}

uint32_t Testbed::load() {
  std::string error;
  auto resolve = [](const std::string &dll, const std::string &name) -> void * {
    for (const auto &b : bindings())
      if (dll == b.dll && name == b.name) return b.function;
    return nullptr;
  };
  if (!loadImage(programFolder() + L"\\usbhcd.sys", resolve, reinterpret_cast<void *>(&unresolvedImportCalled),
                 g->image, error)) {
    misuse("usbhcd.sys not loaded: " + error);
    return STATUS_UNSUCCESSFUL;
  }
  for (const auto &name : g->image.unresolved) misuse("usbhcd.sys imports " + name + ", which the test bed lacks");
  g->driver = static_cast<DRIVER_OBJECT *>(calloc(1, sizeof(DRIVER_OBJECT)));
  g->driverExtension = static_cast<DRIVER_EXTENSION *>(calloc(1, sizeof(DRIVER_EXTENSION)));
  g->driver->Type = 4;
  g->driver->Size = sizeof(DRIVER_OBJECT);
  g->driver->DriverExtension = g->driverExtension;
  g->driverExtension->DriverObject = g->driver;
  for (auto &f : g->driver->MajorFunction) f = invalidRequest;
  g->registryPathString.Buffer = const_cast<PWSTR>(g->registryPath.c_str());
  g->registryPathString.Length = static_cast<USHORT>(g->registryPath.size() * sizeof(WCHAR));
  g->registryPathString.MaximumLength = g->registryPathString.Length;
  auto entry = reinterpret_cast<PDRIVER_INITIALIZE>(g->image.entry);
  NTSTATUS status = entry(g->driver, &g->registryPathString);
  g->entered = NT_SUCCESS(status);
  return static_cast<uint32_t>(status);
}

const std::vector<std::string> &Testbed::unresolvedImports() const { return g->image.unresolved; }
void *Testbed::driverExport(const std::string &name) const {
  auto it = g->image.exports.find(name);
  return it == g->image.exports.end() ? nullptr : it->second;
}
bool Testbed::loaded() const { return g->entered; }

void Testbed::unload() {
  if (!g->entered) return;
  if (g->driver->DriverUnload) g->driver->DriverUnload(g->driver);
  g->entered = false;
  runDpcs();
}

std::vector<DeviceInfo> Testbed::devices() const {
  std::vector<DeviceInfo> out;
  for (PDEVICE_OBJECT d : g->deviceOrder) {
    DeviceInfo info = g->devices[d];
    info.flags = d->Flags;
    out.push_back(info);
  }
  return out;
}

void *Testbed::device(const std::wstring &name) const {
  for (auto &d : g->devices)
    if (lowerW(d.second.name) == lowerW(name)) return d.first;
  return nullptr;
}

static uint32_t send(PDEVICE_OBJECT device, PIRP irp, bool asynchronous = false) {
  if (!g->devices.count(device)) {
    misuse("request for a device that does not exist");
    return STATUS_NO_SUCH_DEVICE;
  }
  irp->CurrentLocation++;
  irp->Tail.Overlay.CurrentStackLocation++;
  g->completed.erase(irp);
  NTSTATUS returned = sim_IofCallDriver(device, irp);
  runDpcs();
  if (asynchronous) {
    if (returned != STATUS_PENDING && !g->completed.count(irp)) misuse("request returned without being completed");
    if (returned != STATUS_PENDING && irp->IoStatus.Status != returned)
      misuse("dispatch result differs from the completed status");
    return static_cast<uint32_t>(returned);
  }
  if (returned != STATUS_PENDING && !g->completed.count(irp)) misuse("request returned without being completed");
  g->completed.erase(irp);
  if (returned != STATUS_PENDING && irp->IoStatus.Status != returned)
    misuse("dispatch result differs from the completed status");
  return static_cast<uint32_t>(returned);
}

struct IrpBuffer {
  std::vector<uint8_t> memory;
  PIRP irp;
  PIO_STACK_LOCATION stack;
  IrpBuffer(int stackCount = 2) : memory(sizeof(IRP) + stackCount * sizeof(IO_STACK_LOCATION) + 16) {
    irp = reinterpret_cast<PIRP>((reinterpret_cast<uintptr_t>(memory.data()) + 15) & ~uintptr_t(15));
    irp->Type = 6;
    irp->StackCount = static_cast<CCHAR>(stackCount);
    irp->CurrentLocation = static_cast<CCHAR>(stackCount + 1);
    auto *stacks = reinterpret_cast<PIO_STACK_LOCATION>(irp + 1);
    irp->Tail.Overlay.CurrentStackLocation = stacks + stackCount;
    // The location the driver will see: the last one, as IoCallDriver moves down to it.
    stack = stacks + stackCount - 1;
    irp->Tail.Overlay.CurrentStackLocation = stack;
    irp->CurrentLocation = static_cast<CCHAR>(stackCount);
  }
};

uint32_t Testbed::internalControl(void *device, uint32_t code, void *argument1, uintptr_t argument2,
                                  uintptr_t argument4, void *systemBuffer, uint32_t outputLength,
                                  uintptr_t *information) {
  IrpBuffer b;
  b.stack->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
  b.stack->Parameters.Others.Argument1 = argument1;
  b.stack->Parameters.Others.Argument2 = reinterpret_cast<PVOID>(argument2);
  b.stack->Parameters.Others.Argument4 = reinterpret_cast<PVOID>(argument4);
  b.stack->Parameters.DeviceIoControl.IoControlCode = code;
  if (outputLength) b.stack->Parameters.DeviceIoControl.OutputBufferLength = outputLength;
  b.irp->AssociatedIrp.SystemBuffer = systemBuffer;
  b.irp->IoStatus.Information = 0x5A5A;
  uint32_t status = send(static_cast<PDEVICE_OBJECT>(device), b.irp);
  if (information) *information = b.irp->IoStatus.Information;
  return status;
}

struct Request::Irp {
  IrpBuffer buffer;
};

Request::Request() : irp_(std::make_unique<Irp>()) {}
Request::~Request() {
  if (g) {
    if (!done() && returned == STATUS_PENDING && g->entered) misuse("a pending request was left behind");
    g->completed.erase(irp_->buffer.irp);
    g->asynchronous.erase(irp_->buffer.irp);
  }
}
bool Request::done() const { return g && g->completed.count(irp_->buffer.irp) != 0; }
uint32_t Request::status() const { return static_cast<uint32_t>(irp_->buffer.irp->IoStatus.Status); }
uintptr_t Request::information() const { return irp_->buffer.irp->IoStatus.Information; }

std::unique_ptr<Request> Testbed::submitUrb(void *device, void *urb) {
  auto r = std::make_unique<Request>();
  IrpBuffer &b = r->irp_->buffer;
  b.stack->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
  b.stack->Parameters.Others.Argument1 = urb;
  b.stack->Parameters.DeviceIoControl.IoControlCode = 0x220003;
  b.irp->IoStatus.Status = 0x5A5A5A5A;
  b.irp->IoStatus.Information = 0x5A5A;
  g->asynchronous.insert(b.irp);
  r->returned = send(static_cast<PDEVICE_OBJECT>(device), b.irp, true);
  return r;
}

static void deliverInterrupts() {
  for (auto &entry : g->owner->machine.devices) {
    PciDevice *d = entry.second.get();
    if (d->interruptAsserted() && d->interruptLine() != 0xFF) g->owner->raiseInterrupt(0x30 + d->interruptLine());
  }
  runDpcs();
}

uint32_t Testbed::majorRequest(void *device, uint8_t major, uint8_t minor) {
  IrpBuffer b;
  b.stack->MajorFunction = major;
  b.stack->MinorFunction = minor;
  return send(static_cast<PDEVICE_OBJECT>(device), b.irp);
}

uint32_t Testbed::registerCallback() {
  void *control = device(L"\\Device\\Uhcd");
  return internalControl(control, 0x222033, reinterpret_cast<void *>(&upperCallback));
}

const std::vector<void *> &Testbed::callbackDevices() const { return g->callbackDevices; }

void Testbed::systemShutdown() {
  std::vector<PDEVICE_OBJECT> registered(g->shutdown.begin(), g->shutdown.end());
  for (PDEVICE_OBJECT d : registered) majorRequest(d, IRP_MJ_SHUTDOWN);
}

uint64_t Testbed::now() const { return g->clock; }
const std::vector<uint64_t> &Testbed::delays() const { return g->delays; }
void Testbed::advance(uint64_t microseconds) { passTime(microseconds); }

std::vector<InterruptInfo> Testbed::interrupts() const {
  std::vector<InterruptInfo> out;
  for (auto &i : g->interrupts) out.push_back(i.second.info);
  return out;
}

bool Testbed::raiseInterrupt(uint32_t vector) {
  bool claimed = false;
  std::vector<PKINTERRUPT> connected;
  for (auto &i : g->interrupts)
    if (i.second.info.vector == vector) connected.push_back(i.first);
  for (PKINTERRUPT object : connected) {
    SimInterrupt si = g->interrupts[object];
    KIRQL old = raiseTo(std::max(g->irql, si.info.synchronizeIrql));
    if (si.lock) acquire(si.lock);
    claimed = si.routine(object, si.context) || claimed;
    if (si.lock) release(si.lock);
    lowerTo(old);
    if (claimed && !si.info.shared) break;
  }
  return claimed;
}

Holdings Testbed::holdings() const {
  Holdings h;
  h.poolBlocks = g->pool.size();
  h.commonBuffers = g->commonBuffers.size();
  h.mappings = g->mappings.size();
  h.resourceClaims = g->claims.size();
  h.interrupts = g->interrupts.size();
  h.shutdownRegistrations = g->shutdown.size();
  h.registryHandles = g->handles.size();
  h.devices = g->devices.size();
  h.lookasideLists = g->lookasides.size();
  for (auto &t : g->timers) h.timersSet += t.second.set ? 1 : 0;
  h.dpcsQueued = g->dpcQueue.size();
  return h;
}

std::map<std::string, size_t> Testbed::poolByTag() const {
  std::map<std::string, size_t> out;
  for (auto &b : g->pool) out[tagText(b.second.tag)]++;
  return out;
}

std::optional<Testbed::PoolBlockInfo> Testbed::poolBlock(const void *block) const {
  auto it = g->pool.find(const_cast<void *>(block));
  if (it == g->pool.end()) return std::nullopt;
  return PoolBlockInfo{it->second.size, tagText(it->second.tag)};
}

void Testbed::freePool(void *block) { poolFree(block); }

const std::vector<std::string> &Testbed::debugPrints() const { return g->debugPrints; }
const std::vector<std::string> &Testbed::errors() const { return g->errors; }
const std::vector<Testbed::AdapterRequest> &Testbed::adapterRequests() const { return g->adapterRequests; }

std::vector<Testbed::CommonBufferInfo> Testbed::commonBuffers() const {
  std::vector<CommonBufferInfo> out;
  for (auto &c : g->commonBuffers)
    out.push_back({static_cast<uint8_t *>(c.second.virtualAddress), c.second.physical, c.second.length});
  std::sort(out.begin(), out.end(),
            [](const CommonBufferInfo &a, const CommonBufferInfo &b) { return a.physical < b.physical; });
  return out;
}

void Testbed::runWorkItems() {
  while (!g->work.empty()) {
    PWORK_QUEUE_ITEM item = g->work.front();
    g->work.erase(g->work.begin());
    item->WorkerRoutine(item->Parameter);
  }
}

}  // namespace hcsim
