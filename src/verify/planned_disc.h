// What a planned image must hold, in the terms a reader of the image sees: every entry
// under its path in each file system (ISO 9660 identifiers as a reader shows them,
// UDF full names), and where the bytes of every file come from in the source folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellumcast {

struct TreeNode;

// Bytes [offset, offset + bytes) of one source file; past the file's end they read as
// zeros when `zeroFill` (a clip's last sector in an interleaved run), else the file is
// short.
struct SourcePiece {
  std::string hostPath;  // the file's path for the system
  uint64_t offset = 0;
  uint64_t bytes = 0;
  bool zeroFill = false;
};

struct PlannedEntry {
  std::string isoPath;  // UTF-8, '/'-separated below the root; empty: not in ISO 9660
  std::string udfPath;  // likewise in UDF
  std::string display;  // the source path below the folder, for messages
  bool directory = false;
  uint64_t size = 0;                // a file's bytes in the image
  std::vector<SourcePiece> pieces;  // a file's bytes in order, together exactly `size`
};

// How the plan names its entries and which file systems it has.
struct DiscNaming {
  bool iso9660 = false;
  bool udf = false;
  uint16_t udfRevision = 0;
  bool eightBitUdfNames = false;  // DVD-Video mode: UDF identifiers in 8-bit characters
};

struct PlannedDisc {
  DiscNaming naming;
  std::vector<PlannedEntry> entries;  // parents before children; the root is not listed
  uint32_t files = 0;
  uint64_t fileBytes = 0;
};

// Lists every entry below `root` (a named and laid-out tree whose root's name is the
// source folder's path ending in '/') with its image paths and source pieces.
void PlanDisc(const TreeNode& root, const DiscNaming& naming, PlannedDisc& disc);

// The text a reader shows for an ISO 9660 identifier: a file's version (";1") and a
// final '.' dropped, 8-bit characters as UTF-8.
std::string ShownIsoName(const uint8_t* identifier, size_t length, bool directory);

}  // namespace vellumcast
