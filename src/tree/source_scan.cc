// The source folder scan: the root node, the depth-first walk with its exclusions and
// counters, and the order of the DVD-Video and Blu-ray folder rules around it.
#include <limits.h>

#include <cerrno>
#include <cstring>

#include "build/image_builder.h"
#include "layout/disc_constants.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/tree_warm_up.h"
#include "tree/source_entry.h"
#include "tree/source_scanner.h"

namespace vellumcast {
namespace {

constexpr uint32_t kScanArenaBlockSize = 8192;
constexpr uint8_t kRootIsoNameLength = 2;
// The image's own temporary file beside the target: "<target>.vellumcast-tmp-XXXXXX".
constexpr const char* kTemporarySuffix = ".vellumcast-tmp";

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

bool NameEquals(const char16_t* name, const char16_t* wanted) {
  while (*name && *name == *wanted) {
    ++name;
    ++wanted;
  }
  return *name == 0 && *wanted == 0;
}

// A directory path for messages: without its trailing '/', except for "/" itself.
std::string DirectoryForMessage(const std::string& hostPath) {
  if (hostPath.size() > 1 && hostPath.back() == '/') return hostPath.substr(0, hostPath.size() - 1);
  return hostPath;
}

}  // namespace

bool ImageBuilder::ScanSourceTree(const char16_t* sourcePath) {
  SourceScanner scanner(*this);
  return scanner.Run(sourcePath);
}

bool SourceScanner::Run(const char16_t* sourcePath) {
  std::u16string source = sourcePath ? sourcePath : u"";
  if (source.empty() || source.back() != u'/') source += u'/';
  path = HostPath(source);

  if (!builder.arena) {
    builder.arena = CreateArena(kScanArenaBlockSize);
    if (!builder.arena) return builder.Fail("out of memory while reading the source folder");
  }
  const size_t nameBytes = 2 * source.size() + 2;
  auto* root = static_cast<TreeNode*>(ArenaAllocAligned(builder.arena, sizeof(TreeNode), alignof(TreeNode)));
  auto* name = root && nameBytes < builder.arena->blockSize
                   ? static_cast<char16_t*>(ArenaAllocAligned(builder.arena, uint32_t(nameBytes), alignof(char16_t)))
                   : nullptr;
  if (name) std::memcpy(name, source.c_str(), nameBytes);
  if (!name) {
    return builder.Fail("cannot hold the source path " + DirectoryForMessage(path) +
                        " in the source tree (too long or out of memory)");
  }
  root->isoNameLength = kRootIsoNameLength;
  root->isDirectory = 1;
  root->modifiedTime = builder.buildTime;
  root->name = name;
  root->parent = root;
  root->fileEntryLocation = kRootFileEntryBlock;
  builder.root = root;
  builder.dvdVideoMode = 0;

  // The image file may be written inside the source folder: find it by identity, and
  // its (future) name and temporary names by name within its folder.
  if (!builder.targetPath.empty()) {
    targetExists = PathIdentity(builder.targetPath.c_str(), target);
    std::u16string folder = u".";
    std::u16string file = builder.targetPath;
    size_t slash = builder.targetPath.rfind(u'/');
    if (slash != std::u16string::npos) {
      folder = slash == 0 ? u"/" : builder.targetPath.substr(0, slash);
      file = builder.targetPath.substr(slash + 1);
    }
    targetName = HostPath(file);
    targetDirectoryExists = !targetName.empty() && PathIdentity(folder.c_str(), targetDirectory);
  }

  // Worker threads read the folder's directories and entry status ahead of the walk,
  // many requests at once; they end when the walk does.
  TreeWarmUp warmUp;
  if (builder.readAheadReaders > 0) warmUp.Start(path, builder.readAheadReaders);

  if (!ApplyDvdVideoFolders()) return false;

  TreeNode* last = nullptr;
  if (builder.dvdVideoMode) {
    for (last = root->firstChild; last && last->nextSibling;) last = last->nextSibling;
  }
  if (!ScanDirectory(root, 1, last, nullptr, nullptr)) return false;
  return ApplyStreamPass(builder, sourceSsifSkipped);
}

bool SourceScanner::ScanDirectory(TreeNode* directory, uint32_t depth, TreeNode* last,
                                  const FindIterator* parent, const char* hostName) {
  FindIterator listing;
  FindEntry entry;
  bool more = parent ? listing.FirstIn(*parent, hostName, entry) : listing.FirstHost(path.c_str(), entry);
  if (!more) {
    if (listing.error) WarnUnreadableDirectory(path, listing.error);
    return true;
  }
  FileIdentity self;
  bool identified = listing.Identity(self);
  if (identified) ancestors.push_back(self);
  bool inTargetDirectory = identified && targetDirectoryExists && self == targetDirectory;

  const size_t mark = path.size();
  bool ok = true;
  for (; more; more = listing.Next(entry)) {
    const char* entryName = entry.hostName;
    if (IsDotOrDotDot(entryName)) continue;
    if (entry.type == FindEntryType::Directory) {
      if (depth == 1 && builder.dvdVideoMode &&
          (EqualsIgnoringAsciiCase(entry.name, u"AUDIO_TS") || EqualsIgnoringAsciiCase(entry.name, u"VIDEO_TS"))) {
        // Built by the DVD-Video rules; a second folder of the same name in another
        // letter case cannot be placed beside the made-up one.
        if (dvdFolderNames[0] != entryName && dvdFolderNames[1] != entryName) {
          builder.Warn("leaving out " + EntryPath(entry) +
                       ": another folder of this name is used for the DVD-Video structure");
        }
        continue;
      }
      if (depth == 3 && builder.stereoPlan && NameEquals(entry.name, u"SSIF")) {
        sourceSsifSkipped = true;  // the stream pass makes its own
        continue;
      }
      bool loop = false;
      for (const FileIdentity& ancestor : ancestors) loop = loop || ancestor == FileIdentity{entry.device, entry.inode};
      if (loop) {
        builder.Warn("skipping directory " + EntryPath(entry) +
                     ": it leads back to a folder that contains it (symbolic link loop)");
        continue;
      }
      TreeNode* added = nullptr;
      AddResult result = AddChild(builder, directory, last, SourceEntryFrom(entry), &added);
      if (result == AddResult::OutOfMemory) {
        ok = false;
        break;
      }
      if (result == AddResult::Added) {
        if (mark + std::strlen(entryName) + 1 >= PATH_MAX) {
          WarnUnreadableDirectory(EntryPath(entry), ENAMETOOLONG);
        } else {
          path.resize(mark);
          path += entryName;
          path += '/';
          ok = ScanDirectory(added, depth + 1, nullptr, &listing, entryName);
          path.resize(mark);
          if (!ok) break;
        }
      }
    } else {
      if (!AcceptFile(entry, inTargetDirectory)) continue;
      if (mark + std::strlen(entryName) >= PATH_MAX) {
        builder.Warn("skipping " + EntryPath(entry) + ": " + std::strerror(ENAMETOOLONG));
        continue;
      }
      if (AddChild(builder, directory, last, SourceEntryFrom(entry)) == AddResult::OutOfMemory) {
        ok = false;
        break;
      }
    }
    if (builder.totalFileCount >= builder.fileLimit) break;
  }
  if (ok && listing.error) WarnUnreadableDirectory(path, listing.error);
  if (identified) ancestors.pop_back();
  return ok;
}

bool SourceScanner::AcceptFile(const FindEntry& entry, bool inTargetDirectory) {
  switch (entry.type) {
    case FindEntryType::File:
      break;
    case FindEntryType::Special:
      builder.Warn("skipping " + EntryPath(entry) + ": not a regular file or directory");
      return false;
    case FindEntryType::DanglingLink:
      builder.Warn("skipping " + EntryPath(entry) + ": dangling symbolic link");
      return false;
    case FindEntryType::Unreadable:
    case FindEntryType::Directory:
      builder.Warn("skipping " + EntryPath(entry) + ": " + std::strerror(entry.statError ? entry.statError : EIO));
      return false;
  }
  if (targetExists && target == FileIdentity{entry.device, entry.inode}) return false;
  if (inTargetDirectory) {
    std::string name = entry.hostName;
    if (name == targetName || name.rfind(targetName + kTemporarySuffix, 0) == 0) return false;
  }
  return true;
}

void SourceScanner::WarnUnreadableDirectory(const std::string& hostPath, int error) {
  builder.Warn("cannot read directory " + DirectoryForMessage(hostPath) + ": " + std::strerror(error));
}

}  // namespace vellumcast
