// The debug log: rendering of values, the line writer (folder, file per day, line format,
// code page, dropped lines), the default folder and its rights, and the trace of host calls
// read back from the real file.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "kit/DispatchTestKit.h"
#include "kit/LogTestKit.h"
#include "host/uCOMSupport.h"
#include "host/uDebugLog.h"
#include "platform/uFiles.h"
#include "platform/uHandles.h"
#include "kit/ScopedHook.h"

namespace {

VARIANT Raw(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  return v;
}

// ---------------------------------------------------------------------------------------------
// Rendering

TEST(ValueToText, EveryKindOfValue) {
  VARIANT i2 = Raw(VT_I2);
  i2.iVal = -5;
  VARIANT ui1 = Raw(VT_UI1);
  ui1.bVal = 65;
  VARIANT disp = Raw(VT_DISPATCH);  // never called, so any address will do
  disp.pdispVal = reinterpret_cast<IDispatch*>(static_cast<uintptr_t>(0x0012ABCD));
  VARIANT error = Raw(VT_ERROR);  // an omitted optional argument
  error.scode = DISP_E_PARAMNOTFOUND;
  VARIANT dec = Raw(VT_DECIMAL);
  VarDecFromI4(12, &dec.decVal);
  dec.vt = VT_DECIMAL;
  VARIANT i1 = Raw(VT_I1);
  i1.cVal = 3;
  VARIANT ui4 = Raw(VT_UI4);
  ui4.ulVal = 4;
  VARIANT i8 = Raw(VT_I8);
  i8.llVal = 5;
  VARIANT unk = Raw(VT_UNKNOWN);
  unk.punkVal = nullptr;
  TVariant seven = TVariant::FromInt(7), word = TVariant::FromString(L"x"), null = TVariant::Null();
  VARIANT refSeven = VariantRefTo(seven), refWord = VariantRefTo(word), refNull = VariantRefTo(null);
  VARIANT typedRef = Raw(VT_BYREF | VT_I4);
  LONG storage = 9;
  typedRef.plVal = &storage;

  struct Case {
    const char* Name;
    VARIANT Value;
    std::wstring Expected;
  };
  const Case cases[] = {
      {"empty", Raw(VT_EMPTY), L"EMPTY"},
      {"null", Raw(VT_NULL), L"NULL"},
      {"short", i2, L"-5"},
      {"long", TVariant::FromInt(-123456).Get(), L"-123456"},
      {"true", TVariant::FromBool(true).Get(), L"True"},
      {"false", TVariant::FromBool(false).Get(), L"False"},
      {"byte", ui1, L"A"},
      {"dispatch", disp, L"$0012ABCD"},
      {"string with CR LF", TVariant::FromString(L"line1\r\nline2\nline3\r").Get(), L"'line1\\nline2\nline3\r'"},
      {"empty string", TVariant::FromString(L"").Get(), L"''"},
      {"cyrillic string", TVariant::FromString(L"Оплата").Get(), L"'Оплата'"},
      {"decimal", dec, L""},
      {"error", error, L""},
      {"shortint", i1, L""},
      {"longword", ui4, L""},
      {"int64", i8, L""},
      {"unknown", unk, L""},
      {"typed reference", typedRef, L""},
      {"reference to long", refSeven, L"7"},
      {"reference to string", refWord, L"x"},  // the plain string conversion: no quotes
      {"reference to null", refNull, L""},      // not convertible: shows nothing, fails nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(ValueToText(c.Value), c.Expected);
  }
}

TEST(ArrayToText, Arrays) {
  // 1, 'a', EMPTY
  TVariant flat = MakeVariantArray({TVariant::FromInt(1), TVariant::FromString(L"a"), TVariant()});
  EXPECT_EQ(ArrayToText(flat.Get()), L"[(1; 'a'; EMPTY)]");
  EXPECT_EQ(ValueToText(flat.Get()), L"[(1; 'a'; EMPTY)]");

  // A[i, j] with i the first dimension: the first dimension is the inner group.
  TVariant twoOwner = NewVariantArray({{2, 0}, {2, 0}});
  for (LONG i = 0; i < 2; ++i)
    for (LONG j = 0; j < 2; ++j) {
      const LONG idx[2] = {i, j};
      PutVariantArrayItem(twoOwner, idx, TVariant::FromString(std::to_wstring(i) + std::to_wstring(j)).Get());
    }
  EXPECT_EQ(ArrayToText(twoOwner.Get()), L"[(('00'; '10')('01'; '11'))]");

  // Nested arrays, typed arrays, an empty array, an array variant without an array.
  TVariant nested = MakeVariantArray({TVariant::FromInt(1), MakeVariantArray({TVariant::FromInt(2), TVariant()})});
  EXPECT_EQ(ArrayToText(nested.Get()), L"[(1; [(2; EMPTY)])]");

  VARIANT ints = Raw(VT_ARRAY | VT_I4);
  ints.parray = SafeArrayCreateVector(VT_I4, 1, 2);
  TVariant intsOwner = TVariant::Take(ints);
  LONG values[2] = {10, 20};
  for (LONG i = 1; i <= 2; ++i) SafeArrayPutElement(intsOwner.Get().parray, &i, &values[i - 1]);
  EXPECT_EQ(ArrayToText(intsOwner.Get()), L"[(10; 20)]");

  TVariant none = MakeVariantArray({});
  EXPECT_EQ(ArrayToText(none.Get()), L"[()]");
  EXPECT_EQ(ArrayToText(Raw(VT_ARRAY | VT_VARIANT)), L"EMPTY");

  // By reference, as a host passes OutData.
  VARIANT ref = Raw(VT_BYREF | VT_ARRAY | VT_VARIANT);
  SAFEARRAY* sa = flat.Get().parray;
  ref.pparray = &sa;
  EXPECT_EQ(ArrayToText(ref), L"[(1; 'a'; EMPTY)]");

  // Not an array at all.
  EXPECT_EQ(ArrayToText(TVariant::FromInt(4).Get()), L"4");
}

bool IsRussian() { return PRIMARYLANGID(LANGIDFROMLCID(GetUserDefaultLCID())) == LANG_RUSSIAN; }
bool IsEnglish() { return PRIMARYLANGID(LANGIDFROMLCID(GetUserDefaultLCID())) == LANG_ENGLISH; }

// The run's locale is the one it asked for (wine-run.sh hands TOLVARO_TEST_LOCALE, or Russian,
// to Wine as LC_ALL): else the English entry would run the Russian expectations again.
TEST(TestRunLocale, IsTheOneTheRunAskedFor) {
  const char* asked = std::getenv("TOLVARO_TEST_LOCALE");
  if (asked && std::string(asked).starts_with("en_US")) {
    EXPECT_TRUE(IsEnglish()) << "LCID " << GetUserDefaultLCID();
    EXPECT_EQ(GetACP(), 1252u);
  } else {
    EXPECT_TRUE(IsRussian()) << "LCID " << GetUserDefaultLCID();
    EXPECT_EQ(GetACP(), 1251u);
  }
}

// Numbers and dates in the user's locale; this suite also runs under en-US.
TEST(ValueToTextLocale, NumbersAndDates) {
  ASSERT_TRUE(IsRussian() || IsEnglish()) << "expectations exist for ru-RU and en-US only";
  const bool ru = IsRussian();
  auto local = [ru](std::wstring text) {
    if (ru)
      for (wchar_t& c : text)
        if (c == L'.') c = L',';
    return text;
  };
  VARIANT r4 = Raw(VT_R4);
  r4.fltVal = 0.5f;
  SYSTEMTIME st{2024, 3, 0, 5, 14, 30, 15, 0};
  DATE moment = 0;
  ASSERT_TRUE(SystemTimeToVariantTime(&st, &moment));
  SYSTEMTIME morning{2024, 3, 0, 5, 9, 5, 0, 0};
  DATE early = 0;
  ASSERT_TRUE(SystemTimeToVariantTime(&morning, &early));

  // Windows' ru-RU time format is H:mm:ss; Wine's locale data has HH:mm:ss. VarBstrFromDate
  // follows the locale's format on both, so the hour of 9:05 is written as the locale says.
  wchar_t timeFormat[32] = {};
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, timeFormat, 32);
  const std::wstring nineOFive = std::wstring(timeFormat).rfind(L"HH", 0) == 0 ? L"09:05:00" : L"9:05:00";

  struct Case {
    VARIANT Value;
    std::wstring Expected;
  };
  const Case cases[] = {
      {TVariant::FromDouble(1.5).Get(), local(L"1.5")},
      {TVariant::FromDouble(-1234567.25).Get(), local(L"-1234567.25")},  // no thousands separators
      {TVariant::FromDouble(100).Get(), L"100"},
      {TVariant::FromDouble(1.0 / 3).Get(), local(L"0.333333333333333")},  // 15 significant digits
      {TVariant::FromDouble(2.0 / 3).Get(), local(L"0.666666666666667")},
      {TVariant::FromDouble(123456789012345678.0).Get(), local(L"1.23456789012346E17")},
      {TVariant::FromDouble(999999999999999.0).Get(), L"999999999999999"},
      {TVariant::FromDouble(1e15).Get(), L"1E15"},
      {TVariant::FromDouble(1e20).Get(), L"1E20"},
      {TVariant::FromDouble(0.0001).Get(), local(L"0.0001")},
      {TVariant::FromDouble(0.00001).Get(), L"1E-5"},
      {TVariant::FromDouble(-1.5e-7).Get(), local(L"-1.5E-7")},
      {TVariant::FromDouble(0).Get(), L"0"},
      {r4, local(L"0.5")},
      {TVariant::FromCurrency(123456).Get(), local(L"12.3456")},
      {TVariant::FromCurrency(-50000).Get(), L"-5"},
      {TVariant::FromCurrency(2000000100).Get(), local(L"200000.01")},
      {TVariant::FromCurrency(1000000000000015).Get(), local(L"100000000000.001")},  // 15 significant digits
      {TVariant::FromCurrency(INT64_MIN).Get(), L"-922337203685478"},
      // The system's date-to-text conversion: date and time; date only at midnight.
      {TVariant::FromDate(moment).Get(), ru ? L"05.03.2024 14:30:15" : L"3/5/2024 2:30:15 PM"},
      {TVariant::FromDate(early).Get(), ru ? L"05.03.2024 " + nineOFive : L"3/5/2024 9:05:00 AM"},
      {TVariant::FromDate(static_cast<double>(static_cast<long>(moment))).Get(), ru ? L"05.03.2024" : L"3/5/2024"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "expected " << c.Expected.c_str());
    EXPECT_EQ(ValueToText(c.Value), c.Expected);
  }
}

// ---------------------------------------------------------------------------------------------
// The line writer

const std::wstring kGuid = L"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";

TEST(DebugLogWriter, LineFormatAndAppending) {
  TScratchFolder dir;
  TLogSeams seams;
  seams.Clock({Moment(2024, 3, 5, 9, 7, 3, 45), Moment(2024, 3, 5, 23, 0, 0, 0)});
  WriteDebugLogLine(dir.Path(), kGuid, L"> Pay", L"InData: [('Q1'; 'O1')]", false);
  WriteDebugLogLine(dir.Path(), kGuid, L"============Begin debug log=============", L"ignored", true);

  ASSERT_EQ(FilesIn(dir.Path()), std::vector<std::wstring>{L"Debug_2024.03.05.log"});
  const std::string expected =
      "2024.03.05 09:07:03.045 Inst.: {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\t> Pay: \tInData: [('Q1'; 'O1')]\r\n"
      "2024.03.05 23:00:00.000 Inst.: {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\t============Begin debug log=============\r\n";
  EXPECT_EQ(ReadBytes(dir.Path() + L"Debug_2024.03.05.log"), expected);

  // The folder may be given without its trailing delimiter.
  std::wstring bare = dir.Path();
  bare.pop_back();
  WriteDebugLogLine(bare, kGuid, L"c", L"t", false);
  EXPECT_EQ(DebugLogLines(dir.Path()).size(), 3u);
}

TEST(DebugLogWriter, LinesOnBothSidesOfMidnightLandInTwoFiles) {
  TScratchFolder dir;
  TLogSeams seams;
  seams.Clock({Moment(2024, 12, 31, 23, 59, 59, 999), Moment(2025, 1, 1, 0, 0, 0, 0)});
  WriteDebugLogLine(dir.Path(), kGuid, L"before", L"", false);
  WriteDebugLogLine(dir.Path(), kGuid, L"after", L"", false);
  ASSERT_EQ(FilesIn(dir.Path()), (std::vector<std::wstring>{L"Debug_2024.12.31.log", L"Debug_2025.01.01.log"}));
  EXPECT_EQ(ReadBytes(dir.Path() + L"Debug_2024.12.31.log"),
            "2024.12.31 23:59:59.999 Inst.: {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\tbefore: \t\r\n");
  EXPECT_EQ(ReadBytes(dir.Path() + L"Debug_2025.01.01.log"),
            "2025.01.01 00:00:00.000 Inst.: {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\tafter: \t\r\n");
}

// The file is written in the system's ANSI code page: 1251 under ru-RU.
TEST(DebugLogWriterLocale, TextIsWrittenInTheAnsiCodePage) {
  TScratchFolder dir;
  TLogSeams seams;
  seams.Clock({Moment(2024, 3, 5, 10, 0, 0, 0)});
  WriteDebugLogLine(dir.Path(), kGuid, L"< Pay", L"OutData: [(70; 'Устройство не включено')]", false);
  const std::string bytes = ReadBytes(dir.Path() + L"Debug_2024.03.05.log");
  const std::string tail = bytes.substr(bytes.find("[(70; '"));
  if (GetACP() == 1251) {
    EXPECT_EQ(tail, "[(70; '\xD3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2\xEE \xED\xE5 \xE2\xEA\xEB\xFE\xF7\xE5\xED\xEE')]\r\n");
  } else {
    EXPECT_TRUE(IsEnglish()) << "code page " << GetACP();
    EXPECT_EQ(GetACP(), 1252u);
    EXPECT_EQ(tail, "[(70; '" + std::string(10, '?') + " " + std::string(2, '?') + " " + std::string(8, '?') + "')]\r\n");  // the system's replacement
  }
}

TEST(DebugLogWriter, LineThatCannotBeWrittenIsDropped) {
  TScratchFolder dir;
  TLogSeams seams;
  seams.Clock({Moment(2024, 3, 5, 10, 0, 0, 0)});
  const std::wstring file = dir.Path() + L"Debug_2024.03.05.log";
  {
    // Another writer holds the day's file and shares nothing.
    THandle holder(CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(holder.Valid());
    WriteDebugLogLine(dir.Path(), kGuid, L"lost", L"", false);  // returns, throws nothing
    EXPECT_NE(AppendToLogFile(file, "x"), static_cast<DWORD>(ERROR_SUCCESS));
  }
  EXPECT_EQ(ReadBytes(file), "");
  WriteDebugLogLine(dir.Path(), kGuid, L"kept", L"", false);
  const std::vector<std::wstring> lines = DebugLogLines(dir.Path());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(L"\tkept: \t"), std::wstring::npos);

  // A reader that shares reading and writing does not stop the log.
  THandle reader(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr));
  ASSERT_TRUE(reader.Valid());
  WriteDebugLogLine(dir.Path(), kGuid, L"while read", L"", false);
  EXPECT_EQ(DebugLogLines(dir.Path()).size(), 2u);
}

// ---------------------------------------------------------------------------------------------
// Folders

TEST(DebugLogFolders, MissingDeviceFolderFallsBackToCommonApplicationData) {
  TScratchFolder dir;
  TLogSeams seams;
  // A day of its own, so the real default folder's file is ours alone.
  seams.Clock({Moment(2031, 7, 19, 12, 0, 0, 0)});
  const std::wstring missing = dir.Path() + L"Devices\\FPS1\\";
  const std::wstring instance = NewGuidText();
  WriteDebugLogLine(missing, instance, L"fallback", L"", false);

  const std::wstring expectedDir = IncludeTrailingPathDelimiter(SpecialFolderPath(0x23 /* CSIDL_COMMON_APPDATA */, false)) +
                                   ExtractFileBaseName(ThisModuleFileName()) + L"\\";
  EXPECT_EQ(DefaultDebugLogDir(), expectedDir);
  EXPECT_NE(expectedDir.find(L"host_tests"), std::wstring::npos);  // this program's base name
  const std::wstring file = expectedDir + L"Debug_2031.07.19.log";
  const std::wstring text = FromAnsi(ReadBytes(file));
  DeleteFileW(file.c_str());
  EXPECT_NE(text.find(instance + L"\tfallback: \t\r\n"), std::wstring::npos) << "in " << Utf16ToUtf8(file);
  EXPECT_FALSE(PathExists(dir.Path() + L"Devices"));  // the device folder is not made up
}

TEST(DebugLogFolders, UserApplicationDataWhenTheCommonOneIsMissingAndNothingWithoutEither) {
  TScratchFolder dir;
  TLogSeams seams;
  seams.Clock({Moment(2024, 3, 5, 10, 0, 0, 0)});
  const std::wstring user = dir.Path() + L"user";
  seams.SpecialFolders(L"", user);
  WriteDebugLogLine(L"", kGuid, L"to user", L"", false);
  const std::wstring expectedDir = user + L"\\" + ExtractFileBaseName(ThisModuleFileName()) + L"\\";
  EXPECT_EQ(DefaultDebugLogDir(), expectedDir);
  EXPECT_EQ(DebugLogLines(expectedDir).size(), 1u);

  // Neither folder: no default folder, the line is dropped and nothing is created.
  seams.SpecialFolders(L"", L"");
  EXPECT_EQ(DefaultDebugLogDir(), L"");
  WriteDebugLogLine(dir.Path() + L"nowhere\\", kGuid, L"dropped", L"", false);
  EXPECT_FALSE(PathExists(dir.Path() + L"nowhere"));
  EXPECT_EQ(DebugLogLines(expectedDir).size(), 1u);
}

// Everyone's allowed entries on a folder, read back with the security API.
struct TEveryoneAce {
  DWORD Mask;
  BYTE Flags;
};
std::vector<TEveryoneAce> EveryoneAces(const std::wstring& folder) {
  std::vector<TEveryoneAce> found;
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  TSid everyone;
  EXPECT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, everyone.OutPtr()));
  PACL dacl = nullptr;
  TLocalPtr<PSECURITY_DESCRIPTOR> sd;
  EXPECT_EQ(GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                  nullptr, sd.OutPtr()),
            static_cast<DWORD>(ERROR_SUCCESS));
  if (!dacl) return found;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && EqualSid(&allowed->SidStart, everyone.Get()))
      found.push_back({allowed->Mask, allowed->Header.AceFlags});
  }
  return found;
}

bool RunningOnWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Full control for Everyone, for the folder itself and inherited by files and sub-folders:
// one entry with GENERIC_ALL and both inheritance flags, or an entry for the folder with the
// file-specific rights plus an inherit-only GENERIC_ALL entry.
// Wine keeps no ACL on a folder of the Unix file system: it turns the new DACL into the
// folder's mode bits (o+rwx for Everyone) and reads the DACL back from them, so there full
// control shows as every file right that mode bits carry (0x1301FF: all of FILE_ALL_ACCESS
// but WRITE_DAC and WRITE_OWNER).
bool GrantsEveryoneFullControl(const std::vector<TEveryoneAce>& aces) {
  const DWORD fullRights = RunningOnWine() ? (FILE_ALL_ACCESS & ~(WRITE_DAC | WRITE_OWNER)) : FILE_ALL_ACCESS;
  bool self = false, inherited = false;
  for (const TEveryoneAce& a : aces) {
    const bool full = a.Mask == GENERIC_ALL || (a.Mask & fullRights) == fullRights;
    if (!full) continue;
    if (!(a.Flags & INHERIT_ONLY_ACE)) self = true;
    if ((a.Flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) == (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE))
      inherited = true;
  }
  return self && inherited;
}

TEST(DebugLogFolders, DefaultFolderGrantsEveryoneFullControl) {
  // Made fresh here (a reused prefix may hold one from an earlier run, granted back then).
  TScratchFolder appData;
  std::wstring folder;
  {
    TScopedHook folders(SetDebugLogSpecialFolders, [&](int) { return appData.Path(); });
    folder = DefaultDebugLogDir();
  }
  ASSERT_TRUE(folder.starts_with(appData.Path())) << Utf16ToUtf8(folder);
  ASSERT_TRUE(DirectoryExists(folder));
  const std::vector<TEveryoneAce> aces = EveryoneAces(folder);
  EXPECT_TRUE(GrantsEveryoneFullControl(aces)) << aces.size() << " entries for Everyone";
}

TEST(DebugLogFolders, GrantingTwiceAddsNoSecondEntry) {
  TScratchFolder dir;
  const std::wstring folder = dir.Path() + L"granted";
  ASSERT_TRUE(ForceDirectories(folder));
  EXPECT_FALSE(GrantsEveryoneFullControl(EveryoneAces(folder)));
  GrantEveryoneFullAccess(folder);
  const std::vector<TEveryoneAce> once = EveryoneAces(folder);
  EXPECT_TRUE(GrantsEveryoneFullControl(once));
  GrantEveryoneFullAccess(folder);
  EXPECT_EQ(EveryoneAces(folder).size(), once.size());
  EXPECT_THROW(GrantEveryoneFullAccess(dir.Path() + L"no such folder"), EOSError);
}

// Where today's file is, as the writer, Enable and the settings dialog ask it: the one answer
// is where the writer's line lands, and asking without creating makes no folder.
TEST(DebugLogFolders, TodaysFileIsWhereTheWriterWritesAndLookingMakesNothing) {
  TScratchFolder dir;
  TLogSeams seams;
  const SYSTEMTIME day = Moment(2032, 2, 29, 23, 59, 59, 999);
  seams.Clock({day});
  seams.SpecialFolders(dir.Path() + L"common", L"");
  const std::wstring device = dir.Path() + L"device";
  ASSERT_TRUE(ForceDirectories(device));
  const std::wstring defaultDir = dir.Path() + L"common\\" + ExtractFileBaseName(ThisModuleFileName()) + L"\\";
  const struct {
    std::wstring Preferred, Folder;
  } cases[] = {
      {device, device + L"\\"},  // an existing device folder, with or without its delimiter
      {device + L"\\", device + L"\\"},
      {dir.Path() + L"missing\\", defaultDir},  // no device folder: the default one
      {L"", defaultDir},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.Preferred));
    TScratchFolder::RemoveTree(defaultDir);
    const std::wstring file = DebugLogFile(c.Preferred, day, false);
    EXPECT_EQ(file, c.Folder + L"Debug_2032.02.29.log");
    EXPECT_EQ(DebugLogFolder(c.Preferred, day, false), c.Folder);
    if (c.Folder == defaultDir) {
      EXPECT_FALSE(PathExists(defaultDir)) << "named, not made";
    }
    WriteDebugLogLine(c.Preferred, kGuid, L"here", L"", false);
    EXPECT_NE(FromAnsi(ReadBytes(file)).find(L"\there: \t"), std::wstring::npos);
    EXPECT_FALSE(PathExists(dir.Path() + L"missing"));
  }
  // Asked with creation, the default folder is made and opened to Everyone; made again (and
  // granted again) when it went away the same day, though the rights are otherwise asked once.
  TScratchFolder::RemoveTree(defaultDir);
  EXPECT_EQ(DebugLogFile(L"", day, true), defaultDir + L"Debug_2032.02.29.log");
  ASSERT_TRUE(DirectoryExists(defaultDir));
  EXPECT_TRUE(GrantsEveryoneFullControl(EveryoneAces(defaultDir)));
  TScratchFolder::RemoveTree(defaultDir);
  WriteDebugLogLine(L"", kGuid, L"again", L"", false);
  ASSERT_TRUE(DirectoryExists(defaultDir));
  EXPECT_TRUE(GrantsEveryoneFullControl(EveryoneAces(defaultDir)));
  EXPECT_EQ(DebugLogLines(defaultDir).size(), 1u);
  // No application data at all: no file to name.
  seams.SpecialFolders(L"", L"");
  EXPECT_EQ(DebugLogFile(dir.Path() + L"missing\\", day, true), L"");
}

// ---------------------------------------------------------------------------------------------
// The trace of host calls, read back from the file

class TTraceObject : public TBaseObject {
public:
  void Initialize() override {
    TBaseObject::Initialize();
    RegisterPublicMethod(L"Pay", [](TVariant&, TVariant&, int32_t, std::wstring&) { return 70; });
    RegisterPublicMethod(L"Echo", [](TVariant& InData, TVariant& OutData, int32_t, std::wstring&) {
      OutData = InData;
      return 0;
    });
    RegisterPublicMethod(L"SwitchLog", [this](TVariant& InData, TVariant&, int32_t, std::wstring&) {
      SetDebugLogEnabled(VariantToBool(InData.Get()));
      return 0;
    });
    RegisterPrivateMethod(L"Sum", [](TVariantArray& Params) {
      const int32_t sum = VariantToInt(Params.GetItem(0).Get()) + VariantToInt(Params.GetItem(1).Get());
      Params.PutItem(1, TVariant::FromInt(sum).Get());
      return TVariant::FromInt(sum);
    });
    RegisterPrivateMethod(L"Broken", [](TVariantArray&) -> TVariant {
      throw EVariantTypeCastError(L"Could not convert variant of type (Null) into type (Boolean)");
    });
  }
  void SetLogDir(const std::wstring& dir) { FDebugLogDir = dir; }
};

class TraceTest : public ::testing::Test {
protected:
  void SetUp() override {
    Obj = new TTraceObject();
    Obj->Initialize();
    Obj->SetLogDir(Dir.Path());
  }
  void TearDown() override { Obj->Release(); }

  TInvokeResult Call(const std::wstring& name, const TVariant& inData, TVariant& outData) {
    TVariant timeOut = TVariant::FromInt(0);
    return InvokeByName(Obj, name, {ByVal(inData), VariantRefTo(outData), ByVal(timeOut)});
  }
  // The part of a line after the time stamp, instance and tab.
  std::wstring Body(const std::wstring& line) {
    const std::wstring head = L" Inst.: " + Obj->InstanceID() + L"\t";
    const size_t at = line.find(head);
    return at == std::wstring::npos ? L"<no head> " + line : line.substr(at + head.size());
  }

  TScratchFolder Dir;
  TTraceObject* Obj = nullptr;
};

TEST_F(TraceTest, PublicCallWritesExactlyTheEntryAndExitLines) {
  Obj->SetDebugLogEnabled(true);
  TVariant out = TVariant::FromString(L"stale");
  TInvokeResult r = Call(L"Pay", MakeVariantArray({TVariant::FromString(L"Q1"), TVariant::FromString(L"O1")}), out);
  ASSERT_EQ(r.Hr, S_OK);

  const std::vector<std::wstring> lines = DebugLogLines(Dir.Path());
  ASSERT_EQ(lines.size(), 2u);
  // Real clock: only the shape of the stamp is known. The instance is a registry-format GUID.
  const std::wregex head(LR"(^\d{4}\.\d{2}\.\d{2} \d{2}:\d{2}:\d{2}\.\d{3} Inst\.: \{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}\t)");
  for (const std::wstring& line : lines) EXPECT_TRUE(std::regex_search(line, head)) << Utf16ToUtf8(line);
  EXPECT_EQ(lines[0].substr(24, 8 + 38), L"Inst.: " + Obj->InstanceID() + L"\t");
  EXPECT_EQ(Body(lines[0]), L"> Pay: \tInData: [('Q1'; 'O1')]");
  EXPECT_EQ(Body(lines[1]), L"< Pay: \tResult=False; OutData: [(70; 'Устройство не включено')]");
}

TEST_F(TraceTest, ArgumentsRenderOnOneLine) {
  Obj->SetDebugLogEnabled(true);
  VARIANT dec = Raw(VT_DECIMAL);
  VarDecFromI4(5, &dec.decVal);
  dec.vt = VT_DECIMAL;
  VARIANT omitted = Raw(VT_ERROR);
  omitted.scode = DISP_E_PARAMNOTFOUND;
  TVariant out;
  TInvokeResult r =
      Call(L"Echo", MakeVariantArray({TVariant::FromString(L"line1\r\nline2"), TVariant(dec), TVariant(omitted)}), out);
  ASSERT_EQ(r.Hr, S_OK);
  const std::vector<std::wstring> lines = DebugLogLines(Dir.Path());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Body(lines[0]), L"> Echo: \tInData: [('line1\\nline2'; ; )]");
  EXPECT_EQ(Body(lines[1]), L"< Echo: \tResult=True; OutData: [('line1\\nline2'; ; )]");
}

TEST_F(TraceTest, PrivateCallsAndTheirExceptions) {
  Obj->SetDebugLogEnabled(true);
  TVariant a = TVariant::FromInt(2), b = TVariant::FromInt(3);
  TInvokeResult r = InvokeByName(Obj, L"Sum", {ByVal(a), VariantRefTo(b)});
  ASSERT_EQ(r.Hr, S_OK);
  TInvokeResult broken = InvokeByName(Obj, L"Broken", {});
  ASSERT_EQ(broken.Hr, DISP_E_EXCEPTION);

  const std::vector<std::wstring> lines = DebugLogLines(Dir.Path());
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(Body(lines[0]), L"> Sum: \tParams: [(2; 3)]");
  EXPECT_EQ(Body(lines[1]), L"< Sum: \tResult=5; Params: [(2; 5)]");
  EXPECT_EQ(Body(lines[2]), L"> Broken: \tParams: [()]");
  EXPECT_EQ(Body(lines[3]),
            L"EXCEPTION: \tEVariantTypeCastError, CallMethod(): Could not convert variant of type (Null) into type (Boolean)");
  EXPECT_EQ(Body(lines[4]),
            L"EXCEPTION: \tEVariantTypeCastError, Invoke(): Could not convert variant of type (Null) into type (Boolean)");
}

// A class renders its own argument texts through the trace hook; a hook that fails costs
// the text, never the call.
class TMaskingTraceObject : public TTraceObject {
protected:
  std::wstring TraceDataText(const std::wstring& MethodName, TTraceData Kind, const VARIANT& Data) override {
    if (MethodName == L"Pay") throw Exception(L"cannot render");
    if (MethodName != L"Echo") return TTraceObject::TraceDataText(MethodName, Kind, Data);
    return Kind == tdInData ? L"<in>" : Kind == tdOutData ? L"<out>" : L"<params>";
  }
};

TEST(TraceHook, ClassRendersItsOwnArgumentTexts) {
  TScratchFolder dir;
  TMaskingTraceObject* obj = new TMaskingTraceObject();
  obj->Initialize();
  obj->SetLogDir(dir.Path());
  obj->SetDebugLogEnabled(true);
  TVariant in = TVariant::FromString(L"secret"), out, timeOut = TVariant::FromInt(0);
  EXPECT_EQ(InvokeByName(obj, L"Echo", {ByVal(in), VariantRefTo(out), ByVal(timeOut)}).Hr, S_OK);
  TInvokeResult pay = InvokeByName(obj, L"Pay", {ByVal(in), VariantRefTo(out), ByVal(timeOut)});
  EXPECT_EQ(pay.Hr, S_OK);
  TVariant a = TVariant::FromInt(2), b = TVariant::FromInt(3);
  EXPECT_EQ(InvokeByName(obj, L"Sum", {ByVal(a), VariantRefTo(b)}).Hr, S_OK);
  const std::wstring instance = obj->InstanceID();
  obj->Release();

  std::vector<std::wstring> bodies;
  for (const std::wstring& line : DebugLogLines(dir.Path())) bodies.push_back(line.substr(line.find(L'\t') + 1));
  const std::vector<std::wstring> expected = {
      L"> Echo: \tInData: <in>", L"< Echo: \tResult=True; OutData: <out>",
      L"> Pay: \tInData: ",      L"< Pay: \tResult=False; OutData: ",
      L"> Sum: \tParams: [(2; 3)]", L"< Sum: \tResult=5; Params: [(2; 5)]",
  };
  EXPECT_EQ(bodies, expected);
}

TEST_F(TraceTest, TraceFollowsTheSwitchAsTheCallBegan) {
  TVariant out;
  // Off: nothing at all, neither the device folder's file nor a default folder.
  TLogSeams seams;
  seams.SpecialFolders(Dir.Path() + L"common", Dir.Path() + L"user");
  Obj->SetLogDir(Dir.Path() + L"device\\");
  ASSERT_EQ(Call(L"Pay", TVariant(), out).Hr, S_OK);
  EXPECT_EQ(FilesIn(Dir.Path()).size(), 0u);
  EXPECT_FALSE(PathExists(Dir.Path() + L"common"));
  EXPECT_FALSE(PathExists(Dir.Path() + L"user"));
  EXPECT_FALSE(PathExists(Dir.Path() + L"device"));

  // A call that switches logging on writes neither of its lines; one that switches it off
  // writes its entry line only.
  Obj->SetLogDir(Dir.Path());
  ASSERT_EQ(Call(L"SwitchLog", TVariant::FromBool(true), out).Hr, S_OK);
  EXPECT_TRUE(Obj->GetDebugLogEnabled());
  ASSERT_EQ(Call(L"SwitchLog", TVariant::FromBool(false), out).Hr, S_OK);
  const std::vector<std::wstring> lines = DebugLogLines(Dir.Path());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Body(lines[0]), L"> SwitchLog: \tInData: False");
}

TEST_F(TraceTest, LockedLogFileNeverFailsTheCall) {
  Obj->SetDebugLogEnabled(true);
  SYSTEMTIME today;
  GetLocalTime(&today);
  TLogSeams seams;
  seams.Clock({today});
  const std::wstring file = DebugLogFileName(Dir.Path(), today);
  TVariant out;
  {
    THandle holder(CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(holder.Valid());
    TInvokeResult r = Call(L"Echo", TVariant::FromInt(1), out);
    EXPECT_EQ(r.Hr, S_OK);
    EXPECT_EQ(r.Result.Get().boolVal, VARIANT_TRUE);
    EXPECT_EQ(VariantToInt(out.Get()), 1);
  }
  EXPECT_EQ(ReadBytes(file), "");
  ASSERT_EQ(Call(L"Echo", TVariant::FromInt(2), out).Hr, S_OK);
  const std::vector<std::wstring> lines = DebugLogLines(Dir.Path());
  ASSERT_EQ(lines.size(), 2u);  // no EXCEPTION line for the lost ones
  EXPECT_EQ(Body(lines[0]), L"> Echo: \tInData: 2");
}

}  // namespace
