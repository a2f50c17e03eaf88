#pragma once
// The message of the Exception that f raises, for tests that pin message texts.
#include <functional>
#include <string>

#include "platform/rtl/exceptions.h"

inline constexpr const char* kNothingRaised = "(nothing raised)";

inline std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return kNothingRaised;
}
