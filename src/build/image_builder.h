// The record of one build, made of the records of its phases: the settings the driver
// fixes first, the source tree of the scan, the layout plan, and the one failure channel
// they all report to. Each phase lives with its own folder and only looks down; this
// record only ties them together in the driver's order.
#pragma once

#include <cstdint>
#include <string>

#include "base/diagnostics.h"
#include "base/image_settings.h"
#include "layout/layout_plan.h"
#include "tree/source_tree.h"
#include "writer/sector_sink.h"

namespace vellumcast {

// The label of an image that is given none.
constexpr char16_t kDefaultVolumeLabel[] = u"UNTITLED";

struct ImageBuilder {
  ImageSettings settings;  // file systems, identity, build time
  SourceTree tree;         // the scanned folder, named and placed by the layout
  LayoutPlan plan;         // where everything lies; read-only for the writer
  Diagnostics log;         // the first failure, warnings, stop requests

  // Initial values: build time from the system clock, label "UNTITLED".
  void Initialize();
  // A build time given by the user instead of the clock: dates are then recorded in UTC,
  // so that the image does not depend on the machine's time zone either.
  void FixBuildTime(int64_t time);

  // '*' followed by at most 22 bytes of `id`; an empty id leaves the field all zero.
  void SetImplementationId(const char* id);
  void SetApplicationId(const char* id);
  // UTF-16 label to the 128-byte dstring; an empty label keeps the current one.
  void SetVolumeLabel(const char16_t* label);

  // Phases; each returns false at a failure, which `log` records.
  [[nodiscard]] bool ScanSourceTree(const char16_t* sourcePath);
  [[nodiscard]] bool PlanLayout();
  [[nodiscard]] bool WriteImage(const char16_t* targetPath, WriterProgressFn progress,
                                void* progressContext);
};

}  // namespace vellumcast
