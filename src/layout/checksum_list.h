// The text of the checksum list (SHA256SUMS): one line per file of the image, in the
// format `sha256sum` prints and `sha256sum -c` reads, under the path the image's
// name-keeping file system shows. The layout sizes the list with it before placing the
// file data; the writer fills it with the digests taken while the data went out.
#pragma once

#include <cstdint>
#include <string>

#include "base/image_settings.h"
#include "tree/source_tree.h"

namespace vellumcast {

// Bytes of one line: 64 hexadecimal digits, two spaces, "./" and the path, a newline.
// A path holding a backslash, a newline or a carriage return is written escaped ("\\",
// "\n", "\r") on a line that begins with a backslash, as `sha256sum` writes it.
std::string ChecksumLine(const std::string& hexDigest, const std::string& path);

// Calls `listed(node, path)` for every file the list names, depth first in primary
// order: plain files (every name of a hard-linked file), stream clips and .ssif files,
// a boot catalog; not directories, symbolic links, special files or the list itself.
// The path is the one the first of these trees shows: UDF, Rock Ridge, Joliet, and
// ISO 9660 as Linux shows plain identifiers (letters in lower case, no ";1", no final
// '.'). Bytes are UTF-8, except Rock Ridge names that are not, which are the host's.
template <typename Fn>
void ForEachListedFile(const ImageSettings& settings, const SourceTree& tree, Fn listed);

// The list's size in bytes, with every digest of the same length.
uint64_t ChecksumListBytes(const ImageSettings& settings, const SourceTree& tree);

// The name of `node` in the tree whose names the list uses.
std::string ListedName(const ImageSettings& settings, const SourceTree& tree, const TreeNode& node);

bool IsListedFile(const TreeNode& node);

template <typename Fn>
void ListedFilesBelow(const ImageSettings& settings, const SourceTree& tree,
                      const TreeNode& directory, std::string& path, Fn& listed) {
  for (const TreeNode* e = directory.firstChild; e; e = e->nextSibling) {
    const size_t mark = path.size();
    path += ListedName(settings, tree, *e);
    if (e->isDirectory) {
      path += '/';
      ListedFilesBelow(settings, tree, *e, path, listed);
    } else if (IsListedFile(*e)) {
      listed(*e, path);
    }
    path.resize(mark);
  }
}

template <typename Fn>
void ForEachListedFile(const ImageSettings& settings, const SourceTree& tree, Fn listed) {
  std::string path;
  if (tree.root) ListedFilesBelow(settings, tree, *tree.root, path, listed);
}

}  // namespace vellumcast
