#pragma once
// Shared by the bank tests.
#include <string>

#include "uBankExceptions.h"

// Runs AFn and returns "ClassName: message" of the bank exception it raises.
template <class F>
std::string Failure(F&& AFn) {
  try {
    AFn();
  } catch (const bank::Exception& e) {
    return std::string(e.ClassName()) + ": " + e.what();
  }
  return "no exception";
}
