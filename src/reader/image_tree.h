// What a walk of one file system of an image finds: its entries with their paths,
// sizes, extents and times, handed over one folder at a time or gathered into a plain
// list, the problems met on the way, and the limits that keep a walk of damaged or
// hostile bytes finite.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reader/image_source.h"
#include "reader/read_report.h"

namespace vellumcast {

// One run of a file's bytes in the image.
struct ImageExtent {
  uint64_t sector = 0;  // first image sector (unused when `zero`)
  uint64_t bytes = 0;   // bytes of the file in this run
  bool zero = false;    // allocated or unallocated but not recorded: reads as zeros
};

// What an entry's records say besides its name, size and bytes: the fields readers use
// for its kind, visibility, permissions, owner and times. Each file system fills its part.
struct ImageRecordFields {
  uint8_t flags = 0;         // ISO 9660 file flags of the (last) record; UDF FID characteristics
  bool identifierOk = true;  // ISO 9660: a file's version is ";1" and the padding byte is zero
  bool posix = false;        // Rock Ridge PX present, or a UDF File Entry read
  uint32_t permissions = 0;  // PX: st_mode (type and permission bits); UDF: ECMA-167 4/14.9.5
  uint32_t links = 0;        // PX links; UDF file link count
  uint32_t uid = 0;
  uint32_t gid = 0;
  uint8_t fileType = 0;  // UDF ICB file type (ECMA-167 4/14.6.6)
  bool timed = false;    // Rock Ridge TF with a modification time, or a UDF File Entry
  int64_t micros = 0;    // that modification time, microseconds since 1970 UTC
};

struct ImageEntry {
  std::string name;  // UTF-8, its name in its folder
  std::string path;  // in an ImageTree only: UTF-8, '/'-separated, below the root, no leading '/'
  bool directory = false;
  bool realTime = false;             // UDF file type 249 (ECMA-167 4/14.6.6)
  uint64_t size = 0;                 // bytes of a file; the directory's own bytes for a directory
  std::vector<ImageExtent> extents;  // a file's bytes in order, together exactly `size`
  std::string embedded;              // a UDF file whose bytes sit in its File Entry (no extents)
  int64_t modified = 0;              // seconds since 1970-01-01 UTC
  uint32_t folder = 0;               // a directory: the number its own folder is handed over with
  ImageRecordFields fields = {};
  // What Rock Ridge (PX, SL) or a UDF File Entry records of a file beyond its bytes:
  uint32_t links = 0;           // the link count; 0 where the tree records none
  uint32_t posixType = 0;       // the POSIX file type (S_IFMT bits); 0 where the tree records none
  std::string linkTarget = {};  // a symbolic link's text (posixType 0120000)
};

// One folder of a walk, handed over once its records are read: its entries, files and
// folders, each with its name only (the folder holds the one path, so that a deep
// folder of many entries does not hold its path once per entry). Folders come parents
// before children, each once; a folder whose records cannot be read, or that lies past
// a limit, is not handed over (its entry in its parent's list stands alone).
struct ImageFolder {
  std::string path;     // "" for the root
  uint32_t number = 0;  // 0: the root; otherwise the `folder` of its entry in the parent's list
  std::vector<ImageEntry> entries;
};

// `name` below `folder` ("" is the root): "a/b" and "c" give "a/b/c".
std::string JoinImagePath(const std::string& folder, const std::string& name);

// Receives each folder of a walk; it may take the folder's entries.
using ImageFolderFn = void (*)(ImageFolder& folder, void* context);

// The visitor of a whole-tree read: appends the folder's entries, each with its whole
// path, to the ImageTree that `tree` points to.
void GatherFolder(ImageFolder& folder, void* tree);

struct ImageTree {
  std::string volumeId;
  uint16_t udfRevision = 0;         // UDF: the domain revision (0x0102, 0x0250); 0 for ISO 9660
  uint32_t files = 0;               // file entries of the tree
  uint32_t directories = 0;         // directory entries, the root included
  std::vector<ImageEntry> entries;  // the root is not listed; parents before children
  ImageRecordFields root = {};      // the root's own: its "." record (Rock Ridge) or File Entry
  int64_t rootModified = 0;         // the root's recording time (ISO 9660 "." record, UDF entry)
};

// Bounds of one walk, so that any image, however damaged or hostile, is read in memory
// and time bounded by what the walk needs now, not by depth x directory size, path
// length x entries or the links of a chain. An image that needs more is reported (a
// named problem, so never taken as sound), not followed.
struct ReadLimits {
  uint32_t depth = 256;                 // directory levels below the root
  uint32_t chain = 4096;                // links of one chain (extents, pointers, sequences)
  uint32_t entries = 4u << 20;          // entries of one tree
  uint64_t directoryBytes = 64u << 20;  // bytes of one directory
  uint32_t nameBytes = 1024;            // UTF-8 bytes of one name
  uint32_t extents = 2u << 20;          // extents of all the files one walk hands over
  // Memory the walk holds at once: the entries of the folder being read and the
  // folders still to be read below the folders on the way down.
  uint64_t heldBytes = 96u << 20;
};

// What an entry holds in memory, for the walk's bound on it.
uint64_t HeldBytes(const ImageEntry& entry);

// Bytes [offset, offset + n) of `entry` through its extents (or its embedded bytes);
// false when the range passes the entry's size or the image cannot be read.
[[nodiscard]] bool ReadEntryBytes(ImageSource& image, const ImageEntry& entry, uint64_t offset,
                                  uint8_t* out, size_t n);
// Where a read of a file's extents may begin: extent `index`, which starts at byte `start`
// of the file. Reads in the file's order through one cursor pass each extent once, rather
// than walking from the first extent every time.
struct ExtentCursor {
  size_t index = 0;
  uint64_t start = 0;
};

// The same through `count` extents that together hold a file's bytes; with `cursor`,
// from the cursor when it lies before `offset`, left at the extent read last.
[[nodiscard]] bool ReadExtentBytes(ImageSource& image, const ImageExtent* extents, size_t count,
                                   uint64_t offset, uint8_t* out, size_t n,
                                   ExtentCursor* cursor = nullptr);

}  // namespace vellumcast
