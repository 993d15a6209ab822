// The layout plan: where every ISO 9660 and UDF structure and every file's data lies in
// the image, in 2048-byte sectors. The layout makes it from the settings and the source
// tree (naming, ordering and placing the tree's nodes on the way); the writer reads it
// and emits the image from sector 0 upward exactly as planned.
#pragma once

#include <cstdint>
#include <string>

#include "base/diagnostics.h"
#include "base/image_settings.h"
#include "tree/source_tree.h"

namespace vellumcast {

struct LayoutPlan {
  int32_t volumeSectors = 0;  // the whole image
  int32_t fileDataSectors = 0;
  // ISO 9660: the primary hierarchy's path tables (type L, then type M) and directories,
  // each directory's Rock Ridge continuation areas right after its extent (counted in
  // isoDirectorySectors), then the Joliet hierarchy's.
  int32_t pathTableStart = 0;
  uint32_t pathTableBytes = 0;
  int32_t pathTableSectors = 0;
  int32_t isoDirectorySectors = 0;
  int32_t jolietPathTableStart = 0;
  uint32_t jolietPathTableBytes = 0;
  int32_t jolietPathTableSectors = 0;
  int32_t jolietDirectorySectors = 0;
  // UDF: the partition starts at dataBase; the file-system area (metadataBlocks blocks)
  // is at its start, file data fileDataOffset blocks in. UDF 2.50 adds the metadata
  // mirror's File Entry and the mirror itself after the file data.
  int32_t fileDataOffset = 0;
  int32_t dataBase = 0;
  int32_t partitionLength = 0;
  uint32_t metadataBlocks = 0;
  int32_t mirrorEntrySector = 0;
  int32_t mirrorStart = 0;
  // El Torito and the hybrid system area: the Boot Record follows the Primary Volume
  // Descriptor; the catalog is one sector of the file data (first of the area when it is
  // hidden, else where its made-up file was placed); a hybrid image's backup GPT entries
  // start the file data after it (their header is in the image's last sector). 0: none.
  int32_t bootRecordSector = 0;
  int32_t bootCatalogSector = 0;
  int32_t backupGptEntrySector = 0;
};

// What the layout works on: the settings to follow, the tree it names and places, the
// plan it fills and where a failure goes.
struct LayoutPlanner {
  const ImageSettings& settings;
  SourceTree& tree;
  LayoutPlan& plan;
  Diagnostics& log;
};

// Why `settings` ask for what only ISO 9660 records (Rock Ridge, Joliet, boot entries, a
// hybrid image) in an image without it; empty when they do not. The build job and the
// front end refuse such a request with this text before anything starts; PlanLayout
// refuses such settings with it too.
std::string IsoExtensionsRefused(const ImageSettings& settings);

// Names, orders and places every node of the tree and fills `plan`. False when the
// image cannot be laid out (`log` says why).
[[nodiscard]] bool PlanLayout(const ImageSettings& settings, SourceTree& tree, LayoutPlan& plan,
                              Diagnostics& log);

}  // namespace vellumcast
