// Calls from the device into the host's equipment manager, as the manager receives them,
// and the focus stack around the device's own windows.
#include <gtest/gtest.h>

#include <utility>

#include "kit/TestDevice.h"
#include "device/uLateBinding.h"

namespace {

std::wstring MessageOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Exception& e) {
    return std::wstring(e.ClassName()) + L": " + e.Message();
  }
  return L"<no exception>";
}

TEST_F(DeviceFixture, CallbacksPassTheArgumentTypesOfTheHostInterface) {
  Bring(dsInited);
  Device->SetEventLogEnabled(true);
  Manager->ClearCalls();
  Manager->SetResult(L"MessageDlg", TVariant::FromInt(6));
  Manager->SetResult(L"InputDataDlg", TVariant::FromString(L"entered"));
  Manager->SetResult(L"ErrorEvent", TVariant::FromBool(false));

  TVariant ext = TVariant::FromInt(5);
  EXPECT_TRUE(Device->DataEvent(L"Scan", L"0123", ext));
  EXPECT_FALSE(Device->ErrorEvent(L"Fault", L"Бумага", ext));
  EXPECT_EQ(Device->ShowMessageDlg(L"Текст", 1, 2, 30), 6);
  EXPECT_EQ(Device->InputDataDlg(L"Caption", L"42", L"Описание", L"999", true, 15), L"entered");
  EXPECT_TRUE(Device->TaskState(50, L"D"));
  EXPECT_TRUE(Device->WriteLog(L"Name", L"Text", 4));

  const VARTYPE S = VT_BSTR, I = VT_BYREF | VT_I4, V = VT_BYREF | VT_VARIANT;
  struct Expected {
    std::wstring Method;
    std::vector<VARTYPE> Types;
    std::vector<std::wstring> Values;
  } expected[] = {
      {L"DataEvent", {S, S, S, V}, {L"A1", L"Scan", L"0123", L"5"}},
      {L"ErrorEvent", {S, S, S, V}, {L"A1", L"Fault", L"Бумага", L"5"}},
      {L"MessageDlg", {S, S, I, I, I}, {L"A1", L"Текст", L"1", L"2", L"30"}},
      {L"InputDataDlg", {S, S, S, S, S, VT_BOOL, I}, {L"A1", L"Caption", L"42", L"Описание", L"999", L"-1", L"15"}},
      {L"TaskState", {S, I, S}, {L"A1", L"50", L"D"}},
      {L"WriteLog", {S, S, S, I}, {L"A1", L"TaskState", L"Percent=50; Description=D; Result=True", L"1"}},
      {L"WriteLog", {S, S, S, I}, {L"A1", L"Name", L"Text", L"4"}},
  };
  const std::vector<TReceivedCall> calls = Manager->Calls();
  ASSERT_EQ(calls.size(), std::size(expected));
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].Method, expected[i].Method);
    EXPECT_EQ(calls[i].Types, expected[i].Types) << Utf16ToUtf8(expected[i].Method);
    ASSERT_EQ(calls[i].Values.size(), expected[i].Values.size());
    for (size_t a = 0; a < calls[i].Values.size(); ++a) {
      // A Boolean shows as its VARIANT_BOOL number here.
      const TVariant& v = calls[i].Values[a];
      const std::wstring text = v.Type() == VT_BOOL ? std::to_wstring(v.Get().boolVal) : Str(v);
      EXPECT_EQ(text, expected[i].Values[a]) << Utf16ToUtf8(expected[i].Method) << " argument " << a;
    }
  }
  // The password flag arrives as a Boolean by value: -1 for True, 0 for False.
  Manager->ClearCalls();
  Device->InputDataDlg(L"", L"", L"", L"", false, 0);
  EXPECT_EQ(Manager->Calls()[0].Values[5].Get().boolVal, VARIANT_FALSE);
}

TEST_F(DeviceFixture, WhatTheHostWritesIntoExtDataStaysWithTheHost) {
  Bring(dsInited);
  Manager->SetOutArgument(L"DataEvent", 3, TVariant::FromString(L"host's"));
  Manager->SetOutArgument(L"ErrorEvent", 3, TVariant::FromString(L"host's"));
  TVariant ext = TVariant::FromInt(5);
  Device->DataEvent(L"E", L"D", ext);
  Device->ErrorEvent(L"E", L"D", ext);
  EXPECT_EQ(ext.Type(), VT_I4);
  EXPECT_EQ(ext.Get().lVal, 5);
}

TEST_F(DeviceFixture, WriteLogReachesTheHostOnlyWhenTheEventLogIsOn) {
  Bring(dsEnabled);
  Device->SetDebugLogEnabled(true);
  Manager->ClearCalls();

  // Off: the debug log still gets the entry, the host nothing.
  EXPECT_FALSE(Device->WriteLog(L"Name", L"one", 2));
  EXPECT_TRUE(Manager->CallsOf(L"WriteLog").empty());

  // On: the host's own answer.
  Device->SetEventLogEnabled(true);
  Manager->SetResult(L"WriteLog", TVariant::FromBool(false));
  EXPECT_FALSE(Device->WriteLog(L"Name", L"two", 2));
  Manager->SetResult(L"WriteLog", TVariant::FromBool(true));
  EXPECT_TRUE(Device->WriteLog(L"Name", L"three", 2));
  EXPECT_EQ(Manager->CallsOf(L"WriteLog").size(), 2u);

  // On, but no manager: False, no exception, and the debug-log entry all the same.
  ASSERT_TRUE(IsTrue(InvokeByName(Disp(), L"Close", {})));
  EXPECT_FALSE(Device->WriteLog(L"Name", L"four", 2));

  std::vector<std::wstring> entries;
  for (const std::wstring& line : DebugLogLines(DeviceLogFolder()))
    if (line.find(L"\tName: \t") != std::wstring::npos) entries.push_back(line.substr(line.find(L"\tName: \t") + 8));
  EXPECT_EQ(entries, (std::vector<std::wstring>{L"one", L"two", L"three", L"four"}));
}

TEST_F(DeviceFixture, TaskStateLogsThePercentTheHostLeft) {
  Bring(dsInited);
  Device->SetEventLogEnabled(true);
  Manager->SetOutArgument(L"TaskState", 1, TVariant::FromInt(60));
  Manager->ClearCalls();
  EXPECT_TRUE(Device->TaskState(50, L"D"));
  const std::vector<TReceivedCall> log = Manager->CallsOf(L"WriteLog");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(Str(log[0].Values[1]), L"TaskState");
  EXPECT_EQ(Str(log[0].Values[2]), L"Percent=60; Description=D; Result=True");
  EXPECT_EQ(log[0].Values[3].Get().lVal, 1);
}

TEST_F(DeviceFixture, DataEventIsWrittenToTheDebugLogWithExtDataOnlyWhenThereIsSome) {
  Bring(dsEnabled);
  Device->SetDebugLogEnabled(true);
  Device->DataEvent(L"Scan", L"0123");
  Device->DataEvent(L"Scan", L"4567", TVariant::FromString(L"extra"));
  std::vector<std::wstring> entries;
  for (const std::wstring& line : DebugLogLines(DeviceLogFolder()))
    if (line.find(L"<-DataEvent") != std::wstring::npos) entries.push_back(line.substr(line.find(L"<-DataEvent")));
  EXPECT_EQ(entries, (std::vector<std::wstring>{L"<-DataEvent: \tEvent=Scan; Data: 0123",
                                                L"<-DataEvent: \tEvent=Scan; Data: 4567; ExtData: 'extra'"}));
}

TEST_F(DeviceFixture, CallbacksWithoutAManagerOrWithAFailingOneRaise) {
  const std::wstring none = L"Exception: Менеджер оборудования недоступен";
  EXPECT_EQ(MessageOf([&] { Device->DataEvent(L"E", L"D"); }), none);
  EXPECT_EQ(MessageOf([&] { Device->ErrorEvent(L"E", L"D", TVariant()); }), none);
  EXPECT_EQ(MessageOf([&] { Device->ShowMessageDlg(L"M", 0, 0, 0); }), none);
  EXPECT_EQ(MessageOf([&] { Device->InputDataDlg(L"", L"", L"", L"", false, 0); }), none);
  EXPECT_EQ(MessageOf([&] { Device->TaskState(1, L""); }), none);
  EXPECT_EQ(MessageOf([&] { Device->GetAppProperty(L"Language"); }), none);

  ASSERT_TRUE(IsTrue(Init()));
  Manager->SetRaise(L"DataEvent", L"Событие не принято");
  EXPECT_EQ(MessageOf([&] { Device->DataEvent(L"E", L"D"); }), L"EOleException: Событие не принято");
  Manager->SetResult(L"MessageDlg", TVariant::FromString(L"not a number"));
  EXPECT_EQ(MessageOf([&] { Device->ShowMessageDlg(L"M", 0, 0, 0); }).rfind(L"EVariantTypeCastError: ", 0), 0u);

  // Through a host method: the host sees the manager's own error as an automation exception.
  Manager->SetRaise(L"GetAppProperty", L"Свойство недоступно");
  TVariant description;
  TInvokeResult r = Open(TVariant::FromString(L"A1"), description);
  EXPECT_EQ(r.Hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.ExcepDescription(), L"Свойство недоступно");
  EXPECT_EQ(r.ExcepSource(), L"EOleException");
}

TEST_F(DeviceFixture, TheManagerOutlivesACallbackInWhichTheHostDetachesIt) {
  ASSERT_TRUE(IsTrue(Init()));
  // The host keeps no reference of its own and closes the device from inside the callback.
  Manager->SetAction(L"GetAppProperty", [this] { InvokeByName(Disp(), L"Close", {}); });
  std::exchange(Manager, nullptr)->Release();
  TVariant description;
  TInvokeResult r = Open(TVariant::FromString(L"A1"), description);
  EXPECT_EQ(r.Hr, S_OK);
  EXPECT_FALSE(TTestEquipmentManager::DestroyedDuringACall());
  EXPECT_TRUE(Device->EqManager().IsEmpty());
}

// ---------------------------------------------------------------------------------------------
// Focus stack

class TTopWindow {
public:
  TTopWindow() {
    FHandle = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  TTopWindow(const TTopWindow&) = delete;
  TTopWindow& operator=(const TTopWindow&) = delete;
  ~TTopWindow() {
    if (FHandle) DestroyWindow(FHandle);
  }
  HWND Get() const { return FHandle; }

private:
  HWND FHandle = nullptr;
};

TEST_F(DeviceFixture, FocusStackDisablesTheForegroundWindowUntilItIsRestored) {
  // Empty stack: nothing happens.
  Device->RestoreFocus();
  EXPECT_EQ(Device->FocusStackDepth(), 0u);
  // No foreground window: a null entry keeps the pairs matched and touches nothing.
  if (!GetForegroundWindow()) {
    Device->StoreFocus();
    EXPECT_EQ(Device->FocusStackDepth(), 1u);
    Device->RestoreFocus();
    EXPECT_EQ(Device->FocusStackDepth(), 0u);
  }

  TTopWindow host;
  if (!host.Get()) GTEST_SKIP() << "no window station for windows here";
  SetForegroundWindow(host.Get());
  if (GetForegroundWindow() != host.Get()) GTEST_SKIP() << "the window cannot take the foreground here";

  Device->StoreFocus();
  EXPECT_EQ(Device->FocusStackDepth(), 1u);
  EXPECT_FALSE(IsWindowEnabled(host.Get()));
  {
    TTopWindow dialog;  // the device's own window takes the foreground meanwhile
    SetForegroundWindow(dialog.Get());
  }
  Device->RestoreFocus();
  EXPECT_EQ(Device->FocusStackDepth(), 0u);
  EXPECT_TRUE(IsWindowEnabled(host.Get()));
  EXPECT_EQ(GetForegroundWindow(), host.Get());
}

}  // namespace
