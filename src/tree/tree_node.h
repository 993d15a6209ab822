// The in-memory picture of one entry of the source folder: a fixed-size record carved
// from the NodeArena, linked into its directory's orders (primary, ISO 9660 and, for a
// Joliet tree, Joliet).
#pragma once

#include <cstdint>

namespace vellumcast {

struct StereoClipPair;

// What kind of entry a node is; decides how its data is placed and recorded.
// POSIX file types (the S_IFMT bits of st_mode), as Rock Ridge PX and the scan hold them.
constexpr uint32_t kPosixTypeMask = 0170000;
constexpr uint32_t kPosixFifo = 0010000;
constexpr uint32_t kPosixCharacterDevice = 0020000;
constexpr uint32_t kPosixDirectory = 0040000;
constexpr uint32_t kPosixBlockDevice = 0060000;
constexpr uint32_t kPosixRegular = 0100000;
constexpr uint32_t kPosixSymbolicLink = 0120000;
constexpr uint32_t kPosixSocket = 0140000;

enum TreeNodeKind : uint8_t {
  Ordinary = 0,           // every directory and plain file
  StereoBase = 1,         // base-view .m2ts clip of a stereoscopic pair
  StereoDependent = 2,    // dependent-view .m2ts clip; the interleaved run is placed at its turn
  StereoInterleaved = 3,  // a made-up .ssif entry: no data of its own, covers both clips
  StreamClip = 4,         // .m2ts clip of BDMV/STREAM without a stereoscopic plan
  ChecksumList = 5,       // the made-up SHA256SUMS: written after every other file's data
};

// What a file is to El Torito: most are nothing; the boot catalog is a made-up file whose
// sector the writer fills; a boot file whose image copy carries the boot information table
// differs from its source in bytes 8-63.
enum BootRole : uint8_t {
  kNoBootRole = 0,
  kBootCatalogFile = 1,
  kPatchedBootFile = 2,
};

// Bits of TreeNode::nameWarnings: the file systems whose name of the entry drew a warning.
enum NameWarning : uint8_t {
  kUdfNameWarned = 1,
  kJolietNameWarned = 2,
  kRockRidgeNameWarned = 4,
};

// A node carved from the arena starts all zero. Directory and file nodes share the
// record; the fields marked "dir" or "file" are meaningful only for that kind.
// Names are NUL-terminated UTF-16. A byte of a host file name that is not valid UTF-8
// is held as the lone surrogate U+DC80 + (byte - 0x80), so the name converts back to
// the exact bytes for opening the file (see platform/text.h); the disc identifiers
// show such a unit as U+FFFD.
struct TreeNode {
  TreeNode* nextSibling;     // next entry of the same directory, primary order
  TreeNode* isoNextSibling;  // next entry in ISO 9660 order (layout)
  TreeNode* firstChild;      // dir: first entry in primary order
  TreeNode* isoFirstChild;   // dir: first entry in ISO 9660 order (layout)
  TreeNode* parent;          // the root's parent is the root itself
  const char16_t* name;      // as the file system reported it; the root holds the source path
  int64_t modifiedTime;      // seconds since 1970-01-01 00:00:00 UTC
  const uint8_t* udfName;    // UDF file identifier bytes (layout)
  const uint8_t* isoName;    // ISO 9660 identifier, NUL-terminated (layout)
  uint8_t udfNameLength;
  uint8_t isoNameLength;  // the root is created with 2
  uint8_t isDirectory;
  TreeNodeKind kind;
  BootRole bootRole;
  StereoClipPair* stereoPair;  // StereoBase / StereoDependent: the pair record
  uint32_t uniqueId;           // UDF unique identifier (layout)
  uint32_t fileEntryLocation;  // UDF File Entry block (layout); the root is created with 2
  uint32_t descriptorSectors;  // stereo clips: File Entry plus Allocation Extent Descriptors

  // file: size in bytes; dir: udfDirLocation / udfDirLength (layout)
  uint64_t size;
  uint32_t udfDirLocation;
  uint32_t udfDirLength;
  // file: sectors of data; dir: files appended to this directory
  uint32_t sectorCount;
  uint32_t fileCount;
  // file: first data sector relative to the file data area (layout); dir: subdirectories appended
  uint32_t dataStart;
  uint32_t subdirCount;
  // file (stereo kinds): the pair's two clips
  TreeNode* dependentNode;
  TreeNode* baseNode;
  // dir: ISO 9660 extent, relative sector and byte size (layout)
  uint32_t isoDirLocation;
  uint32_t isoDirSize;
  uint16_t extentCount;      // file (stereo clips): UDF extents of the clip
  uint16_t pathTableNumber;  // dir: ISO 9660 path table directory number (layout)
  // dir: the name of the source folder read into it when that differs from `name` (a
  // DVD-Video folder listed as video_ts is recorded as VIDEO_TS); null: `name` itself.
  const char16_t* sourceName;
  // The Rock Ridge name when it differs from `name` (layout: numbered because another
  // entry of the folder has the name); null: `name` itself.
  const char16_t* rockRidgeName;

  // What the host reported besides the modification time (zero for entries the scan
  // makes up); Rock Ridge records them. posixMode is st_mode, links followed.
  int64_t accessTime;
  int64_t attributeTime;  // st_ctime: the last change of the entry's attributes
  uint32_t posixMode;
  uint32_t uid;
  uint32_t gid;

  // Joliet hierarchy (layout): the identifier as UTF-16 big-endian bytes, the entries
  // in Joliet order, and for a directory its extent, size and path table number.
  const uint8_t* jolietName;
  TreeNode* jolietFirstChild;
  TreeNode* jolietNextSibling;
  uint32_t jolietDirLocation;  // relative to the first Joliet directory sector
  uint32_t jolietDirSize;
  uint16_t jolietPathTableNumber;
  uint8_t jolietNameLength;  // bytes, two per unit
  // The names the build warned about (NameWarning bits, layout): there the image may
  // record a name other than the one the source name converts to, and only there.
  uint8_t nameWarnings;

  // Names in the image of one file of the source (hard links, counted once per file):
  // set on every name of a file the source links more than once, 0 otherwise.
  uint16_t hardLinks;
  // A file whose data this entry shares: the first name of a hard-linked file (its data
  // extent, and in UDF its one File Entry), or for a symbolic link (scanned with Rock
  // Ridge) the file in the image it leads to (its data extent only). Null: its own.
  TreeNode* sharedData;
  // A symbolic link scanned with Rock Ridge: its target text as the folder holds it
  // (host bytes, NUL-terminated). A device node: its device number (st_rdev).
  union {
    const char* linkTarget;
    uint64_t deviceNumber;
  };

  bool IsRoot() const { return parent == this; }
  uint32_t PosixType() const { return posixMode & kPosixTypeMask; }
  // Recorded as a symbolic link (only a scan with Rock Ridge keeps links).
  bool IsSymbolicLink() const { return PosixType() == kPosixSymbolicLink; }
  // A FIFO, socket or device node (only a scan with Rock Ridge keeps them).
  bool IsSpecialFile() const {
    const uint32_t type = PosixType();
    return type == kPosixFifo || type == kPosixSocket || type == kPosixCharacterDevice ||
           type == kPosixBlockDevice;
  }
  bool IsDevice() const {
    return PosixType() == kPosixCharacterDevice || PosixType() == kPosixBlockDevice;
  }
  // The node whose UDF File Entry and data stand for this one: the first name of a
  // hard-linked file, else the node itself.
  const TreeNode& EntryOwner() const {
    return sharedData && !IsSymbolicLink() ? *sharedData : *this;
  }
};

}  // namespace vellumcast
