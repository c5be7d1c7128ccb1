#pragma once
// Declarative REST bridge: an interface described by a table of methods (verb and path,
// header attributes, parameters with their places) becomes an HTTP client. Every call
// of the built interface is one synchronous request through HTTPBridge::Execute.
#include <array>
#include <functional>
#include <map>
#include <mutex>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "uBankExceptions.h"
#include "uHTTPClient.h"
#include "uStreams.h"
#include "uTypeInfo.h"

namespace bank {

// Base of every interface served by the bridge.
class IHTTPBridge {
 public:
  virtual ~IHTTPBridge() = default;
};

// ---- Attributes -------------------------------------------------------------------------

struct TValueAttribute {
  std::string FValue;
};

// Verb attribute (FValue = the method's path) or a method-level header ("Name: value").
struct TMethodAttribute : TValueAttribute {
  enum class TKind { Verb, Header };
  TKind Kind = TKind::Verb;
  std::string Verb;
};

inline TMethodAttribute MethodAttribute(std::string AVerb, std::string APath) {
  TMethodAttribute a;
  a.FValue = std::move(APath);
  a.Verb = std::move(AVerb);
  return a;
}
inline TMethodAttribute POST(std::string APath) { return MethodAttribute("POST", std::move(APath)); }
inline TMethodAttribute GET(std::string APath) { return MethodAttribute("GET", std::move(APath)); }
inline TMethodAttribute PUT(std::string APath) { return MethodAttribute("PUT", std::move(APath)); }
// Not DELETE: <windows.h> defines that name as a macro.
inline TMethodAttribute HTTP_DELETE(std::string APath) { return MethodAttribute("DELETE", std::move(APath)); }
inline TMethodAttribute HEADER(std::string AHeaderText) {
  TMethodAttribute a;
  a.Kind = TMethodAttribute::TKind::Header;
  a.FValue = std::move(AHeaderText);
  return a;
}

struct TParamAttribute : TValueAttribute {
  enum class TKind { Body, Header, Query, Path };
  TKind Kind = TKind::Body;
};
inline const TParamAttribute BODY{};
inline TParamAttribute HeaderParam(std::string AName) { return {{std::move(AName)}, TParamAttribute::TKind::Header}; }
inline TParamAttribute QueryParam(std::string AKey) { return {{std::move(AKey)}, TParamAttribute::TKind::Query}; }
inline TParamAttribute PathParam(std::string AName) { return {{std::move(AName)}, TParamAttribute::TKind::Path}; }

struct TParamDescription {
  std::string Name;
  const TTypeInfo* Type = nullptr;
  std::vector<TParamAttribute> Attributes;
};

struct TMethodDescription {
  std::string Name;
  std::vector<TMethodAttribute> Attributes;
  std::vector<TParamDescription> Params;
  const TTypeInfo* ResultType = nullptr;  // null: the method has no result
};

// The method table of an interface type (its TTypeInfo::Interface).
struct TInterfaceInfo {
  std::vector<TMethodDescription> Methods;
};

// Describes an interface type for the bridge.
TTypeInfo InterfaceTypeInfo(std::string_view AName, const TInterfaceInfo* AInfo);

// Marker for an absent query value.
class EMPTY {
 public:
  // 999999999 for integers, 999999999.99 for floats, "Null" for texts; false for
  // Booleans; "Неизвестный тип параметра" for any other kind.
  static bool IsEmpty(const TValue& AValue);
};

// Stream and document classes the bridge treats specially as a body or a result.
class TJSONDocument;
BANK_DECLARE_TYPE(TStringStream)
BANK_DECLARE_TYPE(std::unique_ptr<TStringStream>)
BANK_DECLARE_TYPE(std::unique_ptr<TBytesStream>)
BANK_DECLARE_TYPE(TJSONDocument)

// ---- Converters ---------------------------------------------------------------------------

class IConverterFactory {
 public:
  virtual ~IConverterFactory() = default;
  // A new text stream holding the value's body text.
  virtual std::unique_ptr<TStream> Serialize(const TValue& Value) = 0;
  // Fills the value at AResult (of type TypeInfo) from the stream's text.
  virtual void DeSerialize(const TStream& Value, const TTypeInfo* TypeInfo, void* AResult) = 0;
};

// ---- Interceptors -------------------------------------------------------------------------

class IHTTPBridgeInterceptor {
 public:
  virtual ~IHTTPBridgeInterceptor() = default;
  virtual void DebugLog(const std::string& AMessage) = 0;
  virtual void BeforeExecute(const std::string& ARequestMethod, const std::string& AURIStr,
                             const TStream* ASourceStream, TStream& AContentStream, THeaderList& AHeaders) = 0;
  virtual void AfterExecute(const THTTPResponse& AResponse, TStream& AContentStream) = 0;
};

using THTTPBridgeInterceptorBeforeExecuteProc =
    std::function<void(const std::string& ARequestMethod, const std::string& AURIStr,
                       const TStream* ASourceStream, TStream& AContentStream, THeaderList& AHeaders)>;
using THTTPBridgeInterceptorAfterExecuteProc =
    std::function<void(const std::string& ARequestMethod, const std::string& AURIStr,
                       const THTTPResponse& AResponse, TStream& AContentStream)>;
using THTTPBridgeInterceptorDebugLogProc = std::function<void(const std::string& AMessage)>;

// Method forms: a method bound to an object (the object must outlive the bridge's calls).
struct THTTPBridgeInterceptorBeforeExecuteMeth {
  THTTPBridgeInterceptorBeforeExecuteProc Call;
};
struct THTTPBridgeInterceptorAfterExecuteMeth {
  THTTPBridgeInterceptorAfterExecuteProc Call;
};
struct THTTPBridgeInterceptorDebugLogMeth {
  THTTPBridgeInterceptorDebugLogProc Call;
};

struct RHTTPBridgeInterceptor {
  std::shared_ptr<IHTTPBridgeInterceptor> Interceptor1;
  THTTPBridgeInterceptorBeforeExecuteProc Interceptor2;
  THTTPBridgeInterceptorAfterExecuteProc Interceptor3;
  THTTPBridgeInterceptorDebugLogProc Interceptor4;
  THTTPBridgeInterceptorBeforeExecuteMeth Interceptor5;
  THTTPBridgeInterceptorAfterExecuteMeth Interceptor6;
  THTTPBridgeInterceptorDebugLogMeth Interceptor7;
};

// ---- Builder ------------------------------------------------------------------------------

template <class T>
class IBuilder {
 public:
  virtual ~IBuilder() = default;
  virtual IBuilder& SetUrl(const std::string& AUrl) = 0;
  virtual IBuilder& AddInterceptor(std::shared_ptr<IHTTPBridgeInterceptor> AInterceptor) = 0;
  virtual IBuilder& AddInterceptor(THTTPBridgeInterceptorBeforeExecuteProc AProc) = 0;
  virtual IBuilder& AddInterceptor(THTTPBridgeInterceptorAfterExecuteProc AProc) = 0;
  virtual IBuilder& AddInterceptor(THTTPBridgeInterceptorDebugLogProc AProc) = 0;
  virtual IBuilder& AddInterceptor(THTTPBridgeInterceptorAfterExecuteMeth AMeth) = 0;
  // "Name: value"; both parts trimmed.
  virtual IBuilder& AddHeader(const std::string& AHeader) = 0;
  virtual IBuilder& AddHeader(const std::string& AName, const std::string& AValue) = 0;
  virtual IBuilder& AddPath(const std::string& AName, const std::string& AValue) = 0;
  virtual IBuilder& SetConverter(std::shared_ptr<IConverterFactory> AConverter) = 0;
  virtual IBuilder& AddConverter(const TTypeInfo* ATypeInfo, std::shared_ptr<IConverterFactory> AConverter) = 0;
  virtual std::shared_ptr<T> Build() = 0;
  // The transport for this bridge (default: DefaultHTTPClientFactory()).
  virtual IBuilder& SetHTTPClientFactory(std::shared_ptr<IHTTPClientFactory> AFactory) = 0;

  // After-execute method of an object.
  template <class C>
  IBuilder& AddInterceptor(C* AObject, void (C::*AMethod)(const std::string&, const std::string&,
                                                           const THTTPResponse&, TStream&)) {
    return AddInterceptor(THTTPBridgeInterceptorAfterExecuteMeth{
        [AObject, AMethod](const std::string& m, const std::string& u, const THTTPResponse& r, TStream& s) {
          (AObject->*AMethod)(m, u, r, s);
        }});
  }
};

class HTTPBridge;

// Implementation of an interface type: each method forwards to the bridge.
// It has no reference count of its own: references to it share the bridge's.
class THTTPBridgeVirtualInterface {
 public:
  explicit THTTPBridgeVirtualInterface(HTTPBridge* ABridge) : FBridge(ABridge) {}
  virtual ~THTTPBridgeVirtualInterface() = default;

 protected:
  template <class R, class... A>
  R Invoke(size_t AMethodIndex, A&... AArgs);

  HTTPBridge* FBridge;
};

// Specialise with `using Implementation = ...;` (derived from T and
// THTTPBridgeVirtualInterface, constructed from HTTPBridge*) for every bridged interface.
template <class T>
struct THTTPBridgeBinding;

template <class T>
concept BridgedInterface = requires { typename THTTPBridgeBinding<T>::Implementation; };

class HTTPBridge {
 public:
  explicit HTTPBridge(const TTypeInfo* ATypeInfo);
  ~HTTPBridge();
  HTTPBridge(const HTTPBridge&) = delete;
  HTTPBridge& operator=(const HTTPBridge&) = delete;

  template <class T>
  static std::shared_ptr<IBuilder<T>> Builder();

  // One call: AArgs in the method's parameter order; AResult receives the result
  // (ignored when the method has none).
  void Execute(const TMethodDescription& AMethod, std::span<const TValue> AArgs, const TValue& AResult);

  const TTypeInfo* TypeInfo() const { return FTypeInfo; }

  // Configuration, through the builder only.
  void SetUrl(const std::string& AUrl) { FUrl = AUrl; }
  void AddInterceptor(RHTTPBridgeInterceptor AInterceptor) { ListInterceptors.push_back(std::move(AInterceptor)); }
  void AddHeaderText(const std::string& AHeader);
  void SetCommonHeader(const std::string& AName, const std::string& AValue);
  void AddPath(const std::string& AName, const std::string& AValue);
  void SetConverter(std::shared_ptr<IConverterFactory> AConverter) { FConverter = std::move(AConverter); }
  void AddConverter(const TTypeInfo* ATypeInfo, std::shared_ptr<IConverterFactory> AConverter) {
    FConverters[ATypeInfo] = std::move(AConverter);
  }
  void SetHTTPClientFactory(std::shared_ptr<IHTTPClientFactory> AFactory) { FClientFactory = std::move(AFactory); }
  void SetInterface(std::unique_ptr<THTTPBridgeVirtualInterface> AInterface) { FInterface = std::move(AInterface); }
  const THeaderList& CommonHeaders() const { return FCommonHeaders; }

 private:
  void DebugLog(const std::string& AMessage);
  // The client every call of this bridge uses (calls may run on two threads at once).
  IHTTPClient& Client();
  IConverterFactory& ConverterFor(const TTypeInfo* ATypeInfo) const;
  std::unique_ptr<TStream> PrepareBody(const TValue& AArg) const;
  void ProduceResult(const TTypeInfo* AType, const TStream& AContent, const TValue& AResult) const;

  std::unique_ptr<THTTPBridgeVirtualInterface> FInterface;
  const TTypeInfo* FTypeInfo;
  std::vector<RHTTPBridgeInterceptor> ListInterceptors;
  std::shared_ptr<IConverterFactory> FConverter;
  std::map<const TTypeInfo*, std::shared_ptr<IConverterFactory>> FConverters;
  THeaderList FCommonHeaders;
  std::vector<std::pair<std::string, std::string>> FCommonPaths;
  std::string FUrl;
  std::shared_ptr<IHTTPClientFactory> FClientFactory;
  std::mutex FClientLock;
  std::unique_ptr<IHTTPClient> FClient;
};

template <class R, class... A>
R THTTPBridgeVirtualInterface::Invoke(size_t AMethodIndex, A&... AArgs) {
  const TMethodDescription& m = FBridge->TypeInfo()->Interface->Methods.at(AMethodIndex);
  const std::array<TValue, sizeof...(A)> args{TValue::Of(AArgs)...};
  if constexpr (std::is_void_v<R>) {
    FBridge->Execute(m, args, TValue{});
  } else {
    R result{};
    FBridge->Execute(m, args, TValue::Of(result));
    return result;
  }
}

template <class T>
class TBuilderImplementation final : public IBuilder<T> {
 public:
  explicit TBuilderImplementation(const TTypeInfo* ATypeInfo) {
    auto bridge = std::make_shared<HTTPBridge>(ATypeInfo);
    auto impl = std::make_unique<typename THTTPBridgeBinding<T>::Implementation>(bridge.get());
    T* obj = impl.get();
    bridge->SetInterface(std::move(impl));
    FBridge = bridge.get();
    FObj = std::shared_ptr<T>(std::move(bridge), obj);  // shares the bridge's count
  }
  IBuilder<T>& SetUrl(const std::string& AUrl) override { return FBridge->SetUrl(AUrl), *this; }
  IBuilder<T>& AddInterceptor(std::shared_ptr<IHTTPBridgeInterceptor> A) override {
    RHTTPBridgeInterceptor r;
    r.Interceptor1 = std::move(A);
    return FBridge->AddInterceptor(std::move(r)), *this;
  }
  IBuilder<T>& AddInterceptor(THTTPBridgeInterceptorBeforeExecuteProc A) override {
    RHTTPBridgeInterceptor r;
    r.Interceptor2 = std::move(A);
    return FBridge->AddInterceptor(std::move(r)), *this;
  }
  IBuilder<T>& AddInterceptor(THTTPBridgeInterceptorAfterExecuteProc A) override {
    RHTTPBridgeInterceptor r;
    r.Interceptor3 = std::move(A);
    return FBridge->AddInterceptor(std::move(r)), *this;
  }
  IBuilder<T>& AddInterceptor(THTTPBridgeInterceptorDebugLogProc A) override {
    RHTTPBridgeInterceptor r;
    r.Interceptor4 = std::move(A);
    return FBridge->AddInterceptor(std::move(r)), *this;
  }
  IBuilder<T>& AddInterceptor(THTTPBridgeInterceptorAfterExecuteMeth A) override {
    RHTTPBridgeInterceptor r;
    r.Interceptor6 = std::move(A);
    return FBridge->AddInterceptor(std::move(r)), *this;
  }
  using IBuilder<T>::AddInterceptor;
  IBuilder<T>& AddHeader(const std::string& AHeader) override { return FBridge->AddHeaderText(AHeader), *this; }
  IBuilder<T>& AddHeader(const std::string& AName, const std::string& AValue) override {
    return FBridge->SetCommonHeader(AName, AValue), *this;
  }
  IBuilder<T>& AddPath(const std::string& AName, const std::string& AValue) override {
    return FBridge->AddPath(AName, AValue), *this;
  }
  IBuilder<T>& SetConverter(std::shared_ptr<IConverterFactory> A) override {
    return FBridge->SetConverter(std::move(A)), *this;
  }
  IBuilder<T>& AddConverter(const TTypeInfo* ATypeInfo, std::shared_ptr<IConverterFactory> A) override {
    return FBridge->AddConverter(ATypeInfo, std::move(A)), *this;
  }
  IBuilder<T>& SetHTTPClientFactory(std::shared_ptr<IHTTPClientFactory> A) override {
    return FBridge->SetHTTPClientFactory(std::move(A)), *this;
  }
  std::shared_ptr<T> Build() override { return FObj; }

 private:
  std::shared_ptr<T> FObj;
  HTTPBridge* FBridge = nullptr;  // kept alive by FObj
};

[[noreturn]] void RaiseInvalidBridgeType(std::string_view ATypeName);
// The C++ name of a type that has no description, readable (demangled).
std::string ReadableTypeName(const std::type_info& AType);

template <class T>
std::shared_ptr<IBuilder<T>> HTTPBridge::Builder() {
  const TTypeInfo* ti = TypeInfoOf<T>();
  if constexpr (BridgedInterface<T>) {
    if (ti != nullptr && ti->Kind == TTypeKind::tkInterface && ti->Interface != nullptr)
      return std::make_shared<TBuilderImplementation<T>>(ti);
  }
  RaiseInvalidBridgeType(ti != nullptr ? std::string(ti->Name) : ReadableTypeName(typeid(T)));
}

}  // namespace bank
