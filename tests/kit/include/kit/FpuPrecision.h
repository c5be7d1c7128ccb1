#pragma once
// A host thread that runs the FPU at 24-bit precision, as some hosts set it. Only the i686
// build computes doubles on the x87 unit, where the precision applies; elsewhere the guard
// changes nothing (x86_64 does not support the precision control) and Reduced is false.
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

  // Whether this thread's arithmetic now loses what a float cannot hold: 16777217 * 1 is
  // 16777216 at 24 bits. A test that relies on the guard checks it took effect.
  static bool LosesFloatPrecision() {
    volatile double value = 16777217.0, one = 1.0;
    const double product = value * one;
    return product != 16777217.0;
  }

 private:
#if defined(_WIN32) && defined(__i386__)
  unsigned int FSaved;
#endif
};
