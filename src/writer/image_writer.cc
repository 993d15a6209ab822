// Placeholder until the output pipeline is built.
#include "build/image_builder.h"

namespace vellumcast {

bool ImageBuilder::WriteImage(const char16_t*, WriterProgressFn, void*) { return true; }
bool ImageBuilder::WriteSectors(const uint8_t*, uint32_t) { return false; }
bool ImageBuilder::WriteZeroSectors(uint32_t) { return false; }

}  // namespace vellumcast
