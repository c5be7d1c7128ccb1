#include "uBaseFastPaymentSystem.h"

#include "platform/uSafeArray.h"

namespace {
// A required element of InData: InData must be a one-dimensional array that has it.
TVariant Required(const TVariant& InData, LONG Index) {
  SAFEARRAY* sa = VariantSafeArray(InData.Get());
  if (!sa || SafeArrayGetDim(sa) != 1) throw Exception(L"Wrong index!");
  return SafeArrayItem(sa, &Index);
}

int64_t RequiredAmount(const TVariant& InData, LONG Index) { return VariantToCurrency(Required(InData, Index).Get()); }

std::wstring RequiredText(const TVariant& InData, LONG Index) { return VariantToString(Required(InData, Index).Get()); }

// Absent, Empty or Null: the empty text.
std::wstring OptionalText(const TVariant& InData, LONG Index) {
  return TBaseObject::ArrayItemStr(InData.Get(), Index, L"");
}

TVariant Text(const std::wstring& Value) { return TVariant::FromString(Value); }
}  // namespace

void TBaseFastPaymentSystem::RegisterMethods() {
  TBaseDevice::RegisterMethods();
  // The operations that answer with an array refuse a typed OutData reference before the bank
  // is asked (UnregisterQrCode answers with nothing when it succeeds).
  RegisterSpecificMethod(L"RegisterQrCode", [this](TVariant& InData, TVariant& OutData, int32_t, std::wstring& Description) {
    return RegisterQrCodeMethod(InData, OutData, Description);
  }).ArrayOutData = true;
  RegisterSpecificMethod(L"UnregisterQrCode", [this](TVariant& InData, TVariant& OutData, int32_t, std::wstring& Description) {
    return UnregisterQrCodeMethod(InData, OutData, Description);
  });
  RegisterSpecificMethod(L"Pay", [this](TVariant& InData, TVariant& OutData, int32_t, std::wstring& Description) {
    return PayMethod(InData, OutData, Description);
  }).ArrayOutData = true;
  RegisterSpecificMethod(L"Refund", [this](TVariant& InData, TVariant& OutData, int32_t, std::wstring& Description) {
    return RefundMethod(InData, OutData, Description);
  }).ArrayOutData = true;
  RegisterSpecificMethod(L"GetQrCodeStatus", [this](TVariant& InData, TVariant& OutData, int32_t, std::wstring& Description) {
    return GetQrCodeStatusMethod(InData, OutData, Description);
  }).ArrayOutData = true;
}

void TBaseFastPaymentSystem::OnSetDeviceInfo() {
  TBaseDevice::OnSetDeviceInfo();
  FDeviceInfo.TypeName = L"FastPaymentSystem";
}

// ---------------------------------------------------------------------------------------------
// The operations a driver implements

int32_t TBaseFastPaymentSystem::RegisterQrCode(int64_t, const std::wstring&, std::wstring& QrCodeID,
                                               std::wstring& QrCodeData, std::wstring& QRCodeImageUrl,
                                               std::wstring& OrderID, std::wstring& ResultDescription) {
  QrCodeID.clear();
  QrCodeData.clear();
  QRCodeImageUrl.clear();
  OrderID.clear();
  ResultDescription.clear();
  return kNotSupported;
}

int32_t TBaseFastPaymentSystem::UnregisterQrCode(const std::wstring&, std::wstring& ResultDescription) {
  ResultDescription.clear();
  return kNotSupported;
}

int32_t TBaseFastPaymentSystem::Pay(const std::wstring&, const std::wstring&, int64_t&, std::wstring& PaymentID, double&,
                                    std::wstring& ReceiptText, std::wstring& ResultDescription) {
  PaymentID.clear();
  ReceiptText.clear();
  ResultDescription.clear();
  return kNotSupported;
}

int32_t TBaseFastPaymentSystem::Refund(int64_t, const std::wstring&, const std::wstring&, const std::wstring&,
                                       std::wstring& RefundID, std::wstring& ReceiptText,
                                       std::wstring& ResultDescription) {
  RefundID.clear();
  ReceiptText.clear();
  ResultDescription.clear();
  return kNotSupported;
}

int32_t TBaseFastPaymentSystem::GetQrCodeStatus(const std::wstring&, const std::wstring&, int64_t&,
                                                std::wstring& PaymentID, double&, std::wstring& ReceiptText, int32_t&,
                                                std::wstring& ResultDescription) {
  PaymentID.clear();
  ReceiptText.clear();
  ResultDescription.clear();
  return kNotSupported;
}

// ---------------------------------------------------------------------------------------------
// Host method handlers. Each: not enabled -> 70 before InData is looked at; InData that cannot
// be read -> 1004 and no operation; the operation's failure leaves OutData alone.

int32_t TBaseFastPaymentSystem::RegisterQrCodeMethod(const TVariant& InData, TVariant& OutData,
                                                     std::wstring& ResultDescription) {
  ResultDescription.clear();
  if (!GetEnabled()) return kNotEnabled;
  int64_t amount = 0;
  std::wstring details;
  try {
    amount = RequiredAmount(InData, 0);
    details = RequiredText(InData, 1);
  } catch (const Exception&) {
    return kBadParameters;
  }
  std::wstring qrCodeID, qrCodeData, imageUrl, orderID;
  const int32_t code = RegisterQrCode(amount, details, qrCodeID, qrCodeData, imageUrl, orderID, ResultDescription);
  if (code != kOK) return code;
  OutData = MakeVariantArray({Text(qrCodeID), Text(qrCodeData), Text(imageUrl), Text(orderID)});
  return kOK;
}

int32_t TBaseFastPaymentSystem::UnregisterQrCodeMethod(const TVariant& InData, TVariant& OutData,
                                                       std::wstring& ResultDescription) {
  ResultDescription.clear();
  if (!GetEnabled()) return kNotEnabled;
  std::wstring qrCodeId;
  try {
    qrCodeId = RequiredText(InData, 0);
  } catch (const Exception&) {
    return kBadParameters;
  }
  const int32_t code = UnregisterQrCode(qrCodeId, ResultDescription);
  if (code != kOK) return code;
  OutData.Clear();
  return kOK;
}

int32_t TBaseFastPaymentSystem::PayMethod(const TVariant& InData, TVariant& OutData, std::wstring& ResultDescription) {
  ResultDescription.clear();
  if (!GetEnabled()) return kNotEnabled;
  std::wstring qrCodeId, orderID;
  try {
    qrCodeId = RequiredText(InData, 0);
    orderID = OptionalText(InData, 1);
  } catch (const Exception&) {
    return kBadParameters;
  }
  int64_t amount = 0;
  std::wstring paymentID, receiptText;
  double paymentDate = 0.0;
  const int32_t code = Pay(qrCodeId, orderID, amount, paymentID, paymentDate, receiptText, ResultDescription);
  if (code != kOK) return code;
  OutData = MakeVariantArray(
      {TVariant::FromCurrency(amount), Text(paymentID), TVariant::FromDate(paymentDate), Text(receiptText)});
  return kOK;
}

int32_t TBaseFastPaymentSystem::RefundMethod(const TVariant& InData, TVariant& OutData,
                                             std::wstring& ResultDescription) {
  ResultDescription.clear();
  if (!GetEnabled()) return kNotEnabled;
  int64_t amount = 0;
  std::wstring orderID, paymentID, qrCodeId;
  try {
    amount = RequiredAmount(InData, 0);
    orderID = RequiredText(InData, 1);
    paymentID = RequiredText(InData, 2);
    qrCodeId = OptionalText(InData, 3);
  } catch (const Exception&) {
    return kBadParameters;
  }
  std::wstring refundID, receiptText;
  const int32_t code = Refund(amount, orderID, paymentID, qrCodeId, refundID, receiptText, ResultDescription);
  if (code != kOK) return code;
  OutData = MakeVariantArray({Text(refundID), Text(receiptText)});
  return kOK;
}

int32_t TBaseFastPaymentSystem::GetQrCodeStatusMethod(const TVariant& InData, TVariant& OutData,
                                                      std::wstring& ResultDescription) {
  ResultDescription.clear();
  if (!GetEnabled()) return kNotEnabled;
  std::wstring qrCodeId, orderID;
  try {
    qrCodeId = RequiredText(InData, 0);
    orderID = OptionalText(InData, 1);
  } catch (const Exception&) {
    return kBadParameters;
  }
  int64_t amount = 0;
  std::wstring paymentID, receiptText;
  double paymentDate = 0.0;
  int32_t status = 0;
  const int32_t code =
      GetQrCodeStatus(qrCodeId, orderID, amount, paymentID, paymentDate, receiptText, status, ResultDescription);
  if (code != kOK) return code;
  OutData = MakeVariantArray({TVariant::FromCurrency(amount), Text(paymentID), TVariant::FromDate(paymentDate),
                              Text(receiptText), TVariant::FromInt(status)});
  return kOK;
}
