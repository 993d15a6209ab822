// Placeholder until the label encodings are built.
#include <cstring>

#include "build/image_builder.h"

namespace vellumcast {

void ImageBuilder::SetVolumeLabel(const char16_t*) {}
void ImageBuilder::FitDString(uint8_t* field, uint32_t size) const { std::memset(field, 0, size); }

}  // namespace vellumcast
