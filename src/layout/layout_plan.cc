// Placeholder until the layout plan is built.
#include "build/image_builder.h"

namespace vellumcast {

bool ImageBuilder::PlanLayout() { return true; }

}  // namespace vellumcast
