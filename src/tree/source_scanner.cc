// The source folder scan: the root node, the depth-first walk with its exclusions and
// counters, and the order of the DVD-Video and Blu-ray folder rules around it.
#include <fnmatch.h>
#include <limits.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tree/source_scanner.h"

#include "base/disc_constants.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/tree_warm_up.h"
#include "tree/dvd_video_folders.h"
#include "tree/source_entry.h"
#include "tree/stereo_stream_pass.h"

namespace vellumcast {
namespace {

constexpr uint32_t kScanArenaBlockSize = 8192;
constexpr uint8_t kRootIsoNameLength = 2;

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// A directory path for messages: without its trailing '/', except for "/" itself.
std::string DirectoryForMessage(const std::string& hostPath) {
  if (hostPath.size() > 1 && hostPath.back() == '/') return hostPath.substr(0, hostPath.size() - 1);
  return hostPath;
}

}  // namespace

bool SourceScanner::Run(const char16_t* sourcePath) {
  std::u16string source = sourcePath ? sourcePath : u"";
  if (source.empty() || source.back() != u'/') source += u'/';
  path = HostPath(source);
  rootPathLength = path.size();
  tree.excluded.clear();

  if (!tree.arena) {
    tree.arena = CreateArena(kScanArenaBlockSize);
    if (!tree.arena) return log.Fail("out of memory while reading the source folder");
  }
  const size_t nameBytes = 2 * source.size() + 2;
  auto* root =
      static_cast<TreeNode*>(ArenaAllocAligned(tree.arena, sizeof(TreeNode), alignof(TreeNode)));
  auto* name = root && nameBytes < tree.arena->blockSize
                   ? static_cast<char16_t*>(
                         ArenaAllocAligned(tree.arena, uint32_t(nameBytes), alignof(char16_t)))
                   : nullptr;
  if (name) std::memcpy(name, source.c_str(), nameBytes);
  if (!name) {
    return log.Fail("cannot hold the source path " + DirectoryForMessage(path) +
                    " in the source tree (too long or out of memory)");
  }
  root->isoNameLength = kRootIsoNameLength;
  root->isDirectory = 1;
  root->modifiedTime = settings.buildTime;
  root->name = name;
  root->parent = root;
  root->fileEntryLocation = kRootFileEntryBlock;
  tree.root = root;
  tree.dvdVideoMode = 0;

  FindTargetEntries();

  // Worker threads read the folder's directories and entry status ahead of the walk,
  // many requests at once; they end when the walk does.
  TreeWarmUp warmUp;
  if (settings.readAheadReaders > 0) warmUp.Start(path, settings.readAheadReaders);

  if (!ApplyDvdVideoFolders(*this)) return false;

  TreeNode* last = nullptr;
  if (tree.dvdVideoMode) {
    for (last = root->firstChild; last && last->nextSibling;) last = last->nextSibling;
  }
  if (!ScanDirectory(root, 1, last, nullptr, nullptr)) return false;
  if (!ApplyStreamPass(tree, log)) return false;
  ShareHardLinks(tree, hardLinkNames);
  ShareLinkTargets(tree, CanonicalHostPath(path) + "/", linksToFiles);
  linksToFiles.clear();
  return true;
}

bool SourceScanner::ScanDirectory(TreeNode* directory, uint32_t depth, TreeNode* last,
                                  const FindIterator* parent, const char* hostName) {
  if (log.StopRequested()) return log.Fail("the build was stopped");
  FindIterator listing;
  FindEntry entry;
  bool more =
      parent ? listing.FirstIn(*parent, hostName, entry) : listing.FirstHost(path.c_str(), entry);
  if (!more) {
    if (listing.error) WarnUnreadableDirectory(path, listing.error);
    return true;
  }
  FileIdentity self;
  bool identified = listing.Identity(self);
  if (identified) ancestors.push_back(self);

  bool ok = true;
  for (; more; more = listing.Next(entry)) {
    const char* entryName = entry.hostName;
    if (IsDotOrDotDot(entryName)) {
      // The source folder's own attributes; its time stays the build time.
      if (directory->IsRoot() && entryName[1] == '\0') {
        directory->accessTime = entry.lastAccessTime;
        directory->attributeTime = entry.creationTime;
        directory->posixMode = entry.mode;
        directory->uid = entry.uid;
        directory->gid = entry.gid;
      }
      continue;
    }
    if (Excluded(entry)) continue;
    if (settings.rockRidge && (entry.isSymbolicLink || entry.type == FindEntryType::Special)) {
      ok = AddLinkOrSpecial(directory, last, listing, entry, identified ? &self : nullptr);
    } else if (entry.type == FindEntryType::Directory) {
      ok = ScanSubdirectory(directory, depth, last, listing, entry);
    } else {
      ok = AddFileEntry(directory, last, entry, identified ? &self : nullptr);
    }
    if (!ok) break;
    if (tree.totalFileCount >= tree.fileLimit) break;
  }
  if (ok && listing.error) WarnUnreadableDirectory(path, listing.error);
  if (identified) ancestors.pop_back();
  return ok;
}

bool SourceScanner::ScanSubdirectory(TreeNode* directory, uint32_t depth, TreeNode*& last,
                                     const FindIterator& listing, const FindEntry& entry) {
  const char* entryName = entry.hostName;
  if (depth == 1 && tree.dvdVideoMode &&
      (EqualsIgnoringAsciiCase(entry.name, u"AUDIO_TS") ||
       EqualsIgnoringAsciiCase(entry.name, u"VIDEO_TS"))) {
    // Built by the DVD-Video rules; a second folder of the same name in another
    // letter case cannot be placed beside the made-up one.
    if (dvdFolderNames[0] != entryName && dvdFolderNames[1] != entryName) {
      log.Warn("leaving out " + EntryPath(entry) +
               ": another folder of this name is used for the DVD-Video structure");
    }
    return true;
  }
  bool loop = false;
  for (const FileIdentity& ancestor : ancestors)
    loop = loop || ancestor == FileIdentity{entry.device, entry.inode};
  if (loop) {
    log.Warn("skipping directory " + EntryPath(entry) +
             ": it leads back to a folder that contains it (symbolic link loop)");
    return true;
  }
  TreeNode* added = nullptr;
  AddResult result = AddChild(tree, log, directory, last, SourceEntryFrom(entry), &added);
  if (result == AddResult::OutOfMemory) return false;
  if (result != AddResult::Added) return true;
  const size_t mark = path.size();
  if (mark + std::strlen(entryName) + 1 >= PATH_MAX) {
    WarnUnreadableDirectory(EntryPath(entry), ENAMETOOLONG);
    return true;
  }
  path += entryName;
  path += '/';
  const bool ok = ScanDirectory(added, depth + 1, nullptr, &listing, entryName);
  path.resize(mark);
  return ok;
}

bool SourceScanner::AddFileEntry(TreeNode* directory, TreeNode*& last, const FindEntry& entry,
                                 const FileIdentity* self) {
  if (!AcceptFile(entry, self)) return true;
  if (path.size() + std::strlen(entry.hostName) >= PATH_MAX) {
    log.Warn("skipping " + EntryPath(entry) + ": " + std::strerror(ENAMETOOLONG));
    return true;
  }
  TreeNode* added = nullptr;
  if (AddChild(tree, log, directory, last, SourceEntryFrom(entry), &added) ==
      AddResult::OutOfMemory)
    return false;
  if (added && entry.links > 1) hardLinkNames.push_back({entry.device, entry.inode, added});
  return true;
}

void SourceScanner::FindTargetEntries() {
  targetEntries.clear();
  if (tree.targetPath.empty()) return;
  const std::string named = HostPath(tree.targetPath);
  const std::string destination = ImageDestination(named);
  for (const std::string& entryPath : {named, destination}) {
    size_t slash = entryPath.rfind('/');
    std::string folder = slash == std::string::npos ? "."
                         : slash == 0               ? "/"
                                                    : entryPath.substr(0, slash);
    TargetEntry entry;
    entry.name = slash == std::string::npos ? entryPath : entryPath.substr(slash + 1);
    if (entry.name.empty() || !PathIdentity(Utf8ToUtf16(folder).c_str(), entry.folder)) continue;
    if (targetEntries.empty() || targetEntries[0].folder != entry.folder ||
        targetEntries[0].name != entry.name) {
      targetEntries.push_back(entry);
    }
  }
}

bool SourceScanner::AcceptFile(const FindEntry& entry, const FileIdentity* directory) {
  // The image's own entries, compared by folder and name: a hard link to the old image
  // under another name keeps the old bytes after the image is renamed over it, and is
  // an ordinary file of the folder.
  if (IsImageEntry(entry, directory)) return false;
  switch (entry.type) {
    case FindEntryType::File: return true;
    case FindEntryType::Special:
      log.Warn("skipping " + EntryPath(entry) + ": not a regular file or directory");
      return false;
    case FindEntryType::DanglingLink:
      log.Warn("skipping " + EntryPath(entry) + ": dangling symbolic link");
      return false;
    case FindEntryType::Unreadable:
    case FindEntryType::Directory: break;
  }
  log.Warn("skipping " + EntryPath(entry) + ": " +
           std::strerror(entry.statError ? entry.statError : EIO));
  return false;
}

bool SourceScanner::Excluded(const FindEntry& entry) {
  if (tree.excludePatterns.empty()) return false;
  const std::string below = path.substr(rootPathLength) + entry.hostName;
  for (const std::string& pattern : tree.excludePatterns) {
    if (fnmatch(pattern.c_str(), entry.hostName, 0) == 0 ||
        fnmatch(pattern.c_str(), below.c_str(), FNM_PATHNAME) == 0) {
      tree.excluded.push_back(below);
      return true;
    }
  }
  return false;
}

bool SourceScanner::IsImageEntry(const FindEntry& entry, const FileIdentity* directory) {
  for (const TargetEntry& target : targetEntries) {
    if (!directory || *directory != target.folder) continue;
    if (entry.hostName == target.name) return true;
    if (IsTemporaryImageName(entry.hostName, target.name)) {
      log.Warn("leaving out " + EntryPath(entry) +
               ": a temporary file of an unfinished earlier build");
      return true;
    }
  }
  return false;
}

bool SourceScanner::AddLinkOrSpecial(TreeNode* directory, TreeNode*& last,
                                     const FindIterator& listing, const FindEntry& entry,
                                     const FileIdentity* self) {
  // A link text of more than this is left out: its SL entries and its UDF path
  // components must fit one continuation area and one File Entry.
  constexpr size_t kMaxLinkTargetBytes = 512;
  constexpr size_t kMaxLinkComponentUnits = 120;
  if (IsImageEntry(entry, self)) return true;
  SourceEntry e = SourceEntryFrom(entry);
  e.size = 0;
  e.isDirectory = 0;
  LinkStatus link;
  if (entry.isSymbolicLink) {
    int error = 0;
    if (!listing.ReadLink(entry.hostName, link, error)) {
      log.Warn("skipping " + EntryPath(entry) + ": " + std::strerror(error));
      return true;
    }
    size_t longest = 0;
    for (size_t from = 0; from <= link.target.size();) {
      size_t slash = link.target.find('/', from);
      if (slash == std::string::npos) slash = link.target.size();
      longest = std::max(longest, Utf8ToUtf16(link.target.substr(from, slash - from)).size());
      from = slash + 1;
    }
    if (link.target.empty() || link.target.size() > kMaxLinkTargetBytes ||
        longest > kMaxLinkComponentUnits) {
      log.Warn("skipping " + EntryPath(entry) + ": its link text is too long to record");
      return true;
    }
    e.modifiedTime = link.modifiedTime;
    e.accessTime = link.accessTime;
    e.attributeTime = link.changeTime;
    e.posixMode = link.mode;
    e.uid = link.uid;
    e.gid = link.gid;
    e.linkTarget = &link.target;
  } else {
    const uint32_t type = entry.mode & kPosixTypeMask;
    if (type == kPosixCharacterDevice || type == kPosixBlockDevice)
      e.deviceNumber = entry.deviceNumber;
  }
  TreeNode* added = nullptr;
  if (AddChild(tree, log, directory, last, e, &added) == AddResult::OutOfMemory) return false;
  if (added && entry.isSymbolicLink && entry.type == FindEntryType::File)
    linksToFiles.push_back({added, EntryPath(entry)});
  return true;
}

void SourceScanner::WarnUnreadableDirectory(const std::string& hostPath, int error) {
  log.Warn("cannot read directory " + DirectoryForMessage(hostPath) + ": " + std::strerror(error));
}

}  // namespace vellumcast
