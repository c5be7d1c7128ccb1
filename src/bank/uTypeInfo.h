#pragma once
// Run-time type descriptions: what the JSON converter and the REST bridge know about
// a type. Records are described by hand-written field tables (BANK_RECORD below).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace bank {

enum class TTypeKind {
  tkUnknown, tkInteger, tkChar, tkEnumeration, tkFloat, tkString, tkSet, tkClass, tkMethod,
  tkWChar, tkLString, tkWString, tkVariant, tkArray, tkRecord, tkInterface, tkInt64,
  tkDynArray, tkUString, tkClassRef, tkPointer, tkProcedure, tkMRecord
};

std::string_view TypeKindName(TTypeKind AKind);
bool IsTextKind(TTypeKind AKind);

// Fixed-point amount: a signed count of ten-thousandths.
struct Currency {
  static constexpr int64_t Scale = 10000;
  int64_t Raw = 0;

  static constexpr Currency FromRaw(int64_t ARaw) { return Currency{ARaw}; }
  // The exact value rounded to four decimals, half away from zero whatever the floating-point
  // rounding mode; EInvalidCast when out of range or not finite.
  static Currency FromDouble(double AValue);
  // No ToDouble: an amount becomes text in integers (CurrencyToJSONText), never through a double.
  friend constexpr bool operator==(Currency, Currency) = default;
};
// Exact; EInvalidCast on overflow.
Currency operator+(Currency A, Currency B);
Currency operator-(Currency A, Currency B);
Currency operator*(Currency A, int64_t B);
// Rounded to four decimals, half away from zero.
Currency operator/(Currency A, int64_t B);

// The data of a tkVariant value: only text variants occur.
struct OleVariant {
  std::string Text;
  friend bool operator==(const OleVariant&, const OleVariant&) = default;
};

enum class TFloatType { ftDouble, ftCurr };

struct TTypeInfo;
struct TInterfaceInfo;

struct TFieldInfo {
  std::string_view Name;
  const TTypeInfo* Type;
  void* (*Get)(void* ARecord);
};

// Data layout by kind: tkInteger int32_t, tkInt64 int64_t, tkFloat double or Currency,
// Boolean bool, text kinds std::string (UTF-8), tkVariant OleVariant, tkRecord a struct
// with Fields, tkDynArray std::vector of ElementType.
struct TTypeInfo {
  TTypeKind Kind = TTypeKind::tkUnknown;
  std::string_view Name;
  TFloatType FloatType = TFloatType::ftDouble;
  bool IsBoolean = false;
  std::vector<TFieldInfo> Fields;
  const TTypeInfo* ElementType = nullptr;
  const TInterfaceInfo* Interface = nullptr;
  // Sets the data to its zero value; null for kinds that are never read into.
  void (*Reset)(void* AData) = nullptr;
  size_t (*Length)(const void* AData) = nullptr;
  void (*SetLength)(void* AData, size_t ALength) = nullptr;
  void* (*Element)(void* AData, size_t AIndex) = nullptr;
};

// Description of T, or null when T has none. Specialise TTypeInfoProvider to describe a type.
template <class T, class = void>
struct TTypeInfoProvider {
  using Undescribed = void;  // marks this fallback
  static const TTypeInfo* Get() { return nullptr; }
};

// Whether T has a description. Record fields and array elements must: the converter walks
// them without a null check, so a missing one is a compile-time error instead.
template <class T>
inline constexpr bool HasTypeInfo = !requires { typename TTypeInfoProvider<std::remove_cv_t<T>>::Undescribed; };

template <class T>
const TTypeInfo* TypeInfoOf() {
  return TTypeInfoProvider<std::remove_cv_t<T>>::Get();
}

#define BANK_DECLARE_TYPE(T)                 \
  template <>                                \
  struct TTypeInfoProvider<T> {              \
    static const TTypeInfo* Get();           \
  };

BANK_DECLARE_TYPE(int32_t)
BANK_DECLARE_TYPE(int64_t)
BANK_DECLARE_TYPE(double)
BANK_DECLARE_TYPE(bool)
BANK_DECLARE_TYPE(Currency)
BANK_DECLARE_TYPE(std::string)
BANK_DECLARE_TYPE(OleVariant)

template <class T>
void ResetData(void* AData) {
  *static_cast<T*>(AData) = T{};
}

template <class E>
struct TTypeInfoProvider<std::vector<E>> {
  static_assert(!std::is_same_v<E, bool>, "std::vector<bool> has no addressable elements");
  static_assert(HasTypeInfo<E>, "array element type has no type description (BANK_DECLARE_TYPE)");
  static const TTypeInfo* Get() {
    static const TTypeInfo Info = [] {
      TTypeInfo ti;
      ti.Kind = TTypeKind::tkDynArray;
      ti.Name = "TArray";
      ti.ElementType = TypeInfoOf<E>();
      ti.Reset = &ResetData<std::vector<E>>;
      ti.Length = [](const void* d) { return static_cast<const std::vector<E>*>(d)->size(); };
      ti.SetLength = [](void* d, size_t n) {
        auto& v = *static_cast<std::vector<E>*>(d);
        v.clear();
        v.resize(n);
      };
      ti.Element = [](void* d, size_t i) -> void* { return &(*static_cast<std::vector<E>*>(d))[i]; };
      return ti;
    }();
    return &Info;
  }
};

// A non-owning view of one value with its description.
struct TValue {
  const TTypeInfo* TypeInfo = nullptr;
  void* Data = nullptr;

  template <class T>
  static TValue Of(T& AValue) {
    return TValue{TypeInfoOf<T>(), const_cast<std::remove_const_t<T>*>(&AValue)};
  }
};

// Field tables for records.
template <class>
struct TMemberTraits;
template <class C, class F>
struct TMemberTraits<F C::*> {
  using Class = C;
  using Field = F;
};

template <auto M>
TFieldInfo FieldOf(std::string_view AName) {
  using Tr = TMemberTraits<decltype(M)>;
  static_assert(HasTypeInfo<typename Tr::Field>, "record field type has no type description (BANK_DECLARE_TYPE)");
  return TFieldInfo{AName, TypeInfoOf<typename Tr::Field>(),
                    [](void* r) -> void* { return &(static_cast<typename Tr::Class*>(r)->*M); }};
}

template <class R>
TTypeInfo RecordTypeInfo(std::string_view AName, std::vector<TFieldInfo> AFields) {
  TTypeInfo ti;
  ti.Kind = TTypeKind::tkRecord;
  ti.Name = AName;
  ti.Fields = std::move(AFields);
  ti.Reset = &ResetData<R>;
  return ti;
}

#define BANK_FIELD_(R, F) ::bank::FieldOf<&R::F>(#F)
#define BANK_FE_1(R, F) BANK_FIELD_(R, F)
#define BANK_FE_2(R, F, ...) BANK_FIELD_(R, F), BANK_FE_1(R, __VA_ARGS__)
#define BANK_FE_3(R, F, ...) BANK_FIELD_(R, F), BANK_FE_2(R, __VA_ARGS__)
#define BANK_FE_4(R, F, ...) BANK_FIELD_(R, F), BANK_FE_3(R, __VA_ARGS__)
#define BANK_FE_5(R, F, ...) BANK_FIELD_(R, F), BANK_FE_4(R, __VA_ARGS__)
#define BANK_FE_6(R, F, ...) BANK_FIELD_(R, F), BANK_FE_5(R, __VA_ARGS__)
#define BANK_FE_7(R, F, ...) BANK_FIELD_(R, F), BANK_FE_6(R, __VA_ARGS__)
#define BANK_FE_8(R, F, ...) BANK_FIELD_(R, F), BANK_FE_7(R, __VA_ARGS__)
#define BANK_FE_9(R, F, ...) BANK_FIELD_(R, F), BANK_FE_8(R, __VA_ARGS__)
#define BANK_FE_10(R, F, ...) BANK_FIELD_(R, F), BANK_FE_9(R, __VA_ARGS__)
#define BANK_FE_11(R, F, ...) BANK_FIELD_(R, F), BANK_FE_10(R, __VA_ARGS__)
#define BANK_FE_12(R, F, ...) BANK_FIELD_(R, F), BANK_FE_11(R, __VA_ARGS__)
#define BANK_FE_PICK(_1, _2, _3, _4, _5, _6, _7, _8, _9, _10, _11, _12, N, ...) N
#define BANK_FE(R, ...)                                                                         \
  BANK_FE_PICK(__VA_ARGS__, BANK_FE_12, BANK_FE_11, BANK_FE_10, BANK_FE_9, BANK_FE_8, BANK_FE_7, \
               BANK_FE_6, BANK_FE_5, BANK_FE_4, BANK_FE_3, BANK_FE_2, BANK_FE_1, )              \
  (R, __VA_ARGS__)

// Defines the description of record R: its fields in declaration order, named as declared.
// Use at namespace scope of bank (the header declares it with BANK_DECLARE_TYPE).
#define BANK_RECORD(R, ...)                                                            \
  const TTypeInfo* TTypeInfoProvider<R>::Get() {                                       \
    static const TTypeInfo Info = ::bank::RecordTypeInfo<R>(#R, {BANK_FE(R, __VA_ARGS__)}); \
    return &Info;                                                                      \
  }

}  // namespace bank
