// Serialising a TInitRequest and deserialising a TStateResponse, beside a bare RapidJSON
// parse of the same response body.
#include <benchmark/benchmark.h>

#include <string>

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#endif
#include <rapidjson/document.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#include "uDeviceCommon.h"
#include "uJsonConverterFactory.h"
#include "uHTTPClient.h"

// Built without the platform seams: nothing here talks to a server.
std::shared_ptr<bank::IHTTPClientFactory> bank::PlatformHTTPClientFactory() { return nullptr; }

namespace {

const std::string StateBody =
    R"({"Success":true,"ErrorCode":"0","TerminalKey":"1700000000001DEMO","Status":"CONFIRMED",)"
    R"("PaymentId":"3093639567","OrderId":"9B2A1F0C-5D4E-4F6A-8B7C-0D1E2F3A4B5C","Amount":10050,)"
    R"("Message":"","Details":""})";

void SerializeInitRequest(benchmark::State& AState) {
  bank::TJsonConverterFactory factory;
  bank::TInitRequest request{bank::Currency::FromRaw(100500000), "9B2A1F0C-5D4E-4F6A-8B7C-0D1E2F3A4B5C",
                             "1700000000001DEMO"};
  for (auto _ : AState) {
    auto stream = factory.Serialize(bank::TValue::Of(request));
    benchmark::DoNotOptimize(stream->Bytes().data());
  }
}
BENCHMARK(SerializeInitRequest);

void DeserializeStateResponse(benchmark::State& AState) {
  bank::TJsonConverterFactory factory;
  const bank::TStringStream body(StateBody);
  for (auto _ : AState) {
    auto response = factory.DeSerialize<bank::TStateResponse>(body);
    benchmark::DoNotOptimize(response.Status.data());
  }
}
BENCHMARK(DeserializeStateResponse);

void BareRapidJsonParse(benchmark::State& AState) {
  for (auto _ : AState) {
    rapidjson::Document doc;
    doc.Parse(StateBody.data(), StateBody.size());
    benchmark::DoNotOptimize(doc.IsObject());
  }
}
BENCHMARK(BareRapidJsonParse);

}  // namespace

BENCHMARK_MAIN();
