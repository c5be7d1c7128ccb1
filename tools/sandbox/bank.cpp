#include "bank.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <random>

namespace sandbox {

namespace {

// Error codes of the sandbox (its own; a real bank has its own list).
const char* const kBadRequest = "101";
const char* const kUnknownTerminal = "102";
const char* const kBadToken = "103";
const char* const kUnknownPayment = "104";
const char* const kWrongState = "105";
const char* const kRefundTooLarge = "106";

const char* const kStatuses[] = {"NEW",       "FORM_SHOWED",      "REJECTED", "CANCELED", "REVERSED",
                                 "AUTHORIZED", "PARTIAL_REFUNDED", "REFUNDED", "CONFIRMED", "UNKNOWN"};

bool KnownStatus(const std::string& s) {
  return std::find(std::begin(kStatuses), std::end(kStatuses), s) != std::end(kStatuses);
}

bool Unfinished(const std::string& s) { return s == "NEW" || s == "FORM_SHOWED"; }

std::string Sha256Hex(const std::string& AText) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(AText.data(), AText.size(), md, &len, EVP_sha256(), nullptr) != 1) return {};
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < len; ++i) {
    out += hex[md[i] >> 4];
    out += hex[md[i] & 15];
  }
  return out;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

Answer ControlError(int AStatus, const std::string& AText) {
  Json j = Json::Obj();
  j.Add("Error", Json::Str(AText));
  return JsonAnswer(AStatus, j);
}

Json RequestJson(const Request& r) {
  Json j = Json::Obj();
  j.Add("Method", Json::Str(r.Method)).Add("Path", Json::Str(r.Path));
  Json headers = Json::Arr();
  for (const auto& [name, value] : r.Headers) {
    Json pair = Json::Arr();
    pair.Items.push_back(Json::Str(name));
    pair.Items.push_back(Json::Str(value));
    headers.Items.push_back(std::move(pair));
  }
  j.Add("Headers", std::move(headers)).Add("Body", Json::Str(r.Body));
  return j;
}

}  // namespace

Answer JsonAnswer(int AStatus, const Json& ABody) {
  Answer a;
  a.Status = AStatus;
  a.Body = WriteJson(ABody);
  return a;
}

void Bank::AddTerminal(const std::string& AKey, const std::string& APassword) {
  std::lock_guard<std::mutex> lock(FLock);
  ResetTerminal(AKey, APassword);
}

void Bank::ResetTerminal(const std::string& AKey, const std::string& APassword) {
  Terminal t;
  t.Password = APassword;
  FTerminals[AKey] = std::move(t);
  std::erase_if(FPayments, [&](const auto& p) { return p.second.TerminalKey == AKey; });
}

Answer Bank::ErrorAnswer(const std::string& ACode, const std::string& AMessage, const std::string& ADetails) {
  Json j = Json::Obj();
  j.Add("Success", Json::Bool(false))
      .Add("ErrorCode", Json::Str(ACode))
      .Add("Message", Json::Str(AMessage))
      .Add("Details", Json::Str(ADetails));
  return JsonAnswer(200, j);
}

std::string Bank::QrPayload(const std::string& APaymentId, int64_t AAmount) {
  return "https://qr.sandbox.example/" + APaymentId + "?amount=" + std::to_string(AAmount);
}

Answer Bank::Handle(const Request& ARequest, bool AControlAllowed) {
  const std::string& path = ARequest.Path;
  if (StartsWith(path, "/_control/") || path == "/_control") {
    if (!AControlAllowed) return ControlError(404, "the control interface is served on the http listener only");
    return Control(ARequest);
  }
  if (path == "/customer" || StartsWith(path, "/customer/")) {
    if (!AControlAllowed) return ControlError(404, "the customer page is served on the http listener only");
    return Customer(ARequest);
  }
  // /_redirect/N/<rest>: N redirects in all, then /<rest>.
  if (StartsWith(path, "/_redirect/")) {
    const std::string tail = path.substr(11);
    const size_t slash = tail.find('/');
    const auto n = ParseInteger(tail.substr(0, slash));
    if (!n || *n < 1 || slash == std::string::npos) return ControlError(400, "expected /_redirect/N/<path>, N >= 1");
    const std::string rest = tail.substr(slash);
    const std::string next = *n - 1 >= 1 ? "/_redirect/" + std::to_string(*n - 1) + rest : rest;
    // Each hop is a request of the terminal named in the body, if any.
    if (const std::optional<Json> body = ParseJson(ARequest.Body); body && body->IsObject()) {
      std::lock_guard<std::mutex> lock(FLock);
      auto term = FTerminals.find(body->GetString("TerminalKey").value_or(""));
      if (term != FTerminals.end()) term->second.Requests.push_back(ARequest);
    }
    Answer a;
    a.Status = 307;
    a.ContentType.clear();
    a.Headers.emplace_back("Location", ARequest.Scheme + "://" + ARequest.Host + next);
    return a;
  }

  static const char* const kOperations[] = {"Init", "GetQr", "GetState", "Cancel", "SbpPayTest"};
  std::string operation;
  for (const char* op : kOperations)
    if (EndsWith(path, std::string("/") + op)) operation = op;
  if (operation.empty() || ARequest.Method != "POST") {
    Answer a = ErrorAnswer(kBadRequest, "Неизвестная операция", ARequest.Method + " " + path);
    a.Status = 404;
    return a;
  }

  const std::optional<Json> body = ParseJson(ARequest.Body);
  if (!body || !body->IsObject())
    return ErrorAnswer(kBadRequest, "Некорректный запрос", "Тело запроса не является объектом JSON");

  std::unique_lock<std::mutex> lock(FLock);
  const std::optional<std::string> key = body->GetString("TerminalKey");
  auto term = key ? FTerminals.find(*key) : FTerminals.end();
  if (term == FTerminals.end())
    return ErrorAnswer(kUnknownTerminal, "Терминал не найден", "TerminalKey: " + key.value_or(""));
  Terminal& t = term->second;
  t.Requests.push_back(ARequest);

  // Scripts: the first live one for this operation either lets the request pass (while
  // it still has requests to skip) or answers it.
  for (auto it = t.Scripts.begin(); it != t.Scripts.end(); ++it) {
    if (it->Operation != "*" && it->Operation != operation) continue;
    if (it->Skip > 0) {
      --it->Skip;
      break;
    }
    const Json answer = it->Answer;
    if (it->Times > 0 && --it->Times == 0) t.Scripts.erase(it);
    lock.unlock();
    Answer a = Scripted(answer);
    if (a.DelayMs > 0) {
      // A delay, then the normal answer.
      lock.lock();
      Answer normal = Operation(operation, ARequest, *body);
      normal.DelayMs = a.DelayMs;
      return normal;
    }
    return a;
  }
  return Operation(operation, ARequest, *body);
}

Answer Bank::Scripted(const Json& AScript) {
  const std::string kind = AScript.GetString("Kind").value_or("");
  Answer a;
  if (kind == "error") {
    Json j = Json::Obj();
    j.Add("Success", Json::Bool(false));
    for (const char* name : {"ErrorCode", "Message", "Details"})
      if (const Json* v = AScript.Find(name)) j.Add(name, *v);
    return JsonAnswer(200, j);
  }
  if (kind == "raw") {
    a.Status = static_cast<int>(AScript.GetInt("Status").value_or(200));
    a.Reason = AScript.GetString("Reason").value_or("");
    a.ContentType = AScript.GetString("ContentType").value_or("");
    a.Body = AScript.GetString("Body").value_or("");
    return a;
  }
  if (kind == "delay") {
    a.DelayMs = static_cast<int>(std::clamp<int64_t>(AScript.GetInt("Ms").value_or(0), 1, 24 * 3600 * 1000));
    return a;
  }
  if (kind == "drop") {
    a.K = Answer::Kind::Drop;
    return a;
  }
  if (kind == "drip") {
    a.K = Answer::Kind::Drip;
    a.DripMs = static_cast<int>(std::clamp<int64_t>(AScript.GetInt("Ms").value_or(1000), 1, 3600 * 1000));
    a.Body = R"({"Success":true,"ErrorCode":"0","Status":"CONFIRMED","PaymentId":"1","Amount":100})";
    return a;
  }
  if (kind == "truncate" || kind == "reset-mid-body") {
    a.K = kind == "truncate" ? Answer::Kind::Truncate : Answer::Kind::ResetMidBody;
    a.Body = R"({"Success":true,"ErrorCode":"0","Status":"CONFIRMED","PaymentId":"1","Amount":100})";
    return a;
  }
  if (kind == "huge") {
    const int64_t n = std::clamp<int64_t>(AScript.GetInt("Bytes").value_or(0), 0, int64_t(1) << 30);
    const std::string head = R"({"Success":true,"ErrorCode":"0","Data":")", tail = "\"}";
    if (n >= static_cast<int64_t>(head.size() + tail.size()))
      a.Body = head + std::string(n - head.size() - tail.size(), 'x') + tail;
    else
      a.Body = std::string(n, ' ');
    return a;
  }
  return ControlError(500, "unknown scripted answer kind: " + kind);
}

std::optional<Answer> Bank::CheckToken(const Json& ABody, const Terminal& ATerminal, const std::string& APrefix) {
  const std::string expected = Sha256Hex(APrefix + ATerminal.Password + ABody.GetString("PaymentId").value_or("") +
                                         ABody.GetString("TerminalKey").value_or(""));
  const std::optional<std::string> token = ABody.GetString("Token");
  if (!token) return ErrorAnswer(kBadToken, "Неверный токен", "Токен не передан");
  if (*token != expected) return ErrorAnswer(kBadToken, "Неверный токен", "Токен не совпадает с ожидаемым");
  return std::nullopt;
}

void Bank::ApplyBehaviour(Payment& APayment, const Terminal& ATerminal) {
  ++APayment.Polls;
  if (ATerminal.Outcome != "NONE" && Unfinished(APayment.Status) && APayment.Polls > ATerminal.AfterPolls)
    APayment.Status = ATerminal.Outcome;
}

// Called with FLock held.
Answer Bank::Operation(const std::string& AOperation, const Request&, const Json& ABody) {
  const std::string key = ABody.GetString("TerminalKey").value_or("");
  Terminal& t = FTerminals.at(key);
  Json out = Json::Obj();

  if (AOperation == "Init") {
    const Json* amount = ABody.Find("Amount");
    const auto value = amount && amount->K == Json::Kind::Number ? ParseInteger(amount->Text) : std::nullopt;
    if (!value || *value <= 0)
      return ErrorAnswer(kBadRequest, "Некорректная сумма", "Amount должен быть целым положительным числом копеек");
    const std::optional<std::string> order = ABody.GetString("OrderId");
    if (!order || order->empty()) return ErrorAnswer(kBadRequest, "Не указан номер заказа", "OrderId пуст");
    Payment p;
    p.Id = std::to_string(700000000 + ++FNextPayment);
    p.OrderId = *order;
    p.TerminalKey = key;
    p.Status = "NEW";
    p.Amount = *value;
    FPayments[p.Id] = p;
    out.Add("Success", Json::Bool(true))
        .Add("ErrorCode", Json::Str("0"))
        .Add("TerminalKey", Json::Str(key))
        .Add("Status", Json::Str(p.Status))
        .Add("PaymentId", Json::Str(p.Id))
        .Add("OrderId", Json::Str(p.OrderId))
        .Add("Amount", Json::Num(p.Amount))
        .Add("PaymentURL", Json::Str("https://pay.sandbox.example/" + p.Id));
    return JsonAnswer(200, out);
  }

  // Every other operation names a payment of this terminal and carries a token.
  const std::string paymentId = ABody.GetString("PaymentId").value_or("");
  const Json* amount = AOperation == "Cancel" ? ABody.Find("Amount") : nullptr;
  if (amount && amount->K != Json::Kind::Number)
    return ErrorAnswer(kBadRequest, "Некорректная сумма", "Amount должен быть числом");
  if (auto bad = CheckToken(ABody, t, amount ? amount->Text : std::string())) return *bad;
  auto pit = FPayments.find(paymentId);
  if (pit == FPayments.end() || pit->second.TerminalKey != key)
    return ErrorAnswer(kUnknownPayment, "Платеж не найден", "PaymentId: " + paymentId);
  Payment& p = pit->second;
  out.Add("Success", Json::Bool(true)).Add("ErrorCode", Json::Str("0")).Add("TerminalKey", Json::Str(key));

  if (AOperation == "GetQr") {
    if (!Unfinished(p.Status))
      return ErrorAnswer(kWrongState, "Операция невозможна в текущем статусе платежа", "Status: " + p.Status);
    p.Status = "FORM_SHOWED";
    out.Add("Data", Json::Str(QrPayload(p.Id, p.Amount)))
        .Add("OrderId", Json::Str(p.OrderId))
        .Add("PaymentId", Json::Str(p.Id));
    return JsonAnswer(200, out);
  }
  if (AOperation == "GetState" || AOperation == "SbpPayTest") {
    if (AOperation == "GetState")
      ApplyBehaviour(p, t);
    else if (Unfinished(p.Status))
      p.Status = "CONFIRMED";  // the test payment: the customer pays at once
    out.Add("Status", Json::Str(p.Status))
        .Add("PaymentId", Json::Str(p.Id))
        .Add("OrderId", Json::Str(p.OrderId))
        .Add("Amount", Json::Num(p.Amount - p.Refunded));
    return JsonAnswer(200, out);
  }
  // Cancel: a refund with Amount, a withdrawal without.
  if (amount) {
    const auto value = ParseInteger(amount->Text);
    if (!value || *value <= 0)
      return ErrorAnswer(kBadRequest, "Некорректная сумма", "Amount должен быть целым положительным числом копеек");
    if (p.Status != "CONFIRMED" && p.Status != "PARTIAL_REFUNDED")
      return ErrorAnswer(kWrongState, "Операция невозможна в текущем статусе платежа", "Status: " + p.Status);
    const int64_t before = p.Amount - p.Refunded;
    if (*value > before)
      return ErrorAnswer(kRefundTooLarge, "Сумма возврата превышает остаток платежа",
                         "Остаток: " + std::to_string(before) + ", запрошено: " + std::to_string(*value));
    p.Refunded += *value;
    p.Status = p.Refunded == p.Amount ? "REFUNDED" : "PARTIAL_REFUNDED";
    out.Add("Status", Json::Str(p.Status))
        .Add("PaymentId", Json::Str(p.Id))
        .Add("OrderId", Json::Str(p.OrderId))
        .Add("OriginalAmount", Json::Num(before))
        .Add("NewAmount", Json::Num(before - *value));
    return JsonAnswer(200, out);
  }
  if (!Unfinished(p.Status))
    return ErrorAnswer(kWrongState, "Операция невозможна в текущем статусе платежа", "Status: " + p.Status);
  p.Status = "CANCELED";
  out.Add("Status", Json::Str(p.Status)).Add("PaymentId", Json::Str(p.Id));
  return JsonAnswer(200, out);
}

Answer Bank::Control(const Request& ARequest) {
  const std::string rest = ARequest.Path.size() > 10 ? ARequest.Path.substr(10) : std::string();  // after "/_control/"
  std::vector<std::string> parts;
  for (size_t pos = 0; pos <= rest.size();) {
    const size_t slash = std::min(rest.find('/', pos), rest.size());
    parts.push_back(rest.substr(pos, slash - pos));
    pos = slash + 1;
  }
  std::optional<Json> body;
  if (ARequest.Method == "POST") {
    body = ParseJson(ARequest.Body);
    if (!body || !body->IsObject()) return ControlError(400, "the body must be a JSON object");
  }
  Json ok = Json::Obj();
  ok.Add("Ok", Json::Bool(true));

  std::lock_guard<std::mutex> lock(FLock);
  if (parts.size() == 1 && parts[0] == "terminals" && body) {
    const auto key = body->GetString("TerminalKey");
    const auto password = body->GetString("Password");
    if (!key || key->empty() || !password) return ControlError(400, "TerminalKey and Password (strings) are required");
    ResetTerminal(*key, *password);
    return JsonAnswer(200, ok);
  }
  if (parts.size() == 2 && parts[0] == "payments" && body) {
    auto it = FPayments.find(parts[1]);
    if (it == FPayments.end()) return ControlError(404, "no payment " + parts[1]);
    const auto status = body->GetString("Status");
    if (!status || !KnownStatus(*status)) return ControlError(400, "Status must be a status name");
    it->second.Status = *status;
    return JsonAnswer(200, ok);
  }
  // Proxy scripts (PAC files) for clients that follow a proxy auto-configuration URL; kept by
  // name, so tests running at once each have their own.
  if (parts.size() == 2 && parts[0] == "pac" && !parts[1].empty()) {
    if (body) {
      const auto script = body->GetString("Script");
      if (!script) return ControlError(400, "Script (a string) is required");
      FProxyScripts[parts[1]] = *script;
      return JsonAnswer(200, ok);
    }
    if (ARequest.Method == "GET") {
      auto it = FProxyScripts.find(parts[1]);
      if (it == FProxyScripts.end()) return ControlError(404, "no proxy script " + parts[1]);
      Answer a;
      a.ContentType = "application/x-ns-proxy-autoconfig";
      a.Body = it->second;
      return a;
    }
  }
  if (parts.size() == 3 && parts[0] == "terminals") {
    auto it = FTerminals.find(parts[1]);
    if (it == FTerminals.end()) return ControlError(404, "no terminal " + parts[1]);
    Terminal& t = it->second;
    const std::string& what = parts[2];
    if (what == "behaviour" && body) {
      const std::string outcome = body->GetString("Outcome").value_or("");
      if (outcome != "NONE" && outcome != "CONFIRMED" && outcome != "REJECTED" && outcome != "CANCELED")
        return ControlError(400, "Outcome must be CONFIRMED, REJECTED, CANCELED or NONE");
      t.Outcome = outcome;
      t.AfterPolls = static_cast<int>(std::max<int64_t>(0, body->GetInt("AfterPolls").value_or(0)));
      return JsonAnswer(200, ok);
    }
    if (what == "script" && body) {
      Script s;
      s.Operation = body->GetString("Operation").value_or("*");
      s.Skip = static_cast<int>(std::max<int64_t>(0, body->GetInt("Skip").value_or(0)));
      s.Times = static_cast<int>(body->GetInt("Times").value_or(1));
      const Json* answer = body->Find("Answer");
      if (answer == nullptr || !answer->IsObject()) return ControlError(400, "Answer (an object) is required");
      static const char* const kKinds[] = {"error", "raw", "delay", "drop", "truncate", "reset-mid-body", "huge", "drip"};
      const std::string kind = answer->GetString("Kind").value_or("");
      if (std::find(std::begin(kKinds), std::end(kKinds), kind) == std::end(kKinds))
        return ControlError(400, "Answer.Kind must be error, raw, delay, drop, truncate, reset-mid-body, huge or drip");
      if (s.Times == 0) return ControlError(400, "Times must not be 0");
      s.Answer = *answer;
      t.Scripts.push_back(std::move(s));
      return JsonAnswer(200, ok);
    }
    if (what == "requests" && ARequest.Method == "GET") {
      Json list = Json::Arr();
      for (const Request& r : t.Requests) list.Items.push_back(RequestJson(r));
      return JsonAnswer(200, list);
    }
    if (what == "payments" && ARequest.Method == "GET") {
      Json list = Json::Arr();
      for (const auto& [id, p] : FPayments) {
        if (p.TerminalKey != parts[1]) continue;
        Json j = Json::Obj();
        j.Add("PaymentId", Json::Str(p.Id))
            .Add("OrderId", Json::Str(p.OrderId))
            .Add("Amount", Json::Num(p.Amount))
            .Add("Status", Json::Str(p.Status))
            .Add("Refunded", Json::Num(p.Refunded))
            .Add("Polls", Json::Num(p.Polls));
        list.Items.push_back(std::move(j));
      }
      return JsonAnswer(200, list);
    }
  }
  return ControlError(404, "unknown control request: " + ARequest.Method + " " + ARequest.Path);
}

}  // namespace sandbox
