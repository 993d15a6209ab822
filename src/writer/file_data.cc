// File data of the image: a depth-first walk over the source tree that copies every
// file's planned sectors in large reads, reporting progress sector by sector.
#include "writer/file_data.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "build/image_builder.h"
#include "layout/disc_constants.h"
#include "platform/paths.h"
#include "platform/source_file.h"
#include "platform/text.h"
#include "writer/output_pipeline.h"

namespace vellumcast {
namespace {

std::string Display(const std::u16string& path) { return Utf16ToUtf8(path); }

bool OpenSource(OutputContext& out, SourceFile& file, const std::u16string& path) {
  if (file.Open(HostPath(path))) return true;
  out.aborted = true;
  out.builder->writeFailed = 1;
  out.builder->Fail("cannot read " + Display(path) + ": " + file.error);
  return false;
}

void WarnChangedSize(OutputContext& out, const std::u16string& path) {
  out.builder->Warn(Display(path) + " changed size while the image was written");
}

// The size on disk now, compared with the size the layout planned for.
void CheckSize(OutputContext& out, SourceFile& file, const std::u16string& path, uint64_t planned,
               bool& warned) {
  uint64_t now = 0;
  if (!warned && file.Size(now) && now != planned) {
    WarnChangedSize(out, path);
    warned = true;
  }
}

}  // namespace

std::u16string BuildSourcePath(const TreeNode& file, const std::u16string& directoryPath) {
  return directoryPath + file.name;
}

uint64_t CopySectors(OutputContext& out, SourceFile* source, const std::u16string& path, uint64_t n,
                     uint64_t& bytesRead) {
  ImageBuilder& b = *out.builder;
  uint64_t copied = 0;
  bool ended = !source;  // the file has no more bytes: the rest is zeros
  while (copied < n) {
    uint32_t granted = 0;
    uint64_t wanted = std::min<uint64_t>(n - copied, UINT32_MAX);
    uint8_t* space = out.StagingSpace(uint32_t(wanted), granted);
    if (!space) {
      b.writeFailed = 1;
      return 0;
    }
    size_t bytes = size_t(granted) * kSectorSize;
    int64_t got = ended ? 0 : source->Read(space, bytes);
    if (got < 0) {
      out.aborted = true;
      b.writeFailed = 1;
      b.Fail("cannot read " + Display(path) + ": " + source->error);
      return 0;
    }
    if (size_t(got) < bytes) {
      ended = true;
      std::memset(space + got, 0, bytes - size_t(got));
    }
    bytesRead += uint64_t(got);
    // Each sector counts and reports on its own; a stop ends the copy right after
    // the sector it was reported for, and nothing staged after it is written.
    for (uint32_t i = 0; i < granted; ++i) {
      bool ok = out.CommitStagedSector();
      b.writeFailed = !ok;
      if (!ok) return 0;
      ++copied;
    }
  }
  return copied;
}

uint64_t CopyFileData(OutputContext& out, const TreeNode& file, const std::u16string& directoryPath) {
  if (file.kind == StereoBase || file.kind == StereoInterleaved) return 0;  // in the dependent's run
  if (file.sectorCount == 0 && file.kind != StereoDependent) return 0;      // no data, no read
  std::u16string path = BuildSourcePath(file, directoryPath);
  SourceFile own;
  if (!OpenSource(out, own, path)) return 0;
  bool warned = false;
  CheckSize(out, own, path, file.size, warned);

  if (file.kind != StereoDependent || !file.stereoPair || !file.baseNode) {
    uint64_t bytesRead = 0;
    uint64_t copied = CopySectors(out, &own, path, file.sectorCount, bytesRead);
    if (!out.Failed() && bytesRead < file.size && !warned) WarnChangedSize(out, path);
    return copied;
  }

  // The interleaved run of a stereoscopic pair: dependent extent i, then base extent i.
  // It fills exactly the sectors planned for both clips: a shorter extent list is
  // completed with zeros and a longer one cut, with a warning.
  const TreeNode& baseNode = *file.baseNode;
  std::u16string basePath = BuildSourcePath(baseNode, directoryPath);
  SourceFile base;
  if (!OpenSource(out, base, basePath)) return 0;
  bool baseWarned = false;
  CheckSize(out, base, basePath, baseNode.size, baseWarned);

  const uint64_t planned = uint64_t(file.sectorCount) + baseNode.sectorCount;
  uint64_t copied = 0, ownRead = 0, baseRead = 0;
  for (const StereoClipPair::RunPiece& piece : file.stereoPair->InterleavedRun()) {
    uint64_t n = std::min<uint64_t>(piece.sectors, planned - copied);
    if (n == 0) break;
    uint64_t done = piece.dependentView ? CopySectors(out, &own, path, n, ownRead)
                                        : CopySectors(out, &base, basePath, n, baseRead);
    if (out.Failed()) return 0;
    copied += done;
  }
  uint64_t extentTotal = 0;
  for (const auto& piece : file.stereoPair->InterleavedRun()) extentTotal += piece.sectors;
  if (extentTotal != planned) {
    out.builder->Warn("the interleaved extents of " + Display(path) + " and " + Display(basePath) +
                      " do not cover their planned sectors");
  }
  if (copied < planned) {
    uint64_t none = 0;
    copied += CopySectors(out, nullptr, path, planned - copied, none);
  }
  return copied;
}

uint64_t WriteFileData(OutputContext& out, const TreeNode& directory, const std::u16string& directoryPath) {
  if (out.Failed()) return 0;
  std::u16string path = directoryPath;
  path += directory.name;
  if (path.empty() || path.back() != u'/') path += u'/';
  uint64_t sectors = 0;
  for (const TreeNode* e = directory.firstChild; e; e = e->nextSibling) {
    if (out.Failed()) return 0;
    if (!e->isDirectory) sectors += CopyFileData(out, *e, path);
  }
  for (const TreeNode* e = directory.firstChild; e; e = e->nextSibling) {
    if (out.Failed()) return 0;
    if (e->isDirectory) sectors += WriteFileData(out, *e, path);
  }
  return sectors;
}

}  // namespace vellumcast
