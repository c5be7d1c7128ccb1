#pragma once
// Equipment type captions, the developer-contact block, the version text and the module's
// own file version.
#include <cstdint>
#include <span>
#include <string>

#include "uDeviceInfo.h"

struct TEquipmentTypeText {
  const wchar_t* TypeName;
  const wchar_t* Caption;
};

// Every equipment type name with its caption, in table order.
std::span<const TEquipmentTypeText> EquipmentTypeTexts() noexcept;

// The caption of a type name (exact, case-sensitive match); an unknown name comes back unchanged.
std::wstring EquipmentTypeCaption(const std::wstring& TypeName);

// Four lines "E-mail", "Web", "Тел", "Адрес", each ":\t<value>\r\n".
std::wstring ContactText(const TDeviceInfoStruct& Info);

// "Major.Minor.Build".
std::wstring VersionText(const TDeviceInfoStruct& Info);

// The fixed file version of the module that contains this code (the driver DLL, never the
// host's EXE): the high and low words of the most significant double word, then of the
// least significant one; all zero without version information. Shown as parts 1, 2 and 4.
struct TModuleVersion {
  uint16_t Major = 0;
  uint16_t Minor = 0;
  uint16_t Release = 0;
  uint16_t Build = 0;
};
TModuleVersion GetModuleVersion() noexcept;
