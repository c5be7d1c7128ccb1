#include "uUnwindTables.h"

#include <windows.h>

#if defined(__i386__) && defined(__MINGW32__) && !defined(__SEH__)

namespace {

// The unwinder's registry (libgcc's unwind-dw2-fde), linked in statically.
struct TDwarfEhBases {
  void* TBase;
  void* DBase;
  void* Func;
};
extern "C" {
void __register_frame_info(const void* Begin, void* Object);
void* __deregister_frame_info(const void* Begin);
const void* _Unwind_Find_FDE(void* PC, TDwarfEhBases* Bases);
}
using TFindFDE = const void* (*)(void*, TDwarfEhBases*);

// An address of this module's code that has unwind information (it may throw through).
[[gnu::noinline]] void UnwindProbe(void (*Callee)()) { Callee(); }

// The start of the image section that holds Address: the module's .eh_frame section starts
// with its first table entry and ends with the zero terminator the toolchain puts last.
const void* SectionStartOf(HMODULE Module, const void* Address) {
  const auto* base = reinterpret_cast<const BYTE*>(Module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  const auto rva = static_cast<DWORD>(reinterpret_cast<const BYTE*>(Address) - base);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize)
      return base + section->VirtualAddress;
  }
  return nullptr;
}

}  // namespace

TOwnUnwindTables::TOwnUnwindTables() noexcept {
  void* const probe = reinterpret_cast<void*>(&UnwindProbe);
  TDwarfEhBases bases{};
  if (_Unwind_Find_FDE(probe, &bases) != nullptr) return;  // the start-up code gave them to us
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(probe), &self))
    return;
  // The shared unwinder has them: it knows where they are.
  HMODULE shared = GetModuleHandleW(L"libgcc_s_dw2-1.dll");
  if (shared == nullptr) return;
  const auto findShared = reinterpret_cast<TFindFDE>(reinterpret_cast<void*>(GetProcAddress(shared, "_Unwind_Find_FDE")));
  const void* fde = findShared != nullptr ? findShared(probe, &bases) : nullptr;
  const void* begin = fde != nullptr ? SectionStartOf(self, fde) : nullptr;
  if (begin == nullptr) return;
  __register_frame_info(begin, FObject);
  FBegin = begin;
}

TOwnUnwindTables::~TOwnUnwindTables() {
  if (FBegin != nullptr) __deregister_frame_info(FBegin);
}

#else

TOwnUnwindTables::TOwnUnwindTables() noexcept = default;
TOwnUnwindTables::~TOwnUnwindTables() = default;

#endif
