// Writes the checksum list file: the text of `sha256sum` for every file of the image
// (FIPS 180-4 digests), in the sectors the layout placed after all other file data.
#include "writer/checksum_list_file.h"

#include <cstring>
#include <string>

#include "base/disc_constants.h"
#include "layout/checksum_list.h"
#include "layout/layout_rules.h"
#include "writer/data_digests.h"
#include "writer/output_pipeline.h"
#include "writer/sector_emit.h"

namespace vellumcast {

bool EmitChecksumList(OutputContext& out) {
  ImageEmitter& emitter = *out.emitter;
  const TreeNode& list = *emitter.tree.checksumList;
  if (!out.digests) return Mismatch(emitter, "the checksum list (no digests were taken)");
  std::string text;
  text.reserve(size_t(list.size));
  std::string missing;
  ForEachListedFile(emitter.settings, emitter.tree,
                    [&](const TreeNode& node, const std::string& path) {
                      Sha256Digest digest{};
                      if (!out.digests->Of(node.EntryOwner(), digest) && missing.empty())
                        missing = path;
                      text += ChecksumLine(Sha256Hex(digest), path);
                    });
  if (!missing.empty()) {
    return emitter.log.Fail("internal error: no digest was taken of " + missing +
                            " for the checksum list");
  }
  const int64_t planned =
      int64_t(emitter.plan.dataBase) + emitter.plan.fileDataOffset + int64_t(list.dataStart);
  if (text.size() != list.size || emitter.sink.sectorsWritten != planned) {
    return Mismatch(emitter, "the checksum list");
  }
  if (list.sectorCount == 0) return true;
  return EmitFilledSectors(emitter, list.sectorCount, [&](uint8_t* sectors) {
    std::memcpy(sectors, text.data(), text.size());
  });
}

}  // namespace vellumcast
