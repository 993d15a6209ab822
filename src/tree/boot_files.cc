// Finding the El Torito boot files among the scanned entries and adding the catalog.
#include "tree/boot_files.h"

#include <sys/stat.h>
#include <string>
#include <vector>

#include "base/boot_settings.h"
#include "base/disc_constants.h"
#include "platform/text.h"
#include "tree/source_entry.h"

namespace vellumcast {
namespace {

// The path's components below the source folder; false for a ".." (outside the source).
// `sourcePath` is the canonical folder ending in '/'; a path beginning with it is
// taken below it, any other path from the image's root.
bool SplitInside(std::u16string path, const std::u16string& sourcePath,
                 std::vector<std::u16string>& parts) {
  if (!sourcePath.empty() && path.starts_with(sourcePath)) path.erase(0, sourcePath.size());
  size_t at = 0;
  while (at <= path.size()) {
    size_t slash = path.find(u'/', at);
    if (slash == std::u16string::npos) slash = path.size();
    std::u16string part = path.substr(at, slash - at);
    if (part == u"..") return false;
    if (!part.empty() && part != u".") parts.push_back(part);
    at = slash + 1;
  }
  return true;
}

TreeNode* ChildNamed(TreeNode& directory, const std::u16string& name) {
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling) {
    if (name == e->name) return e;
  }
  return nullptr;
}

// The directory `parts` names below the root, or null.
TreeNode* DirectoryOf(SourceTree& tree, const std::vector<std::u16string>& parts, size_t n) {
  TreeNode* at = tree.root;
  for (size_t i = 0; at && i < n; ++i) {
    at = ChildNamed(*at, parts[i]);
    if (at && !at->isDirectory) return nullptr;
  }
  return at;
}

// The plain file `path` of the source, or null (`log` says why). `what` names it.
TreeNode* FindBootFile(SourceTree& tree, const std::u16string& path, const char* what,
                       Diagnostics& log) {
  const std::string shown = Utf16ToUtf8(path);
  std::vector<std::u16string> parts;
  if (!SplitInside(path, tree.root->name, parts) || parts.empty()) {
    log.Fail(std::string("the ") + what + " " + shown + " is not inside the source folder");
    return nullptr;
  }
  TreeNode* directory = DirectoryOf(tree, parts, parts.size() - 1);
  TreeNode* file = directory ? ChildNamed(*directory, parts.back()) : nullptr;
  if (!file) {
    log.Fail(std::string("the ") + what + " " + shown + " is not in the source folder");
    return nullptr;
  }
  if (file->isDirectory || file->kind != Ordinary) {
    log.Fail(std::string("the ") + what + " " + shown + " is not a plain file");
    return nullptr;
  }
  if (file->size == 0 || file->size > uint64_t(kMaxBootLoadSize) * kVirtualSectorSize) {
    log.Fail(std::string("the ") + what + " " + shown + " has " + std::to_string(file->size) +
             " bytes; a boot catalog entry describes 1 to " +
             std::to_string(kMaxBootLoadSize * kVirtualSectorSize) + " bytes");
    return nullptr;
  }
  return file;
}

// Adds the made-up catalog file at `path` (its folder must exist, its name be free).
bool AddCatalogFile(const ImageSettings& settings, SourceTree& tree, const std::u16string& path,
                    Diagnostics& log) {
  const std::string shown = Utf16ToUtf8(path);
  std::vector<std::u16string> parts;
  if (!SplitInside(path, tree.root->name, parts) || parts.empty()) {
    return log.Fail("the boot catalog " + shown + " is not inside the image");
  }
  TreeNode* directory = DirectoryOf(tree, parts, parts.size() - 1);
  if (!directory)
    return log.Fail("the folder of the boot catalog " + shown + " is not in the source");
  if (ChildNamed(*directory, parts.back())) {
    return log.Fail("the boot catalog " + shown +
                    " is a name the source already has; choose another with --boot-catalog");
  }
  TreeNode* last = directory->firstChild;
  while (last && last->nextSibling) last = last->nextSibling;
  SourceEntry entry = MadeUpEntry(parts.back().c_str(), false);
  entry.size = kSectorSize;
  entry.modifiedTime = entry.accessTime = entry.attributeTime = settings.buildTime;
  entry.posixMode = S_IFREG | 0444;
  TreeNode* added = nullptr;
  if (AddChild(tree, log, directory, last, entry, &added) != AddResult::Added || !added) {
    return log.error.empty() ? log.Fail("the boot catalog cannot be added to the tree") : false;
  }
  added->bootRole = kBootCatalogFile;
  tree.bootCatalog = added;
  return true;
}

// The catalog's default path: boot.catalog in the folder of `bootPath`.
std::u16string DefaultCatalogPath(const std::u16string& bootPath) {
  const size_t slash = bootPath.rfind(u'/');
  return (slash == std::u16string::npos ? std::u16string() : bootPath.substr(0, slash + 1)) +
         u"boot.catalog";
}

}  // namespace

bool AttachBootFiles(const ImageSettings& settings, SourceTree& tree, Diagnostics& log) {
  const BootSettings& boot = settings.boot;
  if (!boot.ElTorito() || !tree.root) return true;
  if (!boot.biosFile.empty()) {
    tree.biosBootFile = FindBootFile(tree, boot.biosFile, "boot file", log);
    if (!tree.biosBootFile) return false;
    if (boot.infoTable) {
      if (tree.biosBootFile->size < 64) {
        return log.Fail("the boot file " + Utf16ToUtf8(boot.biosFile) +
                        " is shorter than 64 bytes and cannot hold a boot information table");
      }
      tree.biosBootFile->bootRole = kPatchedBootFile;
    }
  }
  if (!boot.efiFile.empty()) {
    tree.efiBootFile = FindBootFile(tree, boot.efiFile, "EFI boot image", log);
    if (!tree.efiBootFile) return false;
    if (tree.efiBootFile == tree.biosBootFile) {
      return log.Fail("the boot file and the EFI boot image are one file");
    }
  }
  if (boot.catalogGiven && boot.catalogPath.empty()) return true;  // hidden
  const std::u16string& beside = boot.biosFile.empty() ? boot.efiFile : boot.biosFile;
  return AddCatalogFile(settings, tree,
                        boot.catalogGiven ? boot.catalogPath : DefaultCatalogPath(beside), log);
}

}  // namespace vellumcast
