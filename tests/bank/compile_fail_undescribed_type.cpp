// Must not compile: ctest builds it once per case and expects the static_assert's message.
// A record field or an array element without a type description would otherwise be
// dereferenced as a null description by the converter.
#include <vector>

#include "uTypeInfo.h"

namespace {
struct TUndescribed {};
struct TRecord {
  TUndescribed Field;
};
}  // namespace

namespace bank {
BANK_DECLARE_TYPE(TRecord)
#if defined(CASE_FIELD)
BANK_RECORD(TRecord, Field)
#elif defined(CASE_ELEMENT)
const TTypeInfo* TTypeInfoProvider<TRecord>::Get() { return TypeInfoOf<std::vector<TUndescribed>>(); }
#endif
}  // namespace bank
