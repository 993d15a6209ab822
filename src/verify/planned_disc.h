// What a planned image must hold, in the terms a reader of the image sees: every entry
// under its name in each file system (ISO 9660 identifiers as a reader shows them, UDF
// full names), the label in every field that carries it, and where the bytes of every
// file come from in the source folder. Names, label and the bytes of an interleaved file
// are the verifier's own reading of the rules (expected_names.h, planned_label.h), never
// the layout's or the writer's results; only a name the build warned about is taken as the
// warning gave it. The plan refers to the scanned tree, which must stay alive while the
// plan is used.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "verify/boot_check.h"
#include "verify/record_rules.h"

namespace vellumcast {

struct TreeNode;
struct StereoClipPair;

// Bytes [offset, offset + bytes) of one source file; past the file's end they read as
// zeros when `zeroFill` (a clip's last sector in an interleaved run), else the file is
// short.
struct SourcePiece {
  std::string hostPath;  // the file's path for the system
  uint64_t offset = 0;
  uint64_t bytes = 0;
  bool zeroFill = false;
  // Bytes of the image made by the writer, not copied from a file (the boot catalog, the
  // boot information table): not compared here; the boot check reads them.
  bool unchecked = false;
};

// One entry, small: its names are made from the node when they are needed.
struct PlannedEntry {
  uint32_t parent = 0;  // index + 1 of the entry's folder in the plan; 0: the root
  bool directory = false;
  bool inIso = false;     // recorded in ISO 9660
  bool inUdf = false;     // recorded in UDF
  bool inJoliet = false;  // recorded in the Joliet tree
  uint64_t size = 0;      // a file's bytes in the image
  const TreeNode* node = nullptr;
};

// How the plan names its entries and which file systems it has.
struct DiscNaming {
  bool iso9660 = false;
  bool udf = false;
  uint16_t udfRevision = 0;       // 0: any revision the reader can read
  bool eightBitUdfNames = false;  // DVD-Video mode: UDF identifiers in 8-bit characters
  bool rockRidge = false;         // the ISO 9660 tree carries Rock Ridge names
  bool joliet = false;            // a Joliet tree beside it
  // The label as given (UTF-16 units, at most 255); empty: take it from the image and
  // check that every field carries it.
  std::u16string label;
  bool written = false;  // the image was just written by this build (-verify)
};

// The names of one of the image's trees.
enum PlannedNames : uint8_t {
  kPlannedIsoNames,
  kPlannedUdfNames,
  kPlannedRockRidgeNames,
  kPlannedJolietNames
};

struct PlannedDisc {
  DiscNaming naming;
  std::vector<PlannedEntry> entries;  // parents before children; the root is not listed
  uint32_t files = 0;
  uint64_t fileBytes = 0;
  BootExpectation boot;  // the El Torito and hybrid structures the image must have
  MetadataRules metadata;  // how the build records the entries' times and attributes
  std::vector<std::string> isoNames;  // per entry: its ISO 9660 name as shown (ISO 9660 only)

  // The entry's name in ISO 9660, UDF, Rock Ridge or Joliet as a reader shows it (UTF-8); empty
  // when it is not in that file system.
  std::string NameOf(uint32_t index, PlannedNames names) const;
  // Its path there: the names from the root joined by '/'; empty when it is not there.
  std::string PathOf(uint32_t index, PlannedNames names) const;
};

// Lists every entry below `root` (a scanned tree whose root's name is the source folder's
// path ending in '/'; the build's warnings about names marked on its nodes).
void PlanDisc(const TreeNode& root, const DiscNaming& naming, PlannedDisc& disc);

// The bytes of a planned file in order: the file itself, or for an interleaved (.ssif)
// entry the interleave of its two clips (InterleavedPieces).
void SourcePiecesOf(const TreeNode& node, std::vector<SourcePiece>& pieces);

// The node's source file as the system names it.
std::string SourceHostPath(const TreeNode& node);
// One piece of an interleaved (.ssif) file: `bytes` of one view's clip from `offset`.
struct InterleavedPiece {
  bool dependentView = false;
  uint64_t offset = 0;
  uint64_t bytes = 0;
};
// The pieces of the .ssif file of a clip pair, made from the extents of its clip
// information by the verifier's own statement of the interleave.
std::vector<InterleavedPiece> InterleavedPieces(const StereoClipPair& pair);

}  // namespace vellumcast
