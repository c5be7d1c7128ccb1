#pragma once
// Folders, special folders, the module's own file and version, and the process's log-file writer.
#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

bool DirectoryExists(const std::wstring& Path) noexcept;
// Creates the folder with every missing parent; true when it exists afterwards.
bool ForceDirectories(const std::wstring& Path) noexcept;
std::wstring IncludeTrailingPathDelimiter(std::wstring Path);
// "C:\a\b.dll" -> "b"
std::wstring ExtractFileBaseName(std::wstring_view Path);

// The folder of a CSIDL (created when `Create` and the system allows), or "" when the system has none.
std::wstring SpecialFolderPath(int Csidl, bool Create) noexcept;

// Full file name of the module (DLL or EXE) that contains this code, not the host process.
std::wstring ThisModuleFileName();
// Path in its long form (COM loads a module by its 8.3 name when the registered path has a
// space); the path itself when it has none or cannot be read.
std::wstring LongPathName(const std::wstring& Path);

// The four 16-bit parts of a file's fixed file version, most significant first;
// all zero when the file has no version information.
using TFileVersion = std::array<uint16_t, 4>;
TFileVersion FileVersionOf(const std::wstring& FileName) noexcept;

// Appends bytes to a log file, creating it when missing. Every log of the process writes
// through here: one process-wide lock serialises the writes, the file is opened for each
// write with sharing for read and write, and a file held by another handle that excludes
// writers is retried briefly. Returns ERROR_SUCCESS or the error of the last attempt;
// never throws. Without WaitForLock a lock held by another thread gives ERROR_BUSY at once:
// at unload during process exit its holder may have been killed and would never release it.
DWORD AppendToLogFile(const std::wstring& FileName, std::string_view Bytes, bool WaitForLock = true) noexcept;
