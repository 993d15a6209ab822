// The writer's view of a builder's records, for tests that build one structure at a time
// without the output pipeline.
#pragma once

#include "build/image_builder.h"
#include "writer/image_writer.h"

namespace vellumcast::test {

struct WriterView {
  SectorSink sink;
  ImageEmitter emitter;
  explicit WriterView(ImageBuilder& b) : emitter{b.settings, b.tree, b.plan, sink, b.log} {}
  operator const ImageEmitter&() const { return emitter; }
};

}  // namespace vellumcast::test
