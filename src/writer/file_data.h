// Emitting the file data of the source folder into the image (the extents of ECMA-119
// 9.1 and ECMA-167 4/14.14), in the order in which the layout gave the files their sectors.
#pragma once

#include <cstdint>
#include <string>

namespace vellumcast {

// Files of at least this many sectors are copied by the kernel into a regular-file
// target; smaller ones are cheaper to read into the staging area.
constexpr uint64_t kKernelCopyMinimumSectors = 64;  // 128 KiB

struct OutputContext;
struct SourceFile;
struct TreeNode;

// Emits the data of every file below `directory` (whose parent's path, ending in '/',
// is `directoryPath`, or empty for the root): a directory's files in primary order, then
// its subdirectories in primary order, depth first. False, and nothing more emitted,
// once the build fails.
[[nodiscard]] bool EmitDirectoryFileData(OutputContext& out, const TreeNode& directory,
                                         const std::u16string& directoryPath);

// Emits one file's planned sectors; a stereoscopic dependent-view clip emits the whole
// interleaved run of its pair. False when the build fails.
[[nodiscard]] bool EmitFileData(OutputContext& out, const TreeNode& file,
                                const std::u16string& directoryPath);

// Emits `n` sectors copied from `source` (null: zero sectors): a file that ends early is
// completed with zeros, one that is longer is cut. False when the build fails;
// `bytesRead` grows by the bytes that came from the file.
[[nodiscard]] bool EmitSourceSectors(OutputContext& out, SourceFile* source,
                                     const std::u16string& path, uint64_t n, uint64_t& bytesRead);

// The source path of `directory` below its parent's path `parentPath` (empty for the
// root), ending in '/'.
std::u16string FileDataDirectoryPath(const TreeNode& directory, const std::u16string& parentPath);

// The source path of `file`: its directory's path followed by its name.
std::u16string FileSourcePath(const TreeNode& file, const std::u16string& directoryPath);

}  // namespace vellumcast
