// The image writer: emits every sector of a laid-out image from sector 0 upward, in the
// sector map of its file systems (ECMA-119 6.2 system area and volume descriptors from
// sector 16; ECMA-167 2/8.3 recognition, 3/8.4.2.1 anchors), checking the plan at every
// boundary.
#pragma once

#include <cstdint>
#include <string>

#include "base/diagnostics.h"
#include "base/image_settings.h"
#include "layout/layout_plan.h"
#include "tree/source_tree.h"
#include "writer/sector_sink.h"

namespace vellumcast {

struct OutputContext;

// What every structure writer reads (the settings, the tree and the plan, none of which
// it can change) and where it puts its sectors and its failures.
struct ImageEmitter {
  const ImageSettings& settings;
  const SourceTree& tree;
  const LayoutPlan& plan;
  SectorSink& sink;
  Diagnostics& log;
};

// Records that `structure` ("the UDF file-system area", "the ISO 9660 path table", ...)
// does not come out as the layout planned it; returns false.
[[nodiscard]] bool Mismatch(const ImageEmitter& emitter, const std::string& structure);

// Writes the image to `targetPath` ("-": standard output) through a temporary file that
// replaces the target only when the image is complete. False when the build is to fail
// (`log` says why); nothing is then left at the target's place.
[[nodiscard]] bool WriteImage(const ImageSettings& settings, const SourceTree& tree,
                              const LayoutPlan& plan, Diagnostics& log, const char16_t* targetPath,
                              WriterProgressFn progress, void* progressContext);

// Writes the whole image through `out`; false when the build is to fail (the log says
// why, unless the sink failed).
[[nodiscard]] bool EmitImage(ImageEmitter& emitter, OutputContext& out);

}  // namespace vellumcast
