#pragma once
// TBaseFastPaymentSystem: the device class of a fast payment system (payments by QR code).
// Its five host methods unpack InData, call the operation of the same name and pack the
// operation's outputs into OutData. The base operations are not supported; a driver
// overrides them.
#include <cstdint>
#include <string>

#include "device/uBaseDevice.h"

class TBaseFastPaymentSystem : public TBaseDevice {
public:
  // Amounts are currency values: ten-thousandths in a signed 64-bit integer (VT_CY).
  // Dates are OLE dates (VT_DATE). String outputs come in empty and stay empty on failure.
  virtual int32_t RegisterQrCode(int64_t Amount, const std::wstring& PaymentDetails, std::wstring& QrCodeID,
                                 std::wstring& QrCodeData, std::wstring& QRCodeImageUrl, std::wstring& OrderID,
                                 std::wstring& ResultDescription);
  virtual int32_t UnregisterQrCode(const std::wstring& QrCodeId, std::wstring& ResultDescription);
  virtual int32_t Pay(const std::wstring& QrCodeId, const std::wstring& OrderID, int64_t& Amount,
                      std::wstring& PaymentID, double& PaymentDate, std::wstring& ReceiptText,
                      std::wstring& ResultDescription);
  virtual int32_t Refund(int64_t Amount, const std::wstring& OrderID, const std::wstring& PaymentID,
                         const std::wstring& QrCodeId, std::wstring& RefundID, std::wstring& ReceiptText,
                         std::wstring& ResultDescription);
  virtual int32_t GetQrCodeStatus(const std::wstring& QrCodeId, const std::wstring& OrderID, int64_t& Amount,
                                  std::wstring& PaymentID, double& PaymentDate, std::wstring& ReceiptText,
                                  int32_t& Status, std::wstring& ResultDescription);

  void RegisterMethods() override;
  void OnSetDeviceInfo() override;

private:
  int32_t RegisterQrCodeMethod(const TVariant& InData, TVariant& OutData, std::wstring& ResultDescription);
  int32_t UnregisterQrCodeMethod(const TVariant& InData, TVariant& OutData, std::wstring& ResultDescription);
  int32_t PayMethod(const TVariant& InData, TVariant& OutData, std::wstring& ResultDescription);
  int32_t RefundMethod(const TVariant& InData, TVariant& OutData, std::wstring& ResultDescription);
  int32_t GetQrCodeStatusMethod(const TVariant& InData, TVariant& OutData, std::wstring& ResultDescription);
};
