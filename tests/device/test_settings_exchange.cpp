// The settings table the host reads and writes, the snapshot the settings dialog undoes
// edits with, and the debug log: its header, and a secret that never reaches it.
#include <gtest/gtest.h>

#include <algorithm>

#include "kit/TestDevice.h"
#include "platform/uSafeArray.h"

namespace {

// A settings table [0..rows-1, 0..columns-1] filled column by column.
TVariant Table(LONG rows, const std::vector<std::vector<TVariant>>& columns) {
  TVariant table = NewVariantArray({{static_cast<ULONG>(rows), 0}, {static_cast<ULONG>(columns.size()), 0}});
  for (LONG c = 0; c < static_cast<LONG>(columns.size()); ++c)
    for (LONG r = 0; r < static_cast<LONG>(columns[c].size()); ++r) {
      const LONG at[2] = {r, c};
      PutVariantArrayItem(table, at, columns[c][r].Get());
    }
  return table;
}

TVariant S(const wchar_t* text) { return TVariant::FromString(text); }

// A [0..1, 0..0, 0..0] array holding an ID and a value where a table would have them.
TVariant ThreeDimensional(const TVariant& id, const TVariant& value) {
  TVariant cube = NewVariantArray({{2, 0}, {1, 0}, {1, 0}});
  LONG at[3] = {0, 0, 0};
  PutVariantArrayItem(cube, at, id.Get());
  at[0] = 1;
  PutVariantArrayItem(cube, at, value.Get());
  return cube;
}

TEST_F(DeviceFixture, GetSettingsListsTheCommonSettingsAheadOfTheDevicesOwn) {
  TVariant out;
  ASSERT_TRUE(IsTrue(Call(L"GetSettings", TVariant(), out)));
  ASSERT_EQ(CountOf(out), 1);
  const TVariant table = ItemOf(out, 0);
  LONG lo = 0, hi = -1;
  ASSERT_TRUE(VariantArrayBounds(table.Get(), 1, lo, hi));
  EXPECT_EQ(lo, 0);
  EXPECT_EQ(hi, 6);
  ASSERT_TRUE(VariantArrayBounds(table.Get(), 2, lo, hi));
  EXPECT_EQ(hi - lo + 1, 6);

  const wchar_t* ids[] = {L"DefaultTimeOut", L"EventLogEnabled", L"DebugLogEnabled", L"Host", L"Password", L"LineLength"};
  for (LONG c = 0; c < 6; ++c) EXPECT_EQ(Str(Cell(table, 0, c)), ids[c]);
  // Column 0 in full, with the variant types the host reads.
  EXPECT_EQ(Cell(table, 1, 0).Type(), VT_I4);
  EXPECT_EQ(Cell(table, 1, 0).Get().lVal, 120);
  EXPECT_EQ(Str(Cell(table, 2, 0)), L"Number");
  EXPECT_EQ(Cell(table, 3, 0).Get().lVal, 120);
  EXPECT_EQ(Cell(table, 4, 0).Type(), VT_BOOL);
  EXPECT_EQ(Cell(table, 4, 0).Get().boolVal, VARIANT_FALSE);
  EXPECT_EQ(Str(Cell(table, 5, 0)), L"Таймаут по умолчанию");
  EXPECT_EQ(Str(Cell(table, 6, 0)),
            L"Таймаут по умолчанию. Используется в случае, если при вызове метода параметр Timeout равен 0");
  for (LONG c = 1; c <= 2; ++c) {
    EXPECT_EQ(Cell(table, 1, c).Type(), VT_BOOL);
    EXPECT_EQ(Cell(table, 1, c).Get().boolVal, VARIANT_FALSE);
    EXPECT_EQ(Str(Cell(table, 2, c)), L"Boolean");
  }
  EXPECT_EQ(Str(Cell(table, 5, 1)), L"Журнал событий");
  EXPECT_EQ(Str(Cell(table, 6, 1)), L"Если равно True, ведется журнал критических событий и ошибок");
  EXPECT_EQ(Str(Cell(table, 5, 2)), L"Отладочный лог");
  EXPECT_EQ(Str(Cell(table, 6, 2)), L"Если равно True, ведется отладочный лог");
  EXPECT_EQ(Str(Cell(table, 2, 3)), L"String");
}

TEST_F(DeviceFixture, SetSettingsTakesValuesByIdAsSent) {
  // The very table GetSettings produced comes back with changed values; IDs in any case;
  // unknown IDs are skipped; values are not converted to the setting's type.
  TVariant table = Table(2, {{S(L"debuglogenabled"), TVariant::FromBool(true)},
                             {S(L"NoSuchSetting"), S(L"x")},
                             {S(L"LINELENGTH"), S(L"48")}});
  TVariant out;
  TInvokeResult r = Call(L"SetSettings", MakeVariantArray({table}), out);
  EXPECT_EQ(r.Hr, S_OK);
  EXPECT_TRUE(IsTrue(r));
  EXPECT_TRUE(out.IsEmpty());
  EXPECT_TRUE(Device->GetSettingValueBool(L"DebugLogEnabled"));
  EXPECT_EQ(Device->GetSettingValue(L"LineLength", false).Type(), VT_BSTR);
  EXPECT_EQ(Device->GetSettingValueInt(L"LineLength"), 48);
  EXPECT_EQ(Device->GetSettingValueInt(L"DefaultTimeOut"), 120);
  EXPECT_EQ(Device->SettingsCount(), 6);  // nothing added
  EXPECT_EQ(Journal->back(), L"OnSettingsApplied");

  // A host variable reached by reference is stored as its value, not as the reference.
  TVariant hostVariable = S(L"https://other.example/v2");
  TVariant byRef;
  byRef.Get().vt = VT_BYREF | VT_VARIANT;
  byRef.Get().pvarVal = &hostVariable.Get();
  ASSERT_TRUE(IsTrue(Call(L"SetSettings", MakeVariantArray({Table(2, {{S(L"Host"), byRef}})}), out)));
  hostVariable = S(L"changed afterwards");
  EXPECT_EQ(Device->GetSettingValue(L"Host", false).Type(), VT_BSTR);
  EXPECT_EQ(Device->GetSettingValueStr(L"Host"), L"https://other.example/v2");
}

TEST_F(DeviceFixture, SetSettingsWithoutATableFails) {
  struct Case {
    const char* What;
    TVariant InData;
    int32_t Code;
    std::wstring Text;
  } cases[] = {
      {"a string", S(L"DebugLogEnabled"), 1004, L"Ошибка входных параметров команды"},
      {"nothing", TVariant(), 1004, L"Ошибка входных параметров команды"},
      {"a one-dimensional element 0", MakeVariantArray({MakeVariantArray({S(L"DebugLogEnabled"), TVariant::FromBool(true)})}),
       1001, L"Wrong index!"},
      {"an empty array", MakeVariantArray({}), 1001, L"Wrong index!"},
      {"a three-dimensional element 0",
       MakeVariantArray({ThreeDimensional(S(L"DebugLogEnabled"), TVariant::FromBool(true))}), 1001, L"Wrong index!"},
  };
  for (Case& c : cases) {
    Journal->clear();
    TVariant out = S(L"stale");
    TInvokeResult r = Call(L"SetSettings", c.InData, out);
    EXPECT_EQ(r.Hr, S_OK) << c.What;
    EXPECT_TRUE(IsFalse(r)) << c.What;
    ASSERT_EQ(CountOf(out), 2) << c.What;
    EXPECT_EQ(ItemOf(out, 0).Get().lVal, c.Code) << c.What;
    EXPECT_EQ(Str(ItemOf(out, 1)), c.Text) << c.What;
    EXPECT_FALSE(Device->GetSettingValueBool(L"DebugLogEnabled")) << c.What;
    EXPECT_TRUE(Journal->empty()) << c.What;  // not applied
  }

  // A column whose ID cannot be read stops the exchange: the columns before it are taken,
  // the ones after it are not, and nothing is applied.
  Journal->clear();
  TVariant out;
  TVariant table = Table(2, {{S(L"LineLength"), TVariant::FromInt(40)},
                             {TVariant::Null(), S(L"x")},
                             {S(L"DefaultTimeOut"), TVariant::FromInt(5)}});
  TInvokeResult r = Call(L"SetSettings", MakeVariantArray({table}), out);
  EXPECT_TRUE(IsFalse(r));
  EXPECT_EQ(ItemOf(out, 0).Get().lVal, 1001);
  EXPECT_EQ(Str(ItemOf(out, 1)), L"Could not convert variant of type (Null) into type (String)");
  EXPECT_EQ(Device->GetSettingValueInt(L"LineLength"), 40);
  EXPECT_EQ(Device->GetSettingValueInt(L"DefaultTimeOut"), 120);
  EXPECT_TRUE(Journal->empty());
}

TEST_F(DeviceFixture, SnapshotBringsTheOldValuesBack) {
  Device->StoreSettings();
  Device->SetSettingValue(L"Host", S(L"edited"));
  Device->SetSettingValue(L"LineLength", TVariant::FromInt(1));
  Device->RestoreSettings();
  EXPECT_EQ(Device->GetSettingValueStr(L"Host"), L"https://bank.example/v2");
  EXPECT_EQ(Device->GetSettingValueInt(L"LineLength"), 32);
  EXPECT_TRUE(Device->BufSettings().empty());
  Device->SetSettingValue(L"Host", S(L"kept"));
  Device->RestoreSettings();  // nothing stored any more
  EXPECT_EQ(Device->GetSettingValueStr(L"Host"), L"kept");

  // Named settings only; an ID that names none is stored as Unassigned and skipped.
  Device->StoreSettings({L"linelength", L"Missing"});
  ASSERT_EQ(Device->BufSettings().size(), 2u);
  EXPECT_TRUE(Device->BufSettings()[1].Value.IsEmpty());
  Device->SetSettingValue(L"LineLength", TVariant::FromInt(99));
  Device->SetSettingValue(L"Host", S(L"not in the snapshot"));
  Device->RestoreSettings();
  EXPECT_EQ(Device->GetSettingValueInt(L"LineLength"), 32);
  EXPECT_EQ(Device->GetSettingValueStr(L"Host"), L"not in the snapshot");
  EXPECT_EQ(Device->SettingsCount(), 6);

  EXPECT_EQ(Device->Settings(-1), nullptr);
  EXPECT_EQ(Device->Settings(6), nullptr);
  ASSERT_NE(Device->Settings(4), nullptr);
  EXPECT_EQ(Device->Settings(4)->ID, L"Password");
  EXPECT_EQ(Device->FindSetting(L"PASSWORD"), Device->Settings(4));
  EXPECT_EQ(Device->FindSetting(L"Пароль"), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Debug log

class DebugLogTest : public DeviceFixture {
protected:
  std::vector<std::wstring> Lines() { return DebugLogLines(DeviceLogFolder()); }
  // The part of a line after the stamp, the instance and the tab.
  std::vector<std::wstring> Bodies() {
    std::vector<std::wstring> bodies;
    const std::wstring head = L" Inst.: " + Device->InstanceID() + L"\t";
    for (const std::wstring& line : Lines()) {
      const size_t at = line.find(head);
      bodies.push_back(at == std::wstring::npos ? L"<other> " + line : line.substr(at + head.size()));
    }
    return bodies;
  }
  void SwitchLog(bool on) {
    TVariant out;
    ASSERT_TRUE(IsTrue(Call(L"SetSettings",
                            MakeVariantArray({Table(2, {{S(L"DebugLogEnabled"), TVariant::FromBool(on)}})}), out)));
  }
};

TEST_F(DebugLogTest, TheSettingTakesEffectAtTheNextEnableAndTheHeaderComesOncePerSwitchOn) {
  Bring(dsInited);
  Device->SetSettingValue(L"Password", S(L"S3cr3t!"));
  SwitchLog(true);
  EXPECT_FALSE(Device->GetDebugLogEnabled());
  EXPECT_TRUE(Lines().empty());

  ASSERT_TRUE(IsTrue(Call(L"Enable")));  // switches on: the header, but no trace of this call
  EXPECT_EQ(Device->FDebugLogDir, DeviceLogFolder());
  const std::vector<std::wstring> header = {
      std::wstring(40, L' '),
      L"============Begin debug log=============",
      L"driver ver.: \t1.0.17",
      L"device ID: \tA1",
      L"----------------Settings----------------",
      L"DefaultTimeOut: \t120",
      L"EventLogEnabled: \tFalse",
      L"DebugLogEnabled: \tTrue",
      L"Host: \t'https://bank.example/v2'",
      L"Password: \t'***'",
      L"LineLength: \t32",
      std::wstring(40, L'-'),
  };
  EXPECT_EQ(Bodies(), header);

  // Enabling again while on: traced, no second header.
  ASSERT_TRUE(IsTrue(Call(L"Enable")));
  std::vector<std::wstring> expected = header;
  expected.push_back(L"> Enable: \tInData: EMPTY");
  expected.push_back(L"< Enable: \tResult=True; OutData: EMPTY");
  EXPECT_EQ(Bodies(), expected);

  // Off at the next Enable (whose entry line is still written), then on again: a new header.
  SwitchLog(false);
  ASSERT_TRUE(IsTrue(Call(L"Enable")));
  EXPECT_FALSE(Device->GetDebugLogEnabled());
  const size_t before = Lines().size();
  SwitchLog(true);
  ASSERT_TRUE(IsTrue(Call(L"Enable")));
  const std::vector<std::wstring> bodies = Bodies();
  ASSERT_EQ(bodies.size(), before + header.size());
  EXPECT_EQ(std::vector<std::wstring>(bodies.end() - static_cast<long>(header.size()), bodies.end()), header);
}

TEST_F(DebugLogTest, TheSecretIsInNoLogLine) {
  Bring(dsInited);
  const std::wstring secret = L"S3cr3t!";
  TVariant out;
  // Sent while logging is off, then again with logging on in a table of another shape.
  ASSERT_TRUE(IsTrue(Call(L"SetSettings",
                          MakeVariantArray({Table(2, {{S(L"password"), S(secret.c_str())},
                                                      {S(L"DebugLogEnabled"), TVariant::FromBool(true)}})}),
                          out)));
  ASSERT_TRUE(IsTrue(Call(L"Enable")));
  ASSERT_TRUE(IsTrue(Call(L"GetSettings", TVariant(), out)));
  ASSERT_TRUE(IsTrue(Call(L"SetSettings", out, out)));  // GetSettings' own table sent back
  ASSERT_TRUE(IsTrue(Call(L"SetSettings",
                          MakeVariantArray({Table(2, {{S(L"LineLength"), TVariant::FromInt(40)},
                                                      {S(L"PASSWORD"), S(secret.c_str())}})}),
                          out)));
  // Shapes that are no table at all: not read as settings, but not shown either.
  Call(L"SetSettings", MakeVariantArray({MakeVariantArray({S(L"Password"), S(secret.c_str())})}), out);
  Call(L"SetSettings", MakeVariantArray({S(secret.c_str())}), out);
  Call(L"SetSettings", S(secret.c_str()), out);
  Call(L"SetSettings", MakeVariantArray({Table(2, {{TVariant::Null(), S(secret.c_str())}})}), out);
  // Tables the device reads, but whose secret sits under an ID that names no setting: a
  // mistyped ID, and a table sent the other way round (settings in the first dimension).
  ASSERT_TRUE(IsTrue(Call(L"SetSettings", MakeVariantArray({Table(2, {{S(L"Pasword"), S(secret.c_str())}})}), out)));
  ASSERT_TRUE(IsTrue(Call(L"SetSettings",
                          MakeVariantArray({Table(2, {{S(L"LineLength"), S(L"Password")},
                                                      {TVariant::FromInt(40), S(secret.c_str())}})}),
                          out)));
  ASSERT_TRUE(IsTrue(Call(L"Disable")));
  ASSERT_TRUE(IsTrue(Call(L"Enable")));
  EXPECT_EQ(Device->GetSettingValueStr(L"Password"), secret);

  const std::vector<std::wstring> bodies = Bodies();
  ASSERT_GT(bodies.size(), 20u);
  for (const std::wstring& body : bodies) EXPECT_EQ(body.find(secret), std::wstring::npos) << Utf16ToUtf8(body);
  // The tables themselves are still shown, the secret's cells masked.
  auto has = [&](const std::wstring& part) {
    return std::any_of(bodies.begin(), bodies.end(), [&](const std::wstring& b) { return b.find(part) != std::wstring::npos; });
  };
  EXPECT_TRUE(has(L"< GetSettings: \tResult=True; OutData: [([(('DefaultTimeOut'; 120; 'Number'; 120; False; "));
  EXPECT_TRUE(has(L"('Password'; '***'; 'String'; '***'; False; 'Пароль'; '')"));
  EXPECT_TRUE(has(L"> SetSettings: \tInData: [([(('LineLength'; 40)('PASSWORD'; '***'))])]"));
  EXPECT_TRUE(has(L"> SetSettings: \tInData: [('***')]"));
  EXPECT_TRUE(has(L"> SetSettings: \tInData: '***'"));
  EXPECT_TRUE(has(L"> SetSettings: \tInData: [([(('Pasword'; '***'))])]"));
  EXPECT_TRUE(has(L"Password: \t'***'"));
}

}  // namespace
