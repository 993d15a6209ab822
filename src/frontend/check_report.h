// The console side of -verify and -compare: the combinations refused before anything
// is written, and the printed outcome of a check.
#pragma once

#include <cstdio>
#include <string>

#include "frontend/command_line.h"
#include "verify/image_check.h"

namespace vellumcast {

// The error line for a command line whose -verify or -compare cannot be carried out
// (-verify with "-o -", -size or a target that cannot be read back; -compare with a target, -size
// or -verify, or without an image); null when there is none.
const char* RefusedCheck(const CommandLine& line, bool streaming);

// Prints the outcome: "Verified: ..." on `console` (null: nothing) when everything matches, else
// each difference as an "Error: " line on standard error and what became of the image. Returns the
// exit status: 0 when everything matches, 1 otherwise.
int PrintCheckOutcome(const CheckOutcome& outcome, FILE* console, const std::string& image,
                      bool verifying);

}  // namespace vellumcast
