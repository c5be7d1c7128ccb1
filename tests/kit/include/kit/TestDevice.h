#pragma once
// A device built on the payment method layer, with hooks the tests script and a journal of
// the hooks that ran (kept in a shared list, so it can be read after the object is gone);
// and a fixture that drives it through IDispatch::Invoke as a host does, with the test
// equipment manager.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kit/DispatchTestKit.h"
#include "kit/LogTestKit.h"
#include "kit/TestEquipmentManager.h"
#include "fps/uBaseFastPaymentSystem.h"

using TJournal = std::shared_ptr<std::vector<std::wstring>>;

class TTestDevice : public TBaseFastPaymentSystem {
public:
  explicit TTestDevice(TJournal journal = std::make_shared<std::vector<std::wstring>>()) : Journal(std::move(journal)) {}

  TJournal Journal;
  int32_t InitCode = 0, OpenCode = 0, EnableCode = 0, DisableCode = 0;
  std::wstring HookDescription;  // what a failing hook says
  bool HasSettingsDialog = true;
  bool ImplementsPayments = false;
  bool EnableRaises = false;
  int32_t PaymentCode = 0;
  std::vector<std::wstring> LastInputs;  // what the last payment operation received
  int64_t LastAmount = -1;
  std::wstring HostAtEnable;  // the Host setting as the last OnEnable read it

  void DeclareSettings() override {
    TBaseFastPaymentSystem::DeclareSettings();
    AddSetting(L"Host", dtString, TVariant::FromString(L"https://bank.example/v2"), false, L"Адрес", L"");
    AddSetting(L"Password", dtString, TVariant::FromString(L""), false, L"Пароль", L"");
    AddSetting(L"LineLength", dtNumber, TVariant::FromInt(32), false, L"Ширина", L"");
    MarkSettingSecret(L"Password");
  }
  void OnSetDeviceInfo() override {
    TBaseFastPaymentSystem::OnSetDeviceInfo();
    Log(L"OnSetDeviceInfo");
    FDeviceInfo.ModelID = L"M1";
    FDeviceInfo.IsSettingsDlgExist = HasSettingsDialog;
  }
  void SetSettingsDialogExists(bool value) { FDeviceInfo.IsSettingsDlgExist = value; }

  void OnCreate() override { Log(L"OnCreate"); }
  void OnDestroy() override { Log(L"OnDestroy"); }
  int32_t OnInit(std::wstring& d) override { return Hook(L"OnInit", InitCode, d); }
  int32_t OnOpen(std::wstring& d) override { return Hook(L"OnOpen", OpenCode, d); }
  int32_t OnEnable(std::wstring& d) override {
    HostAtEnable = GetSettingValueStr(L"Host");
    if (EnableRaises) {
      Log(L"OnEnable");
      throw Exception(L"Нет связи с банком");
    }
    return Hook(L"OnEnable", EnableCode, d);
  }
  int32_t OnDisable(std::wstring& d) override { return Hook(L"OnDisable", DisableCode, d); }
  void OnBeforeClose() override { Log(L"OnBeforeClose"); }
  void OnAfterClose() override { Log(L"OnAfterClose"); }
  void OnSettingsApplied() override { Log(L"OnSettingsApplied"); }
  bool OnShowSettings() override {
    Log(L"OnShowSettings");
    return ExecuteSettingsDialog({}, false);
  }

  int32_t RegisterQrCode(int64_t Amount, const std::wstring& Details, std::wstring& QrCodeID, std::wstring& QrCodeData,
                         std::wstring& ImageUrl, std::wstring& OrderID, std::wstring& Description) override {
    if (!ImplementsPayments)
      return TBaseFastPaymentSystem::RegisterQrCode(Amount, Details, QrCodeID, QrCodeData, ImageUrl, OrderID, Description);
    Received(Amount, {Details, QrCodeID, QrCodeData, ImageUrl, OrderID});
    QrCodeID = L"QR-1", QrCodeData = L"https://qr.example/QR-1", ImageUrl = L"https://qr.example/img", OrderID = L"QR-1";
    return Payment(Description);
  }
  int32_t UnregisterQrCode(const std::wstring& QrCodeId, std::wstring& Description) override {
    if (!ImplementsPayments) return TBaseFastPaymentSystem::UnregisterQrCode(QrCodeId, Description);
    Received(-1, {QrCodeId});
    return Payment(Description);
  }
  int32_t Pay(const std::wstring& QrCodeId, const std::wstring& OrderID, int64_t& Amount, std::wstring& PaymentID,
              double& PaymentDate, std::wstring& ReceiptText, std::wstring& Description) override {
    if (!ImplementsPayments)
      return TBaseFastPaymentSystem::Pay(QrCodeId, OrderID, Amount, PaymentID, PaymentDate, ReceiptText, Description);
    Received(Amount, {QrCodeId, OrderID, PaymentID, ReceiptText});
    Amount = 1234500, PaymentID = L"P-7", PaymentDate = 45000.5, ReceiptText = L"Чек";
    return Payment(Description);
  }
  int32_t Refund(int64_t Amount, const std::wstring& OrderID, const std::wstring& PaymentID, const std::wstring& QrCodeId,
                 std::wstring& RefundID, std::wstring& ReceiptText, std::wstring& Description) override {
    if (!ImplementsPayments)
      return TBaseFastPaymentSystem::Refund(Amount, OrderID, PaymentID, QrCodeId, RefundID, ReceiptText, Description);
    Received(Amount, {OrderID, PaymentID, QrCodeId, RefundID, ReceiptText});
    RefundID = L"R-1", ReceiptText = L"Возврат";
    return Payment(Description);
  }
  int32_t GetQrCodeStatus(const std::wstring& QrCodeId, const std::wstring& OrderID, int64_t& Amount,
                          std::wstring& PaymentID, double& PaymentDate, std::wstring& ReceiptText, int32_t& Status,
                          std::wstring& Description) override {
    if (!ImplementsPayments)
      return TBaseFastPaymentSystem::GetQrCodeStatus(QrCodeId, OrderID, Amount, PaymentID, PaymentDate, ReceiptText,
                                                     Status, Description);
    Received(Amount, {QrCodeId, OrderID, PaymentID, ReceiptText, std::to_wstring(Status)});
    Amount = 500, PaymentID = L"P-8", PaymentDate = 45001.25, ReceiptText = L"", Status = 7;
    return Payment(Description);
  }

  using TBaseDevice::FDebugLogDir;
  using TBaseDevice::FModelsFolder;

private:
  void Log(const std::wstring& event) { Journal->push_back(event); }
  int32_t Hook(const std::wstring& name, int32_t code, std::wstring& description) {
    Log(name);
    if (code != 0) description = HookDescription;
    return code;
  }
  void Received(int64_t amount, std::vector<std::wstring> inputs) {
    LastAmount = amount;
    LastInputs = std::move(inputs);
  }
  int32_t Payment(std::wstring& description) {
    if (PaymentCode != 0) description = L"Отказ банка";
    return PaymentCode;
  }
};

// One device and one equipment manager, both held as a host holds them.
class DeviceFixture : public ::testing::Test {
protected:
  void SetUp() override {
    Device = new TTestDevice(Journal);
    Device->Initialize();
    Manager = TTestEquipmentManager::Create();
    Manager->SetAppProperty(L"ModelsFolder", L"C:\\Models");
    Manager->SetAppProperty(L"Language", L"ru");
    Manager->SetAppProperty(L"DevicesFolder", Dir.Path() + L"devices");
  }
  void TearDown() override {
    if (Device) Device->Release();
    if (Manager) Manager->Release();
  }
  IDispatch* Disp() { return Device; }

  // Init(EquipmentManager, Description) with Description by reference.
  TInvokeResult Init(const TVariant& manager, TVariant& description) {
    return InvokeByName(Disp(), L"Init", {ByVal(manager), VariantRefTo(description)});
  }
  TInvokeResult Init() {
    TVariant description;
    return Init(ManagerVariant(), description);
  }
  TInvokeResult Open(const TVariant& id, TVariant& description) {
    return InvokeByName(Disp(), L"Open", {ByVal(id), VariantRefTo(description)});
  }
  TInvokeResult Open(const std::wstring& id = L"A1") {
    TVariant description;
    return Open(TVariant::FromString(id), description);
  }
  // A public method: (InData, OutData by reference, TimeOut 0).
  TInvokeResult Call(const std::wstring& name, const TVariant& inData, TVariant& outData) {
    TVariant timeOut = TVariant::FromInt(0);
    return InvokeByName(Disp(), name, {ByVal(inData), VariantRefTo(outData), ByVal(timeOut)});
  }
  TInvokeResult Call(const std::wstring& name) {
    TVariant out;
    return Call(name, TVariant(), out);
  }
  // Init, Open (with the devices folder created) and Enable.
  void Bring(TDeviceState state) {
    ASSERT_EQ(Init().Hr, S_OK);
    CreateDirectoryW((Dir.Path() + L"devices").c_str(), nullptr);
    CreateDirectoryW((Dir.Path() + L"devices\\A1").c_str(), nullptr);
    ASSERT_EQ(Open().Hr, S_OK);
    if (state == dsEnabled) {
      ASSERT_EQ(Call(L"Enable").Result.Get().boolVal, VARIANT_TRUE);
    }
    ASSERT_EQ(Device->DeviceState(), state);
  }
  TVariant ManagerVariant() { return Manager->AsVariant(); }
  std::wstring DeviceLogFolder() { return Dir.Path() + L"devices\\A1\\"; }

  TScratchFolder Dir;
  TJournal Journal = std::make_shared<std::vector<std::wstring>>();
  TTestDevice* Device = nullptr;
  TTestEquipmentManager* Manager = nullptr;
};

inline std::wstring Str(const TVariant& v) { return VariantToString(v.Get()); }
inline bool IsTrue(const TInvokeResult& r) { return r.Result.Type() == VT_BOOL && r.Result.Get().boolVal == VARIANT_TRUE; }
inline bool IsFalse(const TInvokeResult& r) {
  return r.Result.Type() == VT_BOOL && r.Result.Get().boolVal == VARIANT_FALSE;
}
// A cell [row, column] of a two-dimensional array.
inline TVariant Cell(const TVariant& table, LONG row, LONG column) {
  LONG indices[2] = {row, column};
  return SafeArrayItem(VariantSafeArray(table.Get()), indices);
}
