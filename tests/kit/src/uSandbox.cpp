#include "kit/uSandbox.h"

#include <atomic>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "uBankExceptions.h"
#include "uHTTPClient.h"
#include "uJSON.h"
#include "uStreams.h"

namespace tolvaro::test {

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string Quote(const std::string& s) {
  std::string out;
  bank::AppendJSONString(out, s);
  return out;
}

// A path segment: everything but unreserved characters percent-encoded.
std::string Segment(const std::string& s) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
        c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

int64_t ToInt(std::string_view s) {
  int64_t v = 0;
  std::from_chars(s.data(), s.data() + s.size(), v);
  return v;
}

std::unique_ptr<bank::TJSONDocument> ParseArray(const std::string& AText, const std::string& AWhat) {
  auto doc = bank::TJSONDocument::Parse(AText);
  if (!doc || doc->Empty() || doc->Kind(doc->Root()) != bank::TJSONDocument::TKind::Array)
    throw std::runtime_error("sandbox: " + AWhat + " answered something that is not a JSON array: " + AText);
  return doc;
}

std::string MemberText(const bank::TJSONDocument& d, bank::TJSONDocument::TIndex obj, std::string_view name) {
  const auto m = d.Member(obj, name);
  return m == bank::TJSONDocument::npos ? std::string() : std::string(d.Text(m));
}

}  // namespace

std::string TSandboxRequest::Header(const std::string& AName) const {
  const std::string want = Lower(AName);
  for (const auto& [name, value] : Headers)
    if (Lower(name) == want) return value;
  return {};
}

std::string TSandbox::PlatformPath(const std::string& AUnixPath) {
#ifdef _WIN32
  // Wine maps the Unix root to drive Z:.
  if (!AUnixPath.empty() && AUnixPath[0] == '/') {
    std::string out = "Z:" + AUnixPath;
    for (char& c : out)
      if (c == '/') c = '\\';
    return out;
  }
#endif
  return AUnixPath;
}

TSandbox::TSandbox() : TSandbox([] {
        const char* info = std::getenv("TOLVARO_SANDBOX");
        if (info == nullptr || *info == '\0')
          throw std::runtime_error(
              "sandbox: TOLVARO_SANDBOX is not set (run the test through ctest, which starts the sandbox fixture)");
        return PlatformPath(info);
      }()) {}

TSandbox::TSandbox(const std::string& AInfoFile) {
  std::ifstream in(AInfoFile);
  if (!in) throw std::runtime_error("sandbox: cannot read the info file " + AInfoFile + " (is the sandbox running?)");
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "http") FHttp = value;
    else if (key == "http6") FHttp6 = value;
    else if (key == "https") FHttps = value;
    else if (key == "ca_pem") FCaPem = PlatformPath(value);
    else if (key == "ca_der") FCaDer = PlatformPath(value);
    else if (key == "pid") FPid = static_cast<int>(ToInt(value));
  }
  if (FHttp.empty()) throw std::runtime_error("sandbox: the info file " + AInfoFile + " has no http= line");
}

std::string TSandbox::UniqueKey(const std::string& APrefix) {
  static std::atomic<int> Counter{0};
#ifdef _WIN32
  const unsigned long pid = GetCurrentProcessId();
#else
  const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
  return APrefix + "-" + std::to_string(pid) + "-" + std::to_string(++Counter);
}

std::string TSandbox::Control(const std::string& AMethod, const std::string& APath, const std::string& ABody) const {
  const std::shared_ptr<bank::IHTTPClientFactory> factory = bank::DefaultHTTPClientFactory();
  if (!factory) throw std::runtime_error("sandbox: no HTTP transport (bank::DefaultHTTPClientFactory() is empty)");
  bank::THTTPClientOptions options;
  options.ConnectionTimeout = 10000;
  options.ResponseTimeout = 30000;
  const std::string url = FHttp + "/_control/" + APath;
  bank::TStringStream body(ABody);
  bank::TStringStream content;
  content.SetLimit(64u << 20);
  bank::THTTPResponse response;
  try {
    const std::unique_ptr<bank::IHTTPClient> client = factory->CreateClient(options);
    response = client->Execute(AMethod, url, {{"Content-Type", "application/json"}},
                               AMethod == "GET" ? nullptr : &body, content);
  } catch (const bank::Exception& e) {
    throw std::runtime_error("sandbox: " + AMethod + " " + url + " failed (is the sandbox running?): " + e.Message());
  }
  if (response.StatusCode != 200)
    throw std::runtime_error("sandbox: " + AMethod + " " + url + " answered " + std::to_string(response.StatusCode) +
                             ": " + content.DataString());
  return content.DataString();
}

void TSandbox::AddTerminal(const std::string& AKey, const std::string& APassword) const {
  Control("POST", "terminals", "{\"TerminalKey\":" + Quote(AKey) + ",\"Password\":" + Quote(APassword) + "}");
}

void TSandbox::SetBehaviour(const std::string& AKey, const std::string& AOutcome, int AAfterPolls) const {
  Control("POST", "terminals/" + Segment(AKey) + "/behaviour",
          "{\"Outcome\":" + Quote(AOutcome) + ",\"AfterPolls\":" + std::to_string(AAfterPolls) + "}");
}

void TSandbox::SetPaymentStatus(const std::string& APaymentId, const std::string& AStatus) const {
  Control("POST", "payments/" + Segment(APaymentId), "{\"Status\":" + Quote(AStatus) + "}");
}

void TSandbox::Script(const std::string& AKey, const std::string& AOperation, const std::string& AAnswerJson, int ASkip,
                      int ATimes) const {
  Control("POST", "terminals/" + Segment(AKey) + "/script",
          "{\"Operation\":" + Quote(AOperation) + ",\"Skip\":" + std::to_string(ASkip) +
              ",\"Times\":" + std::to_string(ATimes) + ",\"Answer\":" + AAnswerJson + "}");
}

std::vector<TSandboxRequest> TSandbox::Requests(const std::string& AKey) const {
  const auto doc = ParseArray(Control("GET", "terminals/" + Segment(AKey) + "/requests", ""), "requests");
  using D = bank::TJSONDocument;
  std::vector<TSandboxRequest> out;
  for (D::TIndex i = doc->FirstChild(doc->Root()); i != D::npos; i = doc->Next(i)) {
    TSandboxRequest r;
    r.Method = MemberText(*doc, i, "Method");
    r.Path = MemberText(*doc, i, "Path");
    r.Body = MemberText(*doc, i, "Body");
    const D::TIndex headers = doc->Member(i, "Headers");
    if (headers != D::npos)
      for (D::TIndex h = doc->FirstChild(headers); h != D::npos; h = doc->Next(h)) {
        const D::TIndex name = doc->FirstChild(h);
        if (name == D::npos || doc->Next(name) == D::npos) continue;
        r.Headers.emplace_back(std::string(doc->Text(name)), std::string(doc->Text(doc->Next(name))));
      }
    out.push_back(std::move(r));
  }
  return out;
}

std::vector<TSandboxPayment> TSandbox::Payments(const std::string& AKey) const {
  const auto doc = ParseArray(Control("GET", "terminals/" + Segment(AKey) + "/payments", ""), "payments");
  using D = bank::TJSONDocument;
  std::vector<TSandboxPayment> out;
  for (D::TIndex i = doc->FirstChild(doc->Root()); i != D::npos; i = doc->Next(i)) {
    TSandboxPayment p;
    p.PaymentId = MemberText(*doc, i, "PaymentId");
    p.OrderId = MemberText(*doc, i, "OrderId");
    p.Amount = ToInt(MemberText(*doc, i, "Amount"));
    p.Status = MemberText(*doc, i, "Status");
    p.Refunded = ToInt(MemberText(*doc, i, "Refunded"));
    p.Polls = static_cast<int>(ToInt(MemberText(*doc, i, "Polls")));
    out.push_back(std::move(p));
  }
  return out;
}

}  // namespace tolvaro::test
