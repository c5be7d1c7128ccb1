#include "uDeviceCommon.h"

#include <array>

#include "uJsonConverter.h"
#include "uSha256.h"
#include "uTextUtils.h"

namespace bank {

BANK_RECORD(TInitRequest, Amount, OrderId, TerminalKey)
BANK_RECORD(TQrRequest, PaymentId, TerminalKey, Token)
BANK_RECORD(TStateRequest, PaymentId, TerminalKey, Token)
BANK_RECORD(TCancelRequest, Amount, PaymentId, TerminalKey, Token)
BANK_RECORD(TCancelQrRequest, PaymentId, TerminalKey, Token)
BANK_RECORD(TInitResponse, Success, ErrorCode, TerminalKey, Status, PaymentId, OrderId, Amount, PaymentURL,
            Message, Details)
BANK_RECORD(TQrResponse, Success, ErrorCode, TerminalKey, Data, OrderId, PaymentId, Message, Details)
BANK_RECORD(TStateResponse, Success, ErrorCode, TerminalKey, Status, PaymentId, OrderId, Amount, Message,
            Details)
BANK_RECORD(TCancelResponse, Success, ErrorCode, TerminalKey, Status, PaymentId, OrderId, OriginalAmount,
            NewAmount, Message, Details)
BANK_RECORD(TCancelQrResponse, Success, ErrorCode, Status, Message, Details)

namespace {

constexpr std::array<std::string_view, 8> StatusNames = {
    "UNKNOWN", "FORM_SHOWED", "REJECTED", "CANCELED", "REVERSED", "PARTIAL_REFUNDED", "REFUNDED", "CONFIRMED"};

template <class Req, class Res>
TMethodDescription BodyMethod(std::string AName, std::string APath, std::string AParam) {
  return TMethodDescription{std::move(AName), {POST(std::move(APath))},
                            {TParamDescription{std::move(AParam), TypeInfoOf<Req>(), {BODY}}},
                            TypeInfoOf<Res>()};
}

std::string Concat(std::initializer_list<std::string_view> AParts) {
  std::string s;
  for (const auto p : AParts) s.append(p);
  return s;
}

}  // namespace

const TTypeInfo* TTypeInfoProvider<ITolvaro>::Get() {
  // Method table in the order of the interface's virtual methods (TTolvaroVirtualInterface).
  static const TInterfaceInfo Methods{{
      BodyMethod<TInitRequest, TInitResponse>("Init", "Init", "AInitRequest"),
      BodyMethod<TQrRequest, TQrResponse>("GetQr", "GetQr", "AQrRequest"),
      BodyMethod<TStateRequest, TStateResponse>("GetState", "GetState", "AOrderStateRequest"),
      BodyMethod<TCancelRequest, TCancelResponse>("Cancel", "Cancel", "AOrderRequest"),
      BodyMethod<TCancelQrRequest, TCancelQrResponse>("CancelQr", "Cancel", "AOrderQrRequest"),
      BodyMethod<TStateRequest, TStateResponse>("SbpPayTest", "SbpPayTest", "AStateRequest"),
  }};
  static const TTypeInfo Info = InterfaceTypeInfo("ITolvaro", &Methods);
  return &Info;
}

std::string_view StatusName(TStatus AStatus) {
  const auto i = static_cast<size_t>(AStatus);
  return i < StatusNames.size() ? StatusNames[i] : std::string_view{};
}

int StatusFromText(std::string_view AStatus) {
  for (size_t i = 0; i < StatusNames.size(); ++i)
    if (SameText(AStatus, StatusNames[i])) return static_cast<int>(i);
  return -1;
}

std::string MakeToken(const TQrRequest& R, std::string_view APassword) {
  return Sha256Hex(Concat({APassword, R.PaymentId, R.TerminalKey}));
}

std::string MakeToken(const TStateRequest& R, std::string_view APassword) {
  return Sha256Hex(Concat({APassword, R.PaymentId, R.TerminalKey}));
}

std::string MakeToken(const TCancelRequest& R, std::string_view APassword) {
  return Sha256Hex(Concat({CurrencyToJSONText(R.Amount), APassword, R.PaymentId, R.TerminalKey}));
}

std::string MakeToken(const TCancelQrRequest& R, std::string_view APassword) {
  return Sha256Hex(Concat({APassword, R.PaymentId, R.TerminalKey}));
}

}  // namespace bank
