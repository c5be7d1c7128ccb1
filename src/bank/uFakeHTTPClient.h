#pragma once
// A scripted HTTP transport for tests: records every request, answers from a queue.
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "uHTTPClient.h"

namespace bank {

struct TFakeRequest {
  std::string Method;
  std::string URL;
  THeaderList Headers;
  std::optional<std::string> Body;  // nullopt: sent without a body
  THTTPClientOptions Options;
};

struct TFakeReply {
  TFakeReply() = default;
  TFakeReply(int AStatusCode, std::string AStatusText, std::string ABody)
      : StatusCode(AStatusCode), StatusText(std::move(AStatusText)), Body(std::move(ABody)) {}
  static TFakeReply TransportFailure(std::string AMessage) {
    TFakeReply r;
    r.TransportError = std::move(AMessage);
    return r;
  }

  int StatusCode = 200;
  std::string StatusText = "OK";
  std::string Body;
  THeaderList Headers;
  // Non-empty: the transport fails with EHTTPClientException and this message.
  std::string TransportError;
};

class TFakeHTTPClientFactory final : public IHTTPClientFactory {
 public:
  std::unique_ptr<IHTTPClient> CreateClient(const THTTPClientOptions& AOptions) override;

  // Queues the answer for the next request; with an empty queue the answer is 200 "{}".
  void Push(TFakeReply AReply);
  std::vector<TFakeRequest> Requests() const;
  TFakeRequest LastRequest() const;
  int ClientsCreated() const;
  int ClientsAlive() const;

 private:
  class TClient;
  mutable std::mutex FLock;
  std::deque<TFakeReply> FReplies;
  std::vector<TFakeRequest> FRequests;
  int FCreated = 0;
  int FAlive = 0;
};

}  // namespace bank
