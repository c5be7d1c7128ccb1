#include "uDriver.h"

#include <oleauto.h>

#include <algorithm>
#include <limits>

#include "bank/uExchangeLog.h"
#include "bank/uHTTPClient.h"
#include "host/uClassIdentity.h"
#include "host/uDebugLog.h"
#include "platform/uFiles.h"
#include "platform/uStrings.h"
#include "ui/uDriverSettingIDs.h"
#include "uDriverStrings.h"

namespace {

TDeviceTestNotifier& DeviceTestNotifier() {
  static TDeviceTestNotifier notifier;
  return notifier;
}

std::vector<TSettingsPageClass>& DriverSettingsPages() {
  static std::vector<TSettingsPageClass> pages;
  return pages;
}

std::string U8(const std::wstring& Text) { return Utf16ToUtf8(Text); }

// A fresh GUID as the bank's order number: 36 characters, upper-case, no braces.
std::wstring NewOrderId() {
  const std::wstring braced = NewGuidText();
  return braced.substr(1, 36);
}

double LocalNow() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  double date = 0;
  if (!SystemTimeToVariantTime(&t, &date)) throw Exception(L"Invalid date");
  return date;
}

bank::Currency MinorUnits(int64_t Amount) { return bank::Currency::FromRaw(Amount) * 100; }

}  // namespace

void SetDeviceTestNotifier(TDeviceTestNotifier Notifier) { DeviceTestNotifier() = std::move(Notifier); }

void RegisterDriverSettingsPages(std::vector<TSettingsPageClass> Pages) { DriverSettingsPages() = std::move(Pages); }

int32_t HostStatusCode(int BankStatus) noexcept {
  switch (BankStatus) {
    case bank::FORM_SHOWED: return 1;
    case bank::REJECTED:
    case bank::CANCELED: return 3;
    case bank::REVERSED:
    case bank::PARTIAL_REFUNDED:
    case bank::REFUNDED:
    case bank::CONFIRMED: return 2;
    default: return 0;
  }
}

// ---------------------------------------------------------------------------------------------
// Identity, settings, lifecycle

TDriver::TDriver() = default;

TDriver::~TDriver() = default;

void TDriver::DeclareSettings() {
  TBaseFastPaymentSystem::DeclareSettings();
  AddSetting(kSettingHost, dtString, TVariant::FromString(kSDefaultHost), false, kSHostName, kSHostDescription);
  AddSetting(kSettingTerminalKey, dtString, TVariant::FromString(L""), false, kSTerminalKeyName, kSTerminalKeyName);
  AddSetting(kSettingPassword, dtString, TVariant::FromString(L""), false, kSPasswordName, kSPasswordName);
  AddSetting(kSettingWaitTimeout, dtNumber, TVariant::FromInt(30), false, kSWaitTimeoutName, kSWaitTimeoutName);
  AddSetting(kSettingLineLength, dtNumber, TVariant::FromInt(48), false, kSLineLengthName, kSLineLengthName);
  MarkSettingSecret(kSettingPassword);
  // An address typed with a user name and password in it ("user:pass@host") is refused by
  // every call, but the logs still show the setting: never its user information.
  SetSettingLogView(kSettingHost, [](const TVariant& Value) -> TVariant {
    const VARIANT& inner = *InnermostVariant(&Value.Get());
    if (inner.vt != VT_BSTR || !inner.bstrVal) return Value;
    try {
      return TVariant::FromString(Utf8ToUtf16(bank::MaskUrlCredentials(U8(inner.bstrVal))));
    } catch (...) {
      return TVariant::FromString(kSecretMask);  // a text that does not convert is not shown
    }
  });
}

void TDriver::OnSetDeviceInfo() {
  TBaseFastPaymentSystem::OnSetDeviceInfo();
  FDeviceInfo.ModelID = kDriverModelID;
  FDeviceInfo.ModelName = kSDriverModelName;
  FDeviceInfo.ProcessorName = kDriverProgID;
  FDeviceInfo.IsSettingsDlgExist = true;
  FDeviceInfo.Description = kSDriverDescription;
}

void TDriver::OnCreate() {
  TBaseFastPaymentSystem::OnCreate();
  FDevice = std::make_shared<bank::TDevice>();
}

void TDriver::OnDestroy() {
  // A wait still running is told to stop; it holds its own share of what it uses, so the
  // driver goes now instead of blocking the host for the length of a request.
  if (FWait) FWait->Cancel();
  FWait.reset();
  FApi.reset();
  FDevice.reset();
  TBaseFastPaymentSystem::OnDestroy();
}

int32_t TDriver::OnEnable(std::wstring& ResultDescription) {
  return Guarded(ResultDescription, [&]() -> int32_t {
    // The exchange log shares the debug log's day file, wherever the debug log writes it. The
    // default folder is made (and opened to every user) only when the log is on: its lines are
    // written from this Enable on. With the log off the file is only named: nothing goes to it.
    const bool logOn = GetSettingValueBool(kSettingDebugLogEnabled);
    bank::ExchangeLog::SetLogEncoding(bank::ExchangeLog::EncodingAnsi);
    bank::ExchangeLog::SetLogFileName(U8(DebugLogFile(DeviceFolder, DebugLogNow(), logOn)));

    FDevice->SetDeviceFolder(U8(DeviceFolder));
    FDevice->SetBaseURL(U8(GetSettingValueStr(kSettingHost)));

    FTerminalKey = GetSettingValueStr(kSettingTerminalKey);
    FLineLength = GetSettingValueInt(kSettingLineLength);
    FPassword = GetSettingValueStr(kSettingPassword);
    FWaitTimeout = GetSettingValueInt(kSettingWaitTimeout);
    if (FWaitTimeout < 5) FWaitTimeout = 30;

    bank::ExchangeLog::SetLogLevel(logOn ? bank::ExchangeLog::LevelAll : bank::ExchangeLog::LevelOff);
    FApi = FDevice->GetApi();
    return kOK;
  });
}

std::function<void()> TDriver::KeepProcessState() {
  const int level = bank::ExchangeLog::LogLevel();
  const int encoding = bank::ExchangeLog::LogEncoding();
  const std::string file = bank::ExchangeLog::LogFileName();
  return [level, encoding, file] {
    bank::ExchangeLog::SetLogEncoding(encoding);
    bank::ExchangeLog::SetLogFileName(file);
    // A stop banner this writes goes to the file the lines went to, not to the one named here.
    bank::ExchangeLog::SetLogLevel(level);
  };
}

int32_t TDriver::OnDisable(std::wstring& ResultDescription) {
  ResultDescription.clear();
  FApi.reset();  // the bank session ends (a running wait keeps its own until it finishes)
  return kOK;
}

void TDriver::OnBeforeClose() {
  TBaseFastPaymentSystem::OnBeforeClose();
  FApi.reset();
}

TExceptionText TDriver::DescribeException() const noexcept {
  TExceptionText e = TBaseFastPaymentSystem::DescribeException();
  try {
    e.Message = CurrentExceptionMessage();
  } catch (...) {
  }
  return e;
}

bool TDriver::OnShowSettings() { return ExecuteSettingsDialog(DriverSettingsPages(), false); }

std::shared_ptr<bank::ITolvaro> TDriver::GetApi() const {
  if (!FApi && GetEnabled() && FDevice) FApi = FDevice->GetApi();  // after Close, still enabled
  if (!FApi) throw Exception(kSNotEnabled);
  return FApi;
}

void TDriver::CheckEnabled() const {
  if (!GetEnabled()) throw Exception(kSNotEnabled);
}

// The log as the last Enable switched it: a setting changed since (even to a value that is no
// boolean) takes effect at the next Enable and never fails a payment.
void TDriver::LogDebugMessage(const std::wstring& Title, const std::wstring& Text) { WriteDebugLog(Title, Text); }

std::wstring TDriver::GetReceiptText(int32_t Operation, const std::wstring& Id, int64_t Amount, double Date) const {
  return BuildReceiptText(Operation, Id, Amount, Date, FLineLength);
}

// ---------------------------------------------------------------------------------------------
// QR code registration and withdrawal

int32_t TDriver::RegisterQrCode(int64_t Amount, const std::wstring&, std::wstring& QrCodeID, std::wstring& QrCodeData,
                                std::wstring& QRCodeImageUrl, std::wstring& OrderID, std::wstring& ResultDescription) {
  QrCodeID.clear();
  QrCodeData.clear();
  QRCodeImageUrl.clear();
  OrderID.clear();
  return Guarded(ResultDescription, [&]() -> int32_t {
    CheckEnabled();
    bank::TInitRequest init;
    init.Amount = MinorUnits(Amount);
    init.OrderId = U8(NewOrderId());
    init.TerminalKey = U8(FTerminalKey);
    const std::string paymentId = GetApi()->Init(init).PaymentId;

    bank::TQrRequest qr;
    qr.PaymentId = paymentId;
    qr.TerminalKey = U8(FTerminalKey);
    qr.Token = bank::MakeToken(qr, U8(FPassword));
    const std::wstring data = Utf8ToUtf16(GetApi()->GetQr(qr).Data);

    const std::wstring id = Utf8ToUtf16(paymentId);
    QrCodeID = id;
    QrCodeData = data;
    QRCodeImageUrl = data;
    OrderID = id;
    return kOK;
  });
}

int32_t TDriver::UnregisterQrCode(const std::wstring& QrCodeId, std::wstring& ResultDescription) {
  return Guarded(ResultDescription, [&]() -> int32_t {
    CheckEnabled();
    bank::TCancelQrRequest request;
    request.PaymentId = U8(QrCodeId);
    request.TerminalKey = U8(FTerminalKey);
    request.Token = bank::MakeToken(request, U8(FPassword));
    GetApi()->CancelQr(request);
    return kOK;
  });
}

// ---------------------------------------------------------------------------------------------
// Payment wait and status

int64_t TDriver::RequestPaymentState(const std::wstring& APaymentID) {
  TPaymentWait probe;
  probe.Api = GetApi();
  probe.TerminalKey = U8(FTerminalKey);
  probe.Password = U8(FPassword);
  probe.PaymentId = U8(APaymentID);
  PollPaymentStateOnce(probe);
  FStatus = probe.Status;
  return probe.Amount;
}

int64_t TDriver::GetPaymentInfoThread(const std::wstring& APaymentID) {
  // A wait the host gave up on stops at its next pass; it has state of its own and cannot
  // touch this one.
  if (FWait) FWait->Cancel();
  auto wait = std::make_shared<TPaymentWait>();
  wait->Device = FDevice;
  wait->Api = GetApi();
  wait->TerminalKey = U8(FTerminalKey);
  wait->Password = U8(FPassword);
  wait->PaymentId = U8(APaymentID);
  wait->PollPauseMs = FPollPauseMs;
  wait->Log = {GetDebugLogEnabled(), FDebugLogDir, FInstanceID};
  FWait = wait;
  StartPaymentWait(wait);

  const uint64_t limit = std::min<uint64_t>(static_cast<uint64_t>(FWaitTimeout) * 1000u, INFINITE - 1);
  const DWORD result = WaitForSingleObject(wait->Done.Get(), static_cast<DWORD>(limit));
  if (result != WAIT_OBJECT_0) {
    wait->Cancel();
    // The bank's answer came in time and only the pause after it ran past the deadline: a
    // payment the bank confirmed is not reported as timed out.
    if (!wait->Decided) {
      if (result != WAIT_TIMEOUT) throw Exception(kSUnknownError);
      LogDebugMessage(kSDriverLogTitle, kSWaitTimedOut);
      throw Exception(kSWaitTimedOut);
    }
  }
  // Done or Decided was seen: the thread wrote the state before.
  FStatus = wait->Status;
  if (wait->Status == bank::REJECTED) throw Exception(kSRejected);
  if (wait->Status == bank::CANCELED) throw Exception(kSCanceled);
  if (!wait->Message.empty()) throw Exception(wait->Message);
  // The money is not with the shop: it went back before this Pay.
  if (wait->Status == bank::REFUNDED || wait->Status == bank::PARTIAL_REFUNDED || wait->Status == bank::REVERSED)
    throw Exception(kSAlreadyRefunded);
  // Only a confirmed payment is ever reported as paid.
  if (wait->Status != bank::CONFIRMED) throw Exception(kSUnknownError);
  return wait->Amount;
}

int32_t TDriver::Pay(const std::wstring&, const std::wstring& OrderID, int64_t& Amount, std::wstring& PaymentID,
                     double& PaymentDate, std::wstring& ReceiptText, std::wstring& ResultDescription) {
  PaymentID.clear();
  ReceiptText.clear();
  return Guarded(ResultDescription, [&]() -> int32_t {
    CheckEnabled();
    const int64_t amount = GetPaymentInfoThread(OrderID);
    const double date = LocalNow();
    const std::wstring receipt = GetReceiptText(roPayment, OrderID, amount, date);
    Amount = amount;
    PaymentDate = date;
    PaymentID = OrderID;
    ReceiptText = receipt;
    return kOK;
  });
}

int32_t TDriver::GetQrCodeStatus(const std::wstring&, const std::wstring& OrderID, int64_t& Amount,
                                 std::wstring& PaymentID, double& PaymentDate, std::wstring& ReceiptText,
                                 int32_t& Status, std::wstring& ResultDescription) {
  PaymentID.clear();
  ReceiptText.clear();
  return Guarded(ResultDescription, [&]() -> int32_t {
    CheckEnabled();
    const int64_t amount = RequestPaymentState(OrderID);
    const double date = LocalNow();
    const std::wstring receipt = GetReceiptText(roPayment, OrderID, amount, date);
    Amount = amount;
    PaymentDate = date;
    PaymentID = OrderID;
    Status = HostStatusCode(FStatus);
    ReceiptText = receipt;
    return kOK;
  });
}

// ---------------------------------------------------------------------------------------------
// Refund

int32_t TDriver::Refund(int64_t Amount, const std::wstring&, const std::wstring& PaymentID,
                        const std::wstring& QrCodeId, std::wstring& RefundID, std::wstring& ReceiptText,
                        std::wstring& ResultDescription) {
  RefundID.clear();
  ReceiptText.clear();
  return Guarded(ResultDescription, [&]() -> int32_t {
    CheckEnabled();
    bank::TCancelRequest request;
    request.Amount = MinorUnits(Amount);
    request.PaymentId = U8(PaymentID);
    request.TerminalKey = U8(FTerminalKey);
    // The token starts with the amount as the body writes it.
    request.Token = bank::MakeToken(request, U8(FPassword));
    const bank::TCancelResponse response = GetApi()->Cancel(request);
    const int64_t refunded = ((response.OriginalAmount - response.NewAmount) / 100).Raw;
    const std::wstring receipt = GetReceiptText(roRefund, QrCodeId, refunded, LocalNow());
    // The bank names no refund of its own: the payment it was made on identifies it.
    RefundID = Utf8ToUtf16(response.PaymentId);
    ReceiptText = receipt;
    return kOK;
  });
}

// ---------------------------------------------------------------------------------------------
// Self-test

bool TDriver::DeviceTest(std::wstring& ResultDescription) {
  std::wstring qrCodeID, qrCodeData, imageUrl, orderID;
  // 1000.00, withdrawn again at once: no open payment is left at the bank by a test.
  if (RegisterQrCode(1000 * 10000, L"", qrCodeID, qrCodeData, imageUrl, orderID, ResultDescription) != kOK)
    return false;
  // The registration worked, and that is the test's result; a withdrawal that failed is said.
  std::wstring text = kSDeviceTestOK, withdrawal;
  if (UnregisterQrCode(qrCodeID, withdrawal) != kOK) text += L"\r\n" + withdrawal;
  if (const TDeviceTestNotifier& notifier = DeviceTestNotifier())
    notifier(text, kSDeviceTestCaption);
  else
    MessageBoxW(nullptr, text.c_str(), kSDeviceTestCaption, MB_OK | MB_ICONINFORMATION);
  return true;
}
