// The one failure channel of a build and its way to the user: the first failure's text,
// warnings handed to the front end, and the question every phase asks between its
// steps, whether the build is to stop.
#pragma once

#include <string>

namespace vellumcast {

// A warning for the user (UTF-8 text without a line end); only the front end prints it.
using WarningFn = void (*)(const std::string& text, void* context);
// True once the build is to stop (a cancel request or a stop signal).
using StopFn = bool (*)(void* context);

struct Diagnostics {
  std::string error;  // the first failure, in lower case, naming the path or the structure
  WarningFn warning = nullptr;
  void* warningContext = nullptr;
  StopFn stopRequested = nullptr;
  void* stopContext = nullptr;

  // Records the first failure; returns false so that a phase can `return log.Fail(...)`.
  bool Fail(const std::string& message) {
    if (error.empty()) error = message;
    return false;
  }
  void Warn(const std::string& message) const {
    if (warning) warning(message, warningContext);
  }
  bool StopRequested() const { return stopRequested && stopRequested(stopContext); }
};

}  // namespace vellumcast
