// The device's lifecycle as the host drives it: Init, Open, Enable, Disable, CheckHealth,
// Close, ShowSettingsDlg and the release of the last reference.
#include <gtest/gtest.h>

#include <functional>

#include "kit/TestDevice.h"
#include "host/uResultCodes.h"
#include "res/version.h"
#include "kit/ScopedHook.h"

namespace {

TEST_F(DeviceFixture, NewObjectHasTheHostMethodsInOrderAndIsCreated) {
  const wchar_t* names[] = {L"Init",        L"Open",           L"Close",     L"ShowSettingsDlg", L"GetDeviceInfo",
                            L"Enable",      L"Disable",        L"GetSettings", L"SetSettings",  L"CheckHealth",
                            L"RegisterQrCode", L"UnregisterQrCode", L"Pay",   L"Refund",          L"GetQrCodeStatus"};
  for (DISPID i = 0; i < 15; ++i) EXPECT_EQ(DispIdOf(Disp(), names[i]), i) << Utf16ToUtf8(names[i]);
  EXPECT_EQ(DispIdOf(Disp(), L"pay"), 12);

  EXPECT_EQ(Device->DeviceState(), dsCreated);
  EXPECT_FALSE(Device->GetEnabled());
  EXPECT_TRUE(Device->EqManager().IsEmpty());
  EXPECT_EQ(*Journal, (std::vector<std::wstring>{L"OnCreate", L"OnSetDeviceInfo"}));

  TVariant out;
  ASSERT_TRUE(IsTrue(Call(L"GetDeviceInfo", TVariant(), out)));
  ASSERT_EQ(CountOf(out), 15);
  EXPECT_EQ(Str(ItemOf(out, 0)), L"FastPaymentSystem");
  EXPECT_EQ(Str(ItemOf(out, 1)), L"M1");
  // The module's version parts 1, 2 and 4; the processor type 1; the dialog flag as a Boolean.
  const VARTYPE types[] = {VT_BSTR, VT_BSTR, VT_BSTR, VT_I4,   VT_I4,   VT_I4,   VT_BSTR, VT_I4,
                           VT_BOOL, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR};
  for (LONG i = 0; i < 15; ++i) EXPECT_EQ(ItemOf(out, i).Type(), types[i]) << i;
  EXPECT_EQ(ItemOf(out, 3).Get().lVal, TOLVARO_VERSION_MAJOR);
  EXPECT_EQ(ItemOf(out, 4).Get().lVal, TOLVARO_VERSION_MINOR);
  EXPECT_EQ(ItemOf(out, 5).Get().lVal, TOLVARO_VERSION_BUILD);
  EXPECT_EQ(ItemOf(out, 7).Get().lVal, 1);
  EXPECT_EQ(ItemOf(out, 8).Get().boolVal, VARIANT_TRUE);
  EXPECT_EQ(Str(ItemOf(out, 10)), L"ООО \"Quorvel\"");
  EXPECT_EQ(Device->GetDeviceVersion(), L"1.0.17");
  EXPECT_EQ(Device->AddActionsCount(), 0);
  EXPECT_EQ(Device->AddActions(0), nullptr);
}

TEST_F(DeviceFixture, InitAttachesTheManagerAndAsksForFoldersAndLanguage) {
  TVariant description = TVariant::FromString(L"stale");
  TInvokeResult r = Init(ManagerVariant(), description);
  ASSERT_EQ(r.Hr, S_OK);
  EXPECT_TRUE(IsTrue(r));
  EXPECT_EQ(Str(description), L"Нет ошибок");
  EXPECT_EQ(Device->DeviceState(), dsInited);
  EXPECT_EQ(Device->FModelsFolder, L"C:\\Models\\");
  EXPECT_EQ(Device->ModelFolder(), L"C:\\Models\\M1\\");
  EXPECT_EQ(Device->Language, L"ru");
  const std::vector<TReceivedCall> calls = Manager->CallsOf(L"GetAppProperty");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(Str(calls[0].Values[1]), L"ModelsFolder");
  EXPECT_EQ(Str(calls[1].Values[1]), L"Language");
  const std::vector<VARTYPE> threeStringReferences(3, VT_BYREF | VT_BSTR);
  EXPECT_EQ(calls[0].Types, threeStringReferences);

  // A host without a models folder: a lone delimiter.
  Manager->RemoveAppProperty(L"ModelsFolder");
  ASSERT_TRUE(IsTrue(Init()));
  EXPECT_EQ(Device->FModelsFolder, L"\\");
}

TEST_F(DeviceFixture, InitWithoutAnAutomationObjectFailsAndDetachesTheEarlierManager) {
  ASSERT_TRUE(IsTrue(Init()));
  const ULONG attached = Manager->RefCount();
  struct Case {
    const char* What;
    TVariant Argument;
  };
  TVariant nullObject;
  nullObject.Get().vt = VT_DISPATCH;  // an object reference with no object behind it
  nullObject.Get().pdispVal = nullptr;
  Case cases[] = {{"string", TVariant::FromString(L"manager")}, {"null object", nullObject}, {"empty", TVariant()}};
  for (Case& c : cases) {
    ASSERT_TRUE(IsTrue(Init()));
    Journal->clear();
    TVariant description;
    TInvokeResult r = Init(c.Argument, description);
    EXPECT_EQ(r.Hr, S_OK) << c.What;
    EXPECT_TRUE(IsFalse(r)) << c.What;
    EXPECT_EQ(Str(description), L"Ошибка входных параметров команды") << c.What;
    EXPECT_TRUE(Device->EqManager().IsEmpty()) << c.What;
    EXPECT_EQ(Manager->RefCount(), attached - 1) << c.What;
    EXPECT_TRUE(Journal->empty()) << c.What;  // no hook ran
  }
}

TEST_F(DeviceFixture, FailingHooksGiveTheirOwnTextOrTheStandardOne) {
  struct Case {
    int32_t Code;
    std::wstring HookText;
    std::wstring Expected;
  } cases[] = {
      {1020, L"Нет связи с банком", L"Нет связи с банком"},
      {1020, L"", L"Неверные параметры устройства"},
      {4242, L"", L"Неизвестная ошибка"},
  };
  for (const Case& c : cases) {
    Device->InitCode = Device->OpenCode = Device->EnableCode = c.Code;
    Device->HookDescription = c.HookText;
    TVariant description;
    TInvokeResult init = Init(ManagerVariant(), description);
    EXPECT_TRUE(IsFalse(init));
    EXPECT_EQ(Str(description), c.Expected);
    EXPECT_EQ(Device->DeviceState(), dsCreated);  // failures leave the state alone
    EXPECT_FALSE(Device->EqManager().IsEmpty());   // the manager stays attached

    TInvokeResult open = Open(TVariant::FromString(L"A1"), description);
    EXPECT_TRUE(IsFalse(open));
    EXPECT_EQ(Str(description), c.Expected);

    TVariant out;
    TInvokeResult enable = Call(L"Enable", TVariant(), out);
    EXPECT_TRUE(IsFalse(enable));
    ASSERT_EQ(CountOf(out), 2);
    EXPECT_EQ(ItemOf(out, 0).Get().lVal, c.Code);
    EXPECT_EQ(Str(ItemOf(out, 1)), c.Expected);
    EXPECT_EQ(Device->DeviceState(), dsCreated);
  }
}

TEST_F(DeviceFixture, OpenBeforeInitIsAnAutomationExceptionThatKeepsTheDeviceId) {
  TVariant description;
  TInvokeResult r = Open(TVariant::FromString(L"A1"), description);
  EXPECT_EQ(r.Hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.ExcepDescription(), L"Менеджер оборудования недоступен");
  EXPECT_EQ(r.Excep.scode, 1001);
  EXPECT_EQ(Device->DeviceID(), L"A1");
  EXPECT_TRUE(description.IsEmpty());  // nothing written back
}

TEST_F(DeviceFixture, OpenWithANumberFailsAndClearsTheDeviceId) {
  ASSERT_TRUE(IsTrue(Init()));
  ASSERT_TRUE(IsTrue(Open(L"A1")));
  Journal->clear();
  TVariant description;
  TInvokeResult r = Open(TVariant::FromInt(7), description);
  EXPECT_EQ(r.Hr, S_OK);
  EXPECT_TRUE(IsFalse(r));
  EXPECT_EQ(Str(description), L"Ошибка входных параметров команды");
  EXPECT_EQ(Device->DeviceID(), L"");
  EXPECT_TRUE(Journal->empty());
  EXPECT_EQ(Device->DeviceState(), dsInited);  // Open never changes the state
}

TEST_F(DeviceFixture, DeviceFolderFollowsTheHostsDevicesFolder) {
  ASSERT_TRUE(IsTrue(Init()));
  struct Case {
    const wchar_t* DevicesFolder;  // null: the host has no such property
    std::wstring Id;
    std::wstring Expected;
  } cases[] = {
      {L"C:\\Dev", L"A1", L"C:\\Dev\\A1\\"},
      {L"C:\\Dev\\", L"A1", L"C:\\Dev\\A1\\"},
      {L"", L"A1", L""},
      {nullptr, L"A1", L""},
      {L"C:\\Dev", L"", L""},
  };
  for (const Case& c : cases) {
    if (c.DevicesFolder)
      Manager->SetAppProperty(L"DevicesFolder", c.DevicesFolder);
    else
      Manager->RemoveAppProperty(L"DevicesFolder");
    Manager->ClearCalls();
    TVariant description;
    ASSERT_TRUE(IsTrue(Open(TVariant::FromString(c.Id), description)));
    EXPECT_EQ(Device->DeviceFolder, c.Expected) << Utf16ToUtf8(c.Id);
    // The device ID travels with the question.
    const std::vector<TReceivedCall> calls = Manager->CallsOf(L"GetAppProperty");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(Str(calls[0].Values[0]), c.Id);
    EXPECT_EQ(Str(calls[0].Values[1]), L"DevicesFolder");
  }
}

TEST_F(DeviceFixture, CloseDetachesTheManagerButKeepsTheDeviceEnabled) {
  Bring(dsEnabled);
  const ULONG attached = Manager->RefCount();
  Journal->clear();
  TVariant ignored = TVariant::FromInt(5);
  TInvokeResult r = InvokeByName(Disp(), L"Close", {ByVal(ignored)});
  EXPECT_EQ(r.Hr, S_OK);
  EXPECT_TRUE(IsTrue(r));
  EXPECT_EQ(Device->DeviceState(), dsEnabled);
  EXPECT_EQ(Device->DeviceID(), L"");
  EXPECT_TRUE(Device->EqManager().IsEmpty());
  EXPECT_EQ(Manager->RefCount(), attached - 1);
  EXPECT_EQ(*Journal, (std::vector<std::wstring>{L"OnBeforeClose", L"OnAfterClose"}));
  try {
    Device->GetAppProperty(L"Language");
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), L"Менеджер оборудования недоступен");
  }
}

TEST_F(DeviceFixture, DisableMovesToInitedFromAnyStateWhenTheHookAgrees) {
  ASSERT_EQ(Device->DeviceState(), dsCreated);
  EXPECT_TRUE(IsTrue(Call(L"Disable")));
  EXPECT_EQ(Device->DeviceState(), dsInited);

  Bring(dsEnabled);
  Device->DisableCode = 1001;
  TVariant out;
  EXPECT_TRUE(IsFalse(Call(L"Disable", TVariant(), out)));
  EXPECT_EQ(Device->DeviceState(), dsEnabled);
  Device->DisableCode = 0;
  Device->SetEnabled(false);
  EXPECT_EQ(Device->DeviceState(), dsInited);
  Device->SetEnabled(true);
  EXPECT_EQ(Device->DeviceState(), dsEnabled);
}

TEST_F(DeviceFixture, CheckHealthEnablesForTheCheckOnlyAndReportsTheStandardText) {
  Bring(dsEnabled);
  Journal->clear();
  EXPECT_TRUE(IsTrue(Call(L"CheckHealth")));
  EXPECT_EQ(Device->DeviceState(), dsEnabled);
  EXPECT_TRUE(Journal->empty());

  ASSERT_TRUE(IsTrue(Call(L"Disable")));
  Journal->clear();
  EXPECT_TRUE(IsTrue(Call(L"CheckHealth")));
  EXPECT_EQ(Device->DeviceState(), dsInited);
  EXPECT_EQ(*Journal, (std::vector<std::wstring>{L"OnEnable", L"OnDisable"}));

  // A failing enable: its code with the code's own text, never the hook's message; and the
  // device is switched off again all the same.
  Device->EnableCode = 1001;
  Device->HookDescription = L"Нет связи с банком";
  Journal->clear();
  TVariant out;
  EXPECT_TRUE(IsFalse(Call(L"CheckHealth", TVariant(), out)));
  ASSERT_EQ(CountOf(out), 2);
  EXPECT_EQ(ItemOf(out, 0).Get().lVal, 1001);
  EXPECT_EQ(Str(ItemOf(out, 1)), L"Неизвестная ошибка");
  EXPECT_EQ(*Journal, (std::vector<std::wstring>{L"OnEnable", L"OnDisable"}));
  EXPECT_EQ(Device->DeviceState(), dsInited);

  // An enable that raises is undone too, and its message reaches the host.
  Device->EnableRaises = true;
  Journal->clear();
  EXPECT_TRUE(IsFalse(Call(L"CheckHealth", TVariant(), out)));
  EXPECT_EQ(ItemOf(out, 0).Get().lVal, 1001);
  EXPECT_EQ(Str(ItemOf(out, 1)), L"Нет связи с банком");
  EXPECT_EQ(*Journal, (std::vector<std::wstring>{L"OnEnable", L"OnDisable"}));
}

// A trial of edited settings (the dialog's device test) leaves the device as it found it,
// also when putting it back fails half-way or the trial ends by an exception.
TEST_F(DeviceFixture, ATrialLeavesTheDeviceAsItFoundItWhateverFails) {
  const auto trial = [&](const std::function<void()>& during, int32_t expectedCode) {
    std::wstring description;
    int32_t code = -1;
    {
      TDeviceTrial t(*Device);
      Device->SetSettingValue(L"Host", TVariant::FromString(L"https://tried.example/v2"));
      ASSERT_EQ(Device->Enable(), 0);
      during();
      code = t.Finish(description);
    }
    EXPECT_EQ(code, expectedCode) << Utf16ToUtf8(description);
    EXPECT_EQ(Device->GetSettingValueStr(L"Host"), L"https://bank.example/v2");
  };
  // Never enabled, and a disable that fails: not left running on the trial's settings.
  trial([&] { Device->DisableCode = 1001; }, 0);
  EXPECT_EQ(Device->DeviceState(), dsCreated);
  Device->DisableCode = 0;

  // Enabled: enabled again with the values of the host's Enable, not the trial's.
  Bring(dsEnabled);
  Device->SetSettingValue(L"LineLength", TVariant::FromInt(7));  // set since, never enabled
  trial([&] { EXPECT_EQ(Device->HostAtEnable, L"https://tried.example/v2"); }, 0);
  EXPECT_EQ(Device->DeviceState(), dsEnabled);
  EXPECT_EQ(Device->HostAtEnable, L"https://bank.example/v2");
  EXPECT_EQ(Device->GetSettingValueInt(L"LineLength"), 7);

  // Enabling again fails: the reason comes back and the device is off, not on the trial's
  // settings.
  trial([&] { Device->EnableRaises = true; }, 1001);
  EXPECT_EQ(Device->DeviceState(), dsInited);
  Device->EnableRaises = false;

  // A trial that ends by an exception is put back all the same.
  ASSERT_TRUE(IsTrue(Call(L"Enable")));
  Journal->clear();
  EXPECT_THROW(
      {
        TDeviceTrial t(*Device);
        Device->SetSettingValue(L"Host", TVariant::FromString(L"https://tried.example/v2"));
        throw Exception(L"сбой");
      },
      Exception);
  EXPECT_EQ(Device->DeviceState(), dsEnabled);
  EXPECT_EQ(*Journal, (std::vector<std::wstring>{L"OnDisable", L"OnEnable"}));
  EXPECT_EQ(Device->GetSettingValueStr(L"Host"), L"https://bank.example/v2");
}

TEST(DeviceLifetime, ReleasingAnEnabledDeviceDisablesItBeforeDestroying) {
  TJournal journal = std::make_shared<std::vector<std::wstring>>();
  TTestDevice* device = new TTestDevice(journal);
  device->Initialize();
  device->Enable();
  ASSERT_EQ(device->DeviceState(), dsEnabled);
  journal->clear();
  const long before = TComObject::ObjectCount();
  EXPECT_EQ(device->Release(), 0u);
  EXPECT_EQ(*journal, (std::vector<std::wstring>{L"OnDisable", L"OnDestroy"}));
  EXPECT_EQ(TComObject::ObjectCount(), before - 1);
}

TEST(DeviceLifetime, ReleasingTheDeviceReleasesTheManager) {
  TTestEquipmentManager* manager = TTestEquipmentManager::Create();
  TTestDevice* device = new TTestDevice();
  device->Initialize();
  TVariant v = manager->AsVariant(), description;
  ASSERT_EQ(InvokeByName(device, L"Init", {ByVal(v), VariantRefTo(description)}).Hr, S_OK);
  v.Clear();
  EXPECT_EQ(manager->RefCount(), 2u);
  device->Release();
  EXPECT_EQ(manager->RefCount(), 1u);
  manager->Release();
}

// The settings dialog is supplied from above; a fake one shows what reaches it.
class SettingsDialogTest : public DeviceFixture {
protected:
  void TearDown() override {
    RegisterSettingsDialog(nullptr);
    DeviceFixture::TearDown();
  }
};

TEST_F(SettingsDialogTest, ShowSettingsDlgRunsTheRegisteredDialog) {
  struct Seen {
    int Calls = 0;
    TBaseDevice* Device = nullptr;
    bool NoDeviceTest = true;
    size_t Depth = 0;
  } seen;
  bool answer = true;
  TScopedHook dialog(RegisterSettingsDialog, [&](TBaseDevice& device, const std::vector<TSettingsPageClass>&, bool noDeviceTest) {
    ++seen.Calls;
    seen.Device = &device;
    seen.NoDeviceTest = noDeviceTest;
    seen.Depth = device.FocusStackDepth();
    return answer;
  });
  TVariant out;
  EXPECT_TRUE(IsTrue(Call(L"ShowSettingsDlg", TVariant(), out)));
  EXPECT_TRUE(out.IsEmpty());
  EXPECT_EQ(seen.Calls, 1);
  EXPECT_EQ(seen.Device, Device);
  EXPECT_FALSE(seen.NoDeviceTest);
  EXPECT_EQ(seen.Depth, 1u);                  // the focus was stored around the dialog ...
  EXPECT_EQ(Device->FocusStackDepth(), 0u);  // ... and restored after it
  EXPECT_EQ(Journal->back(), L"OnSettingsApplied");

  // Cancelled: 201, and the settings are still "applied" (the dialog may have changed them).
  answer = false;
  Journal->clear();
  EXPECT_TRUE(IsFalse(Call(L"ShowSettingsDlg", TVariant(), out)));
  EXPECT_EQ(ItemOf(out, 0).Get().lVal, 201);
  EXPECT_EQ(Str(ItemOf(out, 1)), L"Операция отменена пользователем");
  EXPECT_EQ(*Journal, (std::vector<std::wstring>{L"OnShowSettings", L"OnSettingsApplied"}));

  // A device without a settings dialog does not try.
  Device->SetSettingsDialogExists(false);
  EXPECT_TRUE(IsFalse(Call(L"ShowSettingsDlg", TVariant(), out)));
  EXPECT_EQ(ItemOf(out, 0).Get().lVal, 1003);
  EXPECT_EQ(seen.Calls, 2);
}

TEST_F(SettingsDialogTest, DialogThatFailsStillRestoresTheFocusStack) {
  TScopedHook dialog(RegisterSettingsDialog, [](TBaseDevice&, const std::vector<TSettingsPageClass>&, bool) -> bool {
    throw Exception(L"окно не создано");
  });
  TVariant out;
  EXPECT_TRUE(IsFalse(Call(L"ShowSettingsDlg", TVariant(), out)));
  EXPECT_EQ(ItemOf(out, 0).Get().lVal, 1001);
  EXPECT_EQ(Str(ItemOf(out, 1)), L"окно не создано");
  EXPECT_EQ(Device->FocusStackDepth(), 0u);
}

TEST_F(SettingsDialogTest, WithoutARegisteredDialogTheCommandIsNotSupported) {
  Journal->clear();
  TVariant out;
  EXPECT_TRUE(IsFalse(Call(L"ShowSettingsDlg", TVariant(), out)));
  EXPECT_EQ(ItemOf(out, 0).Get().lVal, 1001);
  EXPECT_EQ(Str(ItemOf(out, 1)), L"Команда не поддерживается устройством");
  EXPECT_EQ(*Journal, (std::vector<std::wstring>{L"OnShowSettings"}));
  EXPECT_EQ(Device->FocusStackDepth(), 0u);
}

}  // namespace
