#pragma once
// The bank's API as this driver speaks it: request and response records (which are the
// JSON bodies, fields in wire order), payment states, request tokens and ITolvaro.
#include <memory>
#include <string>
#include <string_view>

#include "http.bridge.h"
#include "uTypeInfo.h"

namespace bank {

// Amounts are in minor units on the wire (100.50 travels as 10050).
struct TInitRequest {
  Currency Amount;
  std::string OrderId;
  std::string TerminalKey;
};

struct TQrRequest {
  std::string PaymentId;
  std::string TerminalKey;
  std::string Token;
};

struct TStateRequest {
  std::string PaymentId;
  std::string TerminalKey;
  std::string Token;
};

struct TCancelRequest {
  Currency Amount;
  std::string PaymentId;
  std::string TerminalKey;
  std::string Token;
};

struct TCancelQrRequest {
  std::string PaymentId;
  std::string TerminalKey;
  std::string Token;
};

struct TInitResponse {
  bool Success = false;
  int32_t ErrorCode = 0;
  std::string TerminalKey;
  std::string Status;
  std::string PaymentId;
  std::string OrderId;
  Currency Amount;
  std::string PaymentURL;
  std::string Message;
  std::string Details;
};

struct TQrResponse {
  bool Success = false;
  int32_t ErrorCode = 0;
  std::string TerminalKey;
  std::string Data;
  std::string OrderId;
  std::string PaymentId;
  std::string Message;
  std::string Details;
};

struct TStateResponse {
  bool Success = false;
  int32_t ErrorCode = 0;
  std::string TerminalKey;
  std::string Status;
  std::string PaymentId;
  std::string OrderId;
  Currency Amount;
  std::string Message;
  std::string Details;
};

struct TCancelResponse {
  bool Success = false;
  int32_t ErrorCode = 0;
  std::string TerminalKey;
  std::string Status;
  std::string PaymentId;
  std::string OrderId;
  Currency OriginalAmount;
  Currency NewAmount;
  std::string Message;
  std::string Details;
};

struct TCancelQrResponse {
  bool Success = false;
  int32_t ErrorCode = 0;
  std::string Status;
  std::string Message;
  std::string Details;
};

BANK_DECLARE_TYPE(TInitRequest)
BANK_DECLARE_TYPE(TQrRequest)
BANK_DECLARE_TYPE(TStateRequest)
BANK_DECLARE_TYPE(TCancelRequest)
BANK_DECLARE_TYPE(TCancelQrRequest)
BANK_DECLARE_TYPE(TInitResponse)
BANK_DECLARE_TYPE(TQrResponse)
BANK_DECLARE_TYPE(TStateResponse)
BANK_DECLARE_TYPE(TCancelResponse)
BANK_DECLARE_TYPE(TCancelQrResponse)

// Payment state; the names are the bank's Status strings.
enum TStatus { UNKNOWN, FORM_SHOWED, REJECTED, CANCELED, REVERSED, PARTIAL_REFUNDED, REFUNDED, CONFIRMED };

std::string_view StatusName(TStatus AStatus);
// The state named by a Status text (ASCII case ignored), or -1 for any other text.
int StatusFromText(std::string_view AStatus);

// Request tokens: SHA-256 over the UTF-8 concatenation, as 64 lower-case hex digits.
// The password itself is never sent.
std::string MakeToken(const TQrRequest& ARequest, std::string_view APassword);
std::string MakeToken(const TStateRequest& ARequest, std::string_view APassword);
// Starts with the amount text, the same text as the body's Amount number.
std::string MakeToken(const TCancelRequest& ARequest, std::string_view APassword);
std::string MakeToken(const TCancelQrRequest& ARequest, std::string_view APassword);

class ITolvaro : public IHTTPBridge {
 public:
  virtual TInitResponse Init(TInitRequest AInitRequest) = 0;
  virtual TQrResponse GetQr(TQrRequest AQrRequest) = 0;
  virtual TStateResponse GetState(TStateRequest AOrderStateRequest) = 0;
  virtual TCancelResponse Cancel(TCancelRequest AOrderRequest) = 0;
  // Same path as Cancel; the body has no Amount.
  virtual TCancelQrResponse CancelQr(TCancelQrRequest AOrderQrRequest) = 0;
  virtual TStateResponse SbpPayTest(TStateRequest AStateRequest) = 0;
};

BANK_DECLARE_TYPE(ITolvaro)

class TTolvaroVirtualInterface final : public ITolvaro, public THTTPBridgeVirtualInterface {
 public:
  using THTTPBridgeVirtualInterface::THTTPBridgeVirtualInterface;
  TInitResponse Init(TInitRequest A) override { return Invoke<TInitResponse>(0, A); }
  TQrResponse GetQr(TQrRequest A) override { return Invoke<TQrResponse>(1, A); }
  TStateResponse GetState(TStateRequest A) override { return Invoke<TStateResponse>(2, A); }
  TCancelResponse Cancel(TCancelRequest A) override { return Invoke<TCancelResponse>(3, A); }
  TCancelQrResponse CancelQr(TCancelQrRequest A) override { return Invoke<TCancelQrResponse>(4, A); }
  TStateResponse SbpPayTest(TStateRequest A) override { return Invoke<TStateResponse>(5, A); }
};

template <>
struct THTTPBridgeBinding<ITolvaro> {
  using Implementation = TTolvaroVirtualInterface;
};

}  // namespace bank
