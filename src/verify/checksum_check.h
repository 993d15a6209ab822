// The check of an image by itself (no folder): every file system's structures read as a
// comparison reads them, every file's bytes read once in one forward pass over the image
// and hashed with SHA-256, and the digests checked against the image's own checksum
// list (SHA256SUMS at the root, the text `sha256sum -c` reads).
#pragma once

#include <cstdint>

#include "reader/image_source.h"
#include "verify/image_check.h"

namespace vellumcast {

// The list's name in a tree that keeps names, and in a plain ISO 9660 tree (8 characters
// of the name, no extension).
inline constexpr char kChecksumListFile[] = "SHA256SUMS";
inline constexpr char kChecksumListPlainFile[] = "SHA256SU";

// How the check went besides its differences.
struct SumCheck {
  // Set by the caller: structure problems are reported (a comparison has reported them).
  bool reportStructures = true;
  bool listFound = false;         // the image has a checksum list (read from `listTree`)
  const char* listTree = "";      // "UDF", "Rock Ridge", "Joliet", "ISO 9660"
  uint32_t unreadableSectors = 0;  // sectors that could not be read, each named
  // A file system with structure damage; its entries are still checked as far as read.
  bool damaged = false;
};

// Checks every file system `image` carries into `outcome`: structure problems, files
// that cannot be read (each with its first unreadable sector; the check goes on with
// the next file), and with a checksum list, every file whose digest differs, is not
// listed, or is listed but missing. `outcome.files` and `bytes` count the files of the
// tree the list names. False only when stopped by `progress` or out of memory.
[[nodiscard]] bool CheckImageChecksums(ImageSource& image, CheckOutcome& outcome, SumCheck& sums,
                                       CheckProgressFn progress = nullptr,
                                       void* context = nullptr);

// Whether the root of the tree a checksum list is named in (the first of UDF, Rock Ridge,
// Joliet and ISO 9660 the image has) holds one.
bool HasChecksumList(ImageSource& image);

}  // namespace vellumcast
