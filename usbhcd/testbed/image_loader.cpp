#include <windows.h>
#include <cstring>
#include <fstream>
#include <iterator>

#include "image_loader.h"

namespace hcsim {

#ifdef _WIN64
using NtHeaders = IMAGE_NT_HEADERS64;
constexpr WORD kMachine = IMAGE_FILE_MACHINE_AMD64;
constexpr ULONGLONG kOrdinalFlag = IMAGE_ORDINAL_FLAG64;
using Thunk = IMAGE_THUNK_DATA64;
#else
using NtHeaders = IMAGE_NT_HEADERS32;
constexpr WORD kMachine = IMAGE_FILE_MACHINE_I386;
constexpr DWORD kOrdinalFlag = IMAGE_ORDINAL_FLAG32;
using Thunk = IMAGE_THUNK_DATA32;
#endif

static std::string lower(std::string s) {
  for (char &c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

bool loadImage(const std::wstring &path, const ImportResolver &resolve, void *unresolvedTrap, LoadedImage &image,
               std::string &error) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot open the driver image";
    return false;
  }
  std::vector<unsigned char> bytes(GetFileSize(file, nullptr));
  DWORD read = 0;
  BOOL ok = bytes.empty() ? FALSE : ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  if (!ok || read != bytes.size() || bytes.size() < sizeof(IMAGE_DOS_HEADER)) {
    error = "cannot read the driver image";
    return false;
  }
  auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(bytes.data());
  if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew < 0 ||
      static_cast<size_t>(dos->e_lfanew) + sizeof(NtHeaders) > bytes.size()) {
    error = "not a PE image";
    return false;
  }
  auto *nt = reinterpret_cast<NtHeaders *>(bytes.data() + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE || nt->FileHeader.Machine != kMachine) {
    error = "not an image for this word size";
    return false;
  }
  if (nt->OptionalHeader.Subsystem != IMAGE_SUBSYSTEM_NATIVE) {
    error = "not a native-subsystem image";
    return false;
  }
  const size_t size = nt->OptionalHeader.SizeOfImage;
  auto *base =
      static_cast<unsigned char *>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
  if (!base) {
    error = "no memory for the image";
    return false;
  }
  std::memcpy(base, bytes.data(), std::min<size_t>(nt->OptionalHeader.SizeOfHeaders, bytes.size()));
  auto *section = IMAGE_FIRST_SECTION(nt);
  for (unsigned i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    if (section->VirtualAddress + std::max(section->Misc.VirtualSize, section->SizeOfRawData) > size) continue;
    size_t raw = std::min<size_t>(section->SizeOfRawData,
                                  section->Misc.VirtualSize ? section->Misc.VirtualSize : section->SizeOfRawData);
    if (section->PointerToRawData + raw <= bytes.size())
      std::memcpy(base + section->VirtualAddress, bytes.data() + section->PointerToRawData, raw);
  }
  const auto &dirs = nt->OptionalHeader.DataDirectory;

  // Base relocations: the image rarely lands at its preferred base in a test process.
  const ptrdiff_t delta = reinterpret_cast<ptrdiff_t>(base) - static_cast<ptrdiff_t>(nt->OptionalHeader.ImageBase);
  const auto &relocDir = dirs[IMAGE_DIRECTORY_ENTRY_BASERELOC];
  if (delta && relocDir.Size) {
    auto *block = reinterpret_cast<IMAGE_BASE_RELOCATION *>(base + relocDir.VirtualAddress);
    auto *end = reinterpret_cast<unsigned char *>(block) + relocDir.Size;
    while (reinterpret_cast<unsigned char *>(block) < end && block->SizeOfBlock) {
      auto *entries = reinterpret_cast<WORD *>(block + 1);
      size_t count = (block->SizeOfBlock - sizeof(*block)) / sizeof(WORD);
      for (size_t i = 0; i < count; ++i) {
        unsigned type = entries[i] >> 12;
        unsigned char *at = base + block->VirtualAddress + (entries[i] & 0xFFF);
        if (type == IMAGE_REL_BASED_HIGHLOW)
          *reinterpret_cast<DWORD *>(at) += static_cast<DWORD>(delta);
        else if (type == IMAGE_REL_BASED_DIR64)
          *reinterpret_cast<ULONGLONG *>(at) += delta;
      }
      block = reinterpret_cast<IMAGE_BASE_RELOCATION *>(reinterpret_cast<unsigned char *>(block) + block->SizeOfBlock);
    }
  }

  // Imports, by name.
  const auto &importDir = dirs[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (importDir.Size) {
    for (auto *desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + importDir.VirtualAddress); desc->Name;
         ++desc) {
      std::string dll = lower(reinterpret_cast<char *>(base + desc->Name));
      auto *names =
          reinterpret_cast<Thunk *>(base + (desc->OriginalFirstThunk ? desc->OriginalFirstThunk : desc->FirstThunk));
      auto *slots = reinterpret_cast<Thunk *>(base + desc->FirstThunk);
      for (; names->u1.AddressOfData; ++names, ++slots) {
        std::string name;
        if (names->u1.Ordinal & kOrdinalFlag) {
          name = "#" + std::to_string(names->u1.Ordinal & 0xFFFF);
        } else {
          name = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData)->Name;
        }
        void *target = resolve(dll, name);
        if (!target) {
          image.unresolved.push_back(dll + "!" + name);
          target = unresolvedTrap;
        }
        slots->u1.Function = reinterpret_cast<decltype(slots->u1.Function)>(target);
      }
    }
  }

  const auto &exportDir = dirs[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (exportDir.Size) {
    auto *exp = reinterpret_cast<IMAGE_EXPORT_DIRECTORY *>(base + exportDir.VirtualAddress);
    auto *names = reinterpret_cast<DWORD *>(base + exp->AddressOfNames);
    auto *ordinals = reinterpret_cast<WORD *>(base + exp->AddressOfNameOrdinals);
    auto *functions = reinterpret_cast<DWORD *>(base + exp->AddressOfFunctions);
    for (DWORD i = 0; i < exp->NumberOfNames; ++i)
      image.exports[reinterpret_cast<char *>(base + names[i])] = base + functions[ordinals[i]];
  }
  image.base = base;
  image.size = size;
  image.entry = base + nt->OptionalHeader.AddressOfEntryPoint;
  return true;
}

void unloadImage(LoadedImage &image) {
  if (image.base) VirtualFree(image.base, 0, MEM_RELEASE);
  image = LoadedImage{};
}

void *reserveAddressSpace(size_t size) { return VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS); }
void releaseAddressSpace(void *address) { VirtualFree(address, 0, MEM_RELEASE); }

std::wstring programFolder() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  size_t slash = folder.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : folder.substr(0, slash);
}

}  // namespace hcsim
