#pragma once
// The sandbox's bank: terminals, payments and their life cycle, scripted answers, and
// the control interface. Transport-independent: the server feeds it requests and sends
// what it answers.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "json.h"

namespace sandbox {

struct Request {
  std::string Method;
  std::string Path;
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;
  std::string Scheme;  // http or https
  std::string Host;    // the Host header
};

// What to send back.
struct Answer {
  enum class Kind { Normal, Drop, Truncate, ResetMidBody, Drip };
  Kind K = Kind::Normal;
  int Status = 200;
  std::string Reason;  // empty: the standard phrase
  std::string ContentType = "application/json";
  std::string Body;
  std::vector<std::pair<std::string, std::string>> Headers;
  int DelayMs = 0;  // wait before answering (interrupted by shutdown)
  int DripMs = 0;   // Drip: the pause before each byte of the body after the first
};

class Bank {
 public:
  void AddTerminal(const std::string& AKey, const std::string& APassword);
  // Bank operations, redirects; AControlAllowed: the listener serves /_control too.
  Answer Handle(const Request& ARequest, bool AControlAllowed);
  // The customer page (/customer): open payments with their QR codes, and the buttons of
  // the customer's phone and of the bank. Served where the control interface is.
  Answer Customer(const Request& ARequest);
  // The QR payload GetQr answers for a payment.
  static std::string QrPayload(const std::string& APaymentId, int64_t AAmount);

 private:
  struct Payment {
    std::string Id, OrderId, TerminalKey, Status;
    int64_t Amount = 0, Refunded = 0;
    int Polls = 0;
  };
  struct Script {
    std::string Operation;
    int Skip = 0, Times = 1;  // Times < 0: for ever
    Json Answer;
  };
  struct Terminal {
    std::string Password;
    std::string Outcome = "NONE";
    int AfterPolls = 0;
    std::vector<Script> Scripts;
    std::vector<Request> Requests;
  };

  // A new terminal (or a fresh one in place of the old): no scripts, behaviour, payments or requests.
  void ResetTerminal(const std::string& AKey, const std::string& APassword);  // FLock held
  Answer Control(const Request& ARequest);
  Answer Operation(const std::string& AOperation, const Request& ARequest, const Json& ABody);
  Answer Scripted(const Json& AScript);
  Answer ErrorAnswer(const std::string& ACode, const std::string& AMessage, const std::string& ADetails);
  // Null when the token is right; else the error answer.
  std::optional<Answer> CheckToken(const Json& ABody, const Terminal& ATerminal, const std::string& APrefix);
  void ApplyBehaviour(Payment& APayment, const Terminal& ATerminal);

  std::mutex FLock;
  std::map<std::string, Terminal> FTerminals;
  std::map<std::string, Payment> FPayments;
  std::map<std::string, std::string> FProxyScripts;  // name -> PAC file text
  uint64_t FNextPayment = 0;
};

// Control and operation failures answered to the caller.
Answer JsonAnswer(int AStatus, const Json& ABody);

}  // namespace sandbox
