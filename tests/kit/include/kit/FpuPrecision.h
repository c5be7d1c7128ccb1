#pragma once
// A host thread that runs the FPU at 24-bit precision, as some hosts set it. Only the i686
// build computes doubles on the x87 unit, where the precision applies; elsewhere the guard
// changes nothing (x86_64 does not support the precision control) and Reduced is false.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <optional>
#if defined(_WIN32) && defined(__i386__)
#include <float.h>
#endif

class TReducedFpuPrecision {
 public:
#if defined(_WIN32) && defined(__i386__)
  static constexpr bool Reduced = true;
  TReducedFpuPrecision() : FSaved(_controlfp(0, 0)) { _controlfp(_PC_24, _MCW_PC); }
  ~TReducedFpuPrecision() { _controlfp(FSaved, _MCW_PC); }
#else
  static constexpr bool Reduced = false;
  TReducedFpuPrecision() = default;
#endif
  TReducedFpuPrecision(const TReducedFpuPrecision&) = delete;
  TReducedFpuPrecision& operator=(const TReducedFpuPrecision&) = delete;

  // Whether this thread's arithmetic loses what a float cannot hold: 16777216 + 1 is 16777216
  // at 24 bits.
  static bool LosesFloatPrecision() {
    volatile double value = 16777216.0, one = 1.0, sum;
    sum = value + one;
    return sum != 16777217.0;
  }

  // Whether a double moved through the x87 (loaded and stored, as compiled code copies one)
  // keeps its value, as a real x87 does whatever the precision: qemu's x87 (7.2, the emulated
  // 32-bit machine of tools/vm32) rounds the load to the control word's precision, so there a
  // host's own double is changed before the driver sees it.
  static bool CopiesDoublesExactly() {
#if defined(_WIN32) && defined(__i386__)
    const double value = 200000.01;
    double copy = 0;
    __asm__ __volatile__("fldl %1\n\tfstpl %0" : "=m"(copy) : "m"(value));
    return std::memcmp(&copy, &value, sizeof value) == 0;  // not ==: that loads both alike
#else
    return true;
#endif
  }

  // Whether the thread's control word asks for 24 bits: what a test relies on the guard for.
  // Where the arithmetic does not follow it (qemu's x87, as in the emulated 32-bit machine of
  // tools/vm32, at least for some instructions), the test still runs and says so: its answers
  // are checked, but the reduced rounding is shown on a real x87 only.
  static bool Took() {
#if defined(_WIN32) && defined(__i386__)
    if ((_controlfp(0, 0) & _MCW_PC) != _PC_24) return false;
    if (!LosesFloatPrecision())
      std::printf("note: the control word asks for 24 bits, but this FPU's arithmetic keeps 53\n");
    return true;
#else
    return false;
#endif
  }

 private:
#if defined(_WIN32) && defined(__i386__)
  unsigned int FSaved;
#endif
};

// Runs Body(reduced) with the thread's FPU as it is, then (i686 only) again at 24 bits.
template <class TBody>
void AtEachFpuPrecision(TBody&& Body) {
  for (const bool reduced : {false, true}) {
    if (reduced && !TReducedFpuPrecision::Reduced) continue;
    SCOPED_TRACE(reduced ? "24-bit FPU" : "FPU as it is");
    std::optional<TReducedFpuPrecision> precision;
    if (reduced) {
      precision.emplace();
      ASSERT_TRUE(TReducedFpuPrecision::Took());
    }
    Body(reduced);
  }
}
