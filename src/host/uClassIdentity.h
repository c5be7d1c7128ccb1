#pragma once
// Who the driver is to COM and to the host. Fixed once: hosts find the driver by these,
// so the class GUID never changes.
#include <guiddef.h>

inline constexpr wchar_t kServerName[] = L"Qelm";
inline constexpr wchar_t kDriverClassName[] = L"tolvaro";
inline constexpr wchar_t kDriverProgID[] = L"Qelm.tolvaro";  // server name "." class name
inline constexpr wchar_t kDriverDescription[] = L"8.2 Equipment Driver 2.0";

// {973CB31E-3A3E-4B58-B93D-262E5857EFC4}
inline constexpr GUID CLSID_tolvaro = {0x973CB31E, 0x3A3E, 0x4B58, {0xB9, 0x3D, 0x26, 0x2E, 0x58, 0x57, 0xEF, 0xC4}};
// The same GUID as text: in braces for the registry, without them as the device's ModelID.
inline constexpr wchar_t kDriverClassGuidText[] = L"{973CB31E-3A3E-4B58-B93D-262E5857EFC4}";
inline constexpr wchar_t kDriverModelID[] = L"973CB31E-3A3E-4B58-B93D-262E5857EFC4";
