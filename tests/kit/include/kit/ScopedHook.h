#pragma once
// A process-wide hook set for the life of a scope. The destructor puts the default back (the
// setter called with an empty value), so a test that fails half-way, by a failed ASSERT or an
// exception, cannot leave its fake in place for the tests after it:
//
//   TScopedHook dialog(RegisterSettingsDialog, [&](TBaseDevice&, const auto&, bool) { ... });
#include <type_traits>
#include <utility>

template <class TArg>
class TScopedHook {
public:
  using THook = std::remove_cvref_t<TArg>;

  TScopedHook(void (*Set)(TArg), THook Hook) : FSet(Set) { FSet(std::move(Hook)); }
  ~TScopedHook() { FSet(THook{}); }
  TScopedHook(const TScopedHook&) = delete;
  TScopedHook& operator=(const TScopedHook&) = delete;

private:
  void (*FSet)(TArg);
};
