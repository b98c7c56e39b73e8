#include "import_hook.h"

#include <cstring>

namespace qrtest {

namespace {

template <typename T>
T* at(HMODULE module, DWORD offset) {
  return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + offset);
}

// The import address table entry through which `module` calls `function` of `dll`, or null.
// The name table (OriginalFirstThunk) tells the entries apart; the address table holds what the
// loader bound.
void** findImportSlot(HMODULE module, const char* dll, const char* function) {
  const IMAGE_DOS_HEADER* dos = at<IMAGE_DOS_HEADER>(module, 0);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  const IMAGE_NT_HEADERS* nt = at<IMAGE_NT_HEADERS>(module, static_cast<DWORD>(dos->e_lfanew));
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!imports.VirtualAddress) return nullptr;
  for (auto* entry = at<IMAGE_IMPORT_DESCRIPTOR>(module, imports.VirtualAddress); entry->Name; ++entry) {
    if (lstrcmpiA(at<char>(module, entry->Name), dll) != 0 || !entry->OriginalFirstThunk) continue;
    auto* name = at<IMAGE_THUNK_DATA>(module, entry->OriginalFirstThunk);
    auto* bound = at<IMAGE_THUNK_DATA>(module, entry->FirstThunk);
    for (; name->u1.AddressOfData; ++name, ++bound) {
      if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
      auto* byName = at<IMAGE_IMPORT_BY_NAME>(module, static_cast<DWORD>(name->u1.AddressOfData));
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
        return reinterpret_cast<void**>(&bound->u1.Function);
      }
    }
  }
  return nullptr;
}

void writeSlot(void** slot, void* value) {
  DWORD protection = 0;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) return;
  *slot = value;
  VirtualProtect(slot, sizeof *slot, protection, &protection);
}

}  // namespace

ImportHook::ImportHook(HMODULE module, const char* dll, const char* function, void* replacement) {
  if (!module) return;
  slot_ = findImportSlot(module, dll, function);
  if (!slot_) return;
  original_ = *slot_;
  writeSlot(slot_, replacement);
}

ImportHook::~ImportHook() {
  if (slot_) writeSlot(slot_, original_);
}

}  // namespace qrtest
