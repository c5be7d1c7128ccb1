#include "uFakeHTTPClient.h"

#include "uBankExceptions.h"

namespace bank {

class TFakeHTTPClientFactory::TClient final : public IHTTPClient {
 public:
  TClient(TFakeHTTPClientFactory& AOwner, const THTTPClientOptions& AOptions) : FOwner(AOwner), FOptions(AOptions) {}
  ~TClient() override {
    std::lock_guard<std::mutex> lock(FOwner.FLock);
    --FOwner.FAlive;
  }

  THTTPResponse Execute(const std::string& AMethod, const std::string& AURL, const THeaderList& AHeaders,
                        const TStream* ASource, TStream& AContent) override {
    TFakeReply reply;
    {
      std::lock_guard<std::mutex> lock(FOwner.FLock);
      TFakeRequest req{AMethod, AURL, AHeaders, std::nullopt, FOptions};
      if (ASource) req.Body = ASource->Bytes();
      FOwner.FRequests.push_back(std::move(req));
      if (!FOwner.FReplies.empty()) {
        reply = std::move(FOwner.FReplies.front());
        FOwner.FReplies.pop_front();
      } else {
        reply.Body = "{}";
      }
    }
    if (!reply.TransportError.empty()) throw EHTTPClientException(reply.TransportError);
    // In pieces, as a real transport writes what it receives.
    constexpr size_t Piece = 64 * 1024;
    for (size_t i = 0; i < reply.Body.size(); i += Piece)
      AContent.Write(std::string_view(reply.Body).substr(i, Piece));
    return THTTPResponse{reply.StatusCode, reply.StatusText, reply.Headers};
  }

 private:
  TFakeHTTPClientFactory& FOwner;
  THTTPClientOptions FOptions;
};

std::unique_ptr<IHTTPClient> TFakeHTTPClientFactory::CreateClient(const THTTPClientOptions& AOptions) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    ++FCreated;
    ++FAlive;
  }
  return std::make_unique<TClient>(*this, AOptions);
}

void TFakeHTTPClientFactory::Push(TFakeReply AReply) {
  std::lock_guard<std::mutex> lock(FLock);
  FReplies.push_back(std::move(AReply));
}

std::vector<TFakeRequest> TFakeHTTPClientFactory::Requests() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FRequests;
}

TFakeRequest TFakeHTTPClientFactory::LastRequest() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FRequests.empty() ? TFakeRequest{} : FRequests.back();
}

int TFakeHTTPClientFactory::ClientsCreated() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FCreated;
}

int TFakeHTTPClientFactory::ClientsAlive() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FAlive;
}

}  // namespace bank
