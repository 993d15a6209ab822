// Placeholder until the Blu-ray analysis is built.
#include "bluray/bdmv_analysis.h"

namespace vellumcast {

bool AnalyzeBdmvFolder(const char16_t*, StereoPlan&) { return false; }

}  // namespace vellumcast
