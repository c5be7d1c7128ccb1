#include "uDebugLog.h"

#include <shlobj.h>

#include <cwchar>
#include <mutex>
#include <vector>

#include "platform/uExceptions.h"
#include "platform/uFiles.h"
#include "platform/uLocale.h"
#include "platform/uSafeArray.h"
#include "platform/uStrings.h"
#include "platform/uVariant.h"

// ---------------------------------------------------------------------------------------------
// Rendering

namespace {
std::wstring BstrToText(BSTR value) {
  std::wstring text = value ? std::wstring(value, SysStringLen(value)) : std::wstring();
  // One event, one line: a CR LF pair shows as the two characters \n.
  std::wstring out;
  out.reserve(text.size() + 2);
  out += L'\'';
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
      out += L"\\n";
      ++i;
    } else {
      out += text[i];
    }
  }
  out += L'\'';
  return out;
}

std::wstring DateToText(DATE value) {
  TVariant text;  // owns the BSTR the conversion allocates
  if (FAILED(VarBstrFromDate(value, LOCALE_USER_DEFAULT, 0, &text.Get().bstrVal))) return {};
  text.Get().vt = VT_BSTR;
  BSTR b = text.Get().bstrVal;
  return b ? std::wstring(b, SysStringLen(b)) : std::wstring();
}

constexpr UINT kMaxRenderedDimensions = 32;

void RenderGroup(SAFEARRAY* array, UINT dim, std::vector<LONG>& indices, std::wstring& out) {
  LONG low = 0, high = -1;
  SafeArrayGetLBound(array, dim, &low);
  SafeArrayGetUBound(array, dim, &high);
  out += L'(';
  for (LONG i = low; i <= high; ++i) {
    indices[dim - 1] = i;
    if (dim == 1) {
      if (i > low) out += L"; ";
      out += ValueToText(SafeArrayItem(array, indices.data()).Get());
    } else {
      RenderGroup(array, dim - 1, indices, out);
    }
  }
  out += L')';
}
}  // namespace

std::wstring ValueToText(const VARIANT& Value) {
  try {
    if (Value.vt & VT_ARRAY) return ArrayToText(Value);
    switch (Value.vt) {
      case VT_EMPTY: return L"EMPTY";
      case VT_NULL: return L"NULL";
      case VT_I2: return std::to_wstring(Value.iVal);
      case VT_I4: return std::to_wstring(Value.lVal);
      case VT_R4: return FloatToText(Value.fltVal);
      case VT_R8: return FloatToText(Value.dblVal);
      case VT_CY: return CurrencyToText(Value.cyVal.int64);
      case VT_DATE: return DateToText(Value.date);
      case VT_BSTR: return BstrToText(Value.bstrVal);
      case VT_DISPATCH: {
        wchar_t buffer[24];
        swprintf(buffer, 24, L"$%08llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(Value.pdispVal)));
        return buffer;
      }
      case VT_BOOL: return Value.boolVal != VARIANT_FALSE ? L"True" : L"False";
      case VT_UI1: return std::wstring(1, static_cast<wchar_t>(Value.bVal));
      case VT_BYREF | VT_VARIANT:
        return Value.pvarVal ? VariantToString(*Value.pvarVal) : std::wstring();
      default: return {};
    }
  } catch (...) {
    // A trace line must never fail the call it describes (a Null behind a reference, an
    // array that cannot be read): what cannot be rendered shows as nothing.
    return {};
  }
}

std::wstring ArrayToText(const VARIANT& Value) {
  if (!(Value.vt & VT_ARRAY)) return ValueToText(Value);
  try {
    SAFEARRAY* array = VariantSafeArray(Value);
    if (!array) return L"EMPTY";
    const UINT dims = SafeArrayGetDim(array);
    // Rendering recurses once per dimension; no host builds more than a few, so a deeper
    // array is not rendered rather than risking the host thread's stack.
    if (dims > kMaxRenderedDimensions) return {};
    std::wstring out = L"[";
    if (dims > 0) {
      std::vector<LONG> indices(dims, 0);
      RenderGroup(array, dims, indices, out);
    }
    out += L']';
    return out;
  } catch (...) {
    return {};
  }
}

// ---------------------------------------------------------------------------------------------
// Clock and folders

namespace {
std::function<SYSTEMTIME()>& ClockSeam() {
  static std::function<SYSTEMTIME()> clock;
  return clock;
}

std::function<std::wstring(int)>& SpecialFolderSeam() {
  static std::function<std::wstring(int)> lookup;
  return lookup;
}

SYSTEMTIME Now() {
  if (ClockSeam()) return ClockSeam()();
  SYSTEMTIME time;
  GetLocalTime(&time);
  return time;
}

std::wstring SpecialFolder(int csidl) {
  if (SpecialFolderSeam()) return SpecialFolderSeam()(csidl);
  return SpecialFolderPath(csidl, true);
}
}  // namespace

void SetDebugLogClock(std::function<SYSTEMTIME()> Clock) { ClockSeam() = std::move(Clock); }
void SetDebugLogSpecialFolders(std::function<std::wstring(int)> Lookup) { SpecialFolderSeam() = std::move(Lookup); }

namespace {
// The default folder's name, not made: "" when there is none.
std::wstring DefaultFolderName() {
  // Common application data first, so that every user of the machine logs into one place;
  // the user's own folder when the common one is not to be had; no third attempt.
  std::wstring base = SpecialFolder(CSIDL_COMMON_APPDATA);
  if (base.empty()) base = SpecialFolder(CSIDL_APPDATA);
  if (base.empty()) return {};
  // The long name: COM may have loaded us by the 8.3 one ("TOLVAR~1"), which would be another folder.
  const std::wstring moduleName = ExtractFileBaseName(LongPathName(ThisModuleFileName()));
  // Without our own name the folder would be the application-data root itself, which must
  // never be given to Everyone.
  if (moduleName.empty()) return {};
  return IncludeTrailingPathDelimiter(IncludeTrailingPathDelimiter(base) + moduleName);
}

// The folder last made and opened to Everyone, and the day it was: while it stays, the lines
// of that day skip the rights (a read and a rewrite of the folder's ACL for every line). The
// wait threads write too, hence the lock.
struct TPreparedFolder {
  std::mutex Lock;
  std::wstring Folder;
  WORD Year = 0, Month = 0, Day = 0;
};
TPreparedFolder& PreparedFolder() {
  static TPreparedFolder prepared;
  return prepared;
}

void PrepareDefaultFolder(const std::wstring& Folder, const SYSTEMTIME& Day) {
  TPreparedFolder& prepared = PreparedFolder();
  std::lock_guard<std::mutex> guard(prepared.Lock);
  const bool sameDay = prepared.Year == Day.wYear && prepared.Month == Day.wMonth && prepared.Day == Day.wDay;
  if (sameDay && prepared.Folder == Folder && DirectoryExists(Folder)) return;
  prepared.Folder.clear();
  if (!ForceDirectories(Folder)) return;  // the write will fail and drop the line
  try {
    GrantEveryoneFullAccess(Folder);
  } catch (...) {
    // The folder exists and we can write to it: rights we could not widen do not cost the
    // line. They are tried again with the next line.
    return;
  }
  prepared.Folder = Folder;
  prepared.Year = Day.wYear;
  prepared.Month = Day.wMonth;
  prepared.Day = Day.wDay;
}
}  // namespace

SYSTEMTIME DebugLogNow() { return Now(); }

std::wstring DefaultDebugLogDir() {
  const std::wstring folder = DefaultFolderName();
  if (!folder.empty()) PrepareDefaultFolder(folder, Now());
  return folder;
}

std::wstring DebugLogFolder(const std::wstring& PreferredDir, const SYSTEMTIME& Day, bool CreateDefault) {
  if (!PreferredDir.empty() && DirectoryExists(PreferredDir)) return IncludeTrailingPathDelimiter(PreferredDir);
  const std::wstring folder = DefaultFolderName();
  if (CreateDefault && !folder.empty()) PrepareDefaultFolder(folder, Day);
  return folder;
}

std::wstring DebugLogFile(const std::wstring& PreferredDir, const SYSTEMTIME& Day, bool CreateDefault) {
  const std::wstring folder = DebugLogFolder(PreferredDir, Day, CreateDefault);
  return folder.empty() ? std::wstring() : DebugLogFileName(folder, Day);
}

std::wstring DebugLogFileName(const std::wstring& Folder, const SYSTEMTIME& Day) {
  wchar_t date[16];
  swprintf(date, 16, L"%04u.%02u.%02u", Day.wYear, Day.wMonth, Day.wDay);
  return IncludeTrailingPathDelimiter(Folder) + L"Debug_" + date + L".log";
}

std::wstring FormatDebugLogLine(const SYSTEMTIME& Time, const std::wstring& InstanceID, const std::wstring& Caption,
                                const std::wstring& Text, bool CaptionOnly) {
  const std::wstring colon = UserTimeSeparator();
  wchar_t date[16], hh[4], nn[4], ss[4], zzz[8];
  swprintf(date, 16, L"%04u.%02u.%02u ", Time.wYear, Time.wMonth, Time.wDay);
  swprintf(hh, 4, L"%02u", Time.wHour);
  swprintf(nn, 4, L"%02u", Time.wMinute);
  swprintf(ss, 4, L"%02u", Time.wSecond);
  swprintf(zzz, 8, L".%03u", Time.wMilliseconds);
  std::wstring line = date;
  line += hh + colon + nn + colon + ss + zzz;
  line += L" Inst.: ";
  line += InstanceID;
  line += L'\t';
  line += Caption;
  if (!CaptionOnly) {
    line += L": \t";
    line += Text;
  }
  line += L"\r\n";
  return line;
}

void WriteDebugLogLine(const std::wstring& PreferredDir, const std::wstring& InstanceID, const std::wstring& Caption,
                       const std::wstring& Text, bool CaptionOnly) noexcept {
  try {
    // One reading of the clock names the file and stamps the line, so a line stamped
    // 23:59:59.999 never lands in the next day's file.
    const SYSTEMTIME now = Now();
    const std::wstring file = DebugLogFile(PreferredDir, now, true);
    if (file.empty()) return;
    const std::string bytes = Utf16ToAnsi(FormatDebugLogLine(now, InstanceID, Caption, Text, CaptionOnly));
    // A line that cannot be written is dropped: the log must never fail or alter the call it records.
    AppendToLogFile(file, bytes);
  } catch (...) {
  }
}
