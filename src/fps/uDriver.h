#pragma once
// TDriver: the fast payment driver, the class of the COM object the host creates. Its five
// payment operations go to the acquiring bank through bank::TDevice; its settings take
// effect at Enable.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bank/uDevice.h"
#include "uBaseFastPaymentSystem.h"
#include "uPaymentWait.h"
#include "uReceiptText.h"

// Shows the self-test's success message (text, caption). The product shows a modal message
// box without owner; tests put their own here so that no window blocks them. An empty
// function restores the message box.
using TDeviceTestNotifier = std::function<void(const std::wstring& Text, const std::wstring& Caption)>;
void SetDeviceTestNotifier(TDeviceTestNotifier Notifier);

// The pages of the driver's settings dialog. The dialogs provide the main page; until one is
// registered, the dialog opens with the pages it has of its own.
void RegisterDriverSettingsPages(std::vector<TSettingsPageClass> Pages);

class TDriver : public TBaseFastPaymentSystem {
public:
  TDriver();

  // ---- Payment operations
  int32_t RegisterQrCode(int64_t Amount, const std::wstring& PaymentDetails, std::wstring& QrCodeID,
                         std::wstring& QrCodeData, std::wstring& QRCodeImageUrl, std::wstring& OrderID,
                         std::wstring& ResultDescription) override;
  int32_t UnregisterQrCode(const std::wstring& QrCodeId, std::wstring& ResultDescription) override;
  int32_t Pay(const std::wstring& QrCodeId, const std::wstring& OrderID, int64_t& Amount, std::wstring& PaymentID,
              double& PaymentDate, std::wstring& ReceiptText, std::wstring& ResultDescription) override;
  int32_t Refund(int64_t Amount, const std::wstring& OrderID, const std::wstring& PaymentID,
                 const std::wstring& QrCodeId, std::wstring& RefundID, std::wstring& ReceiptText,
                 std::wstring& ResultDescription) override;
  int32_t GetQrCodeStatus(const std::wstring& QrCodeId, const std::wstring& OrderID, int64_t& Amount,
                          std::wstring& PaymentID, double& PaymentDate, std::wstring& ReceiptText, int32_t& Status,
                          std::wstring& ResultDescription) override;

  bool DeviceTest(std::wstring& ResultDescription) override;
  void OnSetDeviceInfo() override;
  // The exchange log's level, encoding and file: process-wide, set by every Enable.
  std::function<void()> KeepProcessState() override;

  // The bank interface obtained at the last successful Enable; raises "Устройство не включено"
  // before the first one.
  std::shared_ptr<bank::ITolvaro> GetApi() const;

  // The receipt laid out in the configured line length.
  std::wstring GetReceiptText(int32_t Operation, const std::wstring& Id, int64_t Amount, double Date) const;

  // A debug-log entry while the debug log is on, as the last Enable switched it.
  void LogDebugMessage(const std::wstring& Title, const std::wstring& Text);

  // What the last Enable copied (read-only views for the settings page and tests).
  int32_t WaitTimeout() const noexcept { return FWaitTimeout; }
  int32_t LineLength() const noexcept { return FLineLength; }
  int LastStatus() const noexcept { return FStatus; }  // TStatus, or -1 for an unknown text

  // The pause between two polls of a wait (tests shorten it).
  void SetPollPause(DWORD Milliseconds) noexcept { FPollPauseMs = Milliseconds; }

protected:
  ~TDriver() override;

  void DeclareSettings() override;
  int32_t OnEnable(std::wstring& ResultDescription) override;
  int32_t OnDisable(std::wstring& ResultDescription) override;
  void OnBeforeClose() override;
  // The bank's failures with their own texts; anything unknown as "Неизвестная ошибка", as the
  // payment wait says it.
  TExceptionText DescribeException() const noexcept override;
  bool OnShowSettings() override;
  void OnCreate() override;
  void OnDestroy() override;

  // Starts a wait thread for APaymentID and waits for it at most FWaitTimeout seconds; the
  // amount it read (ten-thousandths), or raises with the reason.
  int64_t GetPaymentInfoThread(const std::wstring& APaymentID);
  // One status request on the calling thread; the amount (ten-thousandths), status in FStatus.
  int64_t RequestPaymentState(const std::wstring& APaymentID);

private:
  void CheckEnabled() const;

  std::shared_ptr<bank::TDevice> FDevice;  // shared with the wait threads, whose calls use its hooks
  std::wstring FTerminalKey;
  std::wstring FPassword;
  // The bank client of this Enable: one HTTP session, kept until Disable, Close or the object's
  // end (a payment wait holds its own reference until it finishes). Made again on demand
  // while enabled.
  mutable std::shared_ptr<bank::ITolvaro> FApi;
  std::shared_ptr<TPaymentWait> FWait;  // the latest wait; each has its own events and state
  int32_t FWaitTimeout = 30;
  int FStatus = bank::UNKNOWN;
  int32_t FLineLength = 48;
  DWORD FPollPauseMs = 500;
};

// The host's status code for a bank status (or -1 for an unknown status text).
int32_t HostStatusCode(int BankStatus) noexcept;
