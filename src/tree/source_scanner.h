// The walk over the source folder that builds the source tree: the scan state shared by
// the ordinary walk (source_scanner.cc) and the DVD-Video folders (dvd_video_folders.cc,
// which reads through it); the Blu-ray stream pass runs after it (stereo_stream_pass.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/diagnostics.h"
#include "base/image_settings.h"
#include "platform/find_iterator.h"
#include "tree/link_pass.h"
#include "tree/source_tree.h"
#include "tree/tree_node.h"

namespace vellumcast {

struct SourceScanner {
  SourceScanner(SourceTree& t, const ImageSettings& s, Diagnostics& l)
      : tree(t), settings(s), log(l) {}

  SourceTree& tree;
  const ImageSettings& settings;
  Diagnostics& log;
  std::string path;                     // host bytes of the directory being listed, ending in '/'
  std::vector<FileIdentity> ancestors;  // the directories being listed, root first
  // The directory entries the image takes: the target as named and, when that is a
  // symbolic link, the file the link leads to (the one the finished image replaces).
  struct TargetEntry {
    FileIdentity folder;  // the folder holding the entry
    std::string name;     // host bytes of the entry's name
  };
  std::vector<TargetEntry> targetEntries;
  std::string dvdFolderNames[2];            // source folders read into AUDIO_TS and VIDEO_TS
  std::vector<HardLinkName> hardLinkNames;  // files with more than one name on the host
  std::vector<LinkToFile> linksToFiles;     // symbolic links kept with Rock Ridge, to files
  size_t rootPathLength = 0;                // bytes of the source folder's own path in `path`

  // The whole scan; false when the build must stop (log.Fail was called).
  [[nodiscard]] bool Run(const char16_t* sourcePath);

  // Appends the entries of the directory `path` names under `directory`, depth first.
  // `parent` and `hostName` open it relative to its parent's listing; without a parent
  // `path` is opened. False only when the build must stop.
  [[nodiscard]] bool ScanDirectory(TreeNode* directory, uint32_t depth, TreeNode* last,
                                   const FindIterator* parent, const char* hostName);
  // A subdirectory of `directory` (at `depth`) that the listing met: left out by the
  // DVD-Video rules or as a loop, else added and scanned; false when the scan must stop.
  [[nodiscard]] bool ScanSubdirectory(TreeNode* directory, uint32_t depth, TreeNode*& last,
                                      const FindIterator& listing, const FindEntry& entry);
  // A file of `directory` (whose identity is `self`, null when unknown); false when the
  // scan must stop.
  [[nodiscard]] bool AddFileEntry(TreeNode* directory, TreeNode*& last, const FindEntry& entry,
                                  const FileIdentity* self);

  // Fills targetEntries from tree.targetPath, before the walk.
  void FindTargetEntries();
  // Whether a listed non-directory entry may go into the image: special files, dangling
  // links, unreadable entries, the target's own entries and temporary files of an
  // earlier build of it are left out (with a warning for all but the target's entries).
  // `directory`: the identity of the folder being listed, null when unknown.
  bool AcceptFile(const FindEntry& entry, const FileIdentity* directory);
  // Whether tree.excludePatterns leave out an entry of the directory being listed (then
  // it is recorded in tree.excluded).
  bool Excluded(const FindEntry& entry);
  void WarnUnreadableDirectory(const std::string& hostPath, int error);
  // With Rock Ridge: a symbolic link or a FIFO, socket or device node is recorded as
  // itself. Returns false only when the build must stop.
  [[nodiscard]] bool AddLinkOrSpecial(TreeNode* directory, TreeNode*& last,
                                      const FindIterator& listing, const FindEntry& entry,
                                      const FileIdentity* directoryIdentity);
  // The image's own entries (and temporary files of an earlier build of it, with a
  // warning), by folder identity and name.
  bool IsImageEntry(const FindEntry& entry, const FileIdentity* directory);
  // The path of an entry of the directory being listed, for messages.
  std::string EntryPath(const FindEntry& entry) const { return path + entry.hostName; }
};

}  // namespace vellumcast
