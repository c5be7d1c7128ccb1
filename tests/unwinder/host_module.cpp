// A module of the host's own, built as MinGW programs and their plug-ins commonly are: with
// the shared unwinder, libgcc_s_dw2-1.dll, which loading this module brings into the process.
#include <stdexcept>

namespace {

volatile int GFail = 1;  // read at run time: the throw cannot be folded away

[[gnu::noinline]] void Fail() {
  if (GFail != 0) throw std::runtime_error("the host's own failure");
}

}  // namespace

// 1 when an exception thrown here was caught here, as the host's code expects.
extern "C" __declspec(dllexport) int HostThrowAndCatch() {
  try {
    Fail();
  } catch (const std::runtime_error&) {
    return 1;
  }
  return 0;
}
