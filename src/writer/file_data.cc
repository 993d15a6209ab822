// Emits the file data of the image (the extents that ECMA-119 9.1 records and ECMA-167
// 4/14.14 allocation descriptors point to): a depth-first walk over the source tree that
// copies every file's planned sectors in large reads, reporting progress sector by sector.
#include "writer/file_data.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/disc_constants.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "platform/read_ahead.h"
#include "platform/source_file.h"
#include "platform/text.h"
#include "tree/node_path.h"
#include "writer/boot_info_table.h"
#include "writer/data_digests.h"
#include "writer/el_torito.h"
#include "writer/image_writer.h"
#include "writer/output_pipeline.h"

namespace vellumcast {
namespace {

constexpr uint64_t kKernelCopyChunkSectors = 8192;  // 16 MiB between progress reports

std::string Display(const std::u16string& path) { return Utf16ToUtf8(path); }

// The file as the read-ahead readers left it (open, or already read), or opened here.
bool OpenSource(OutputContext& out, SourceFile& file, const std::u16string& path) {
  const std::string hostPath = HostPath(path);
  if (out.readAhead && out.readAhead->Take(hostPath, file)) return true;
  if (file.Open(hostPath)) {
    // While the readers rest, the first read tells whether they are needed again.
    file.watchMemory = out.readAhead && out.readAhead->Resting();
    return true;
  }
  out.aborted = true;
  out.emitter->sink.failed = true;
  out.emitter->log.Fail("cannot read " + Display(path) + ": " + file.error);
  return false;
}

// A file the kernel copies is not read here: while the readers rest, a probe of its
// first byte tells whether it is in memory.
void WatchKernelCopy(SourceFile& file, const TreeNode& node) {
  if (file.watchMemory && node.sectorCount >= kKernelCopyMinimumSectors) file.InMemory(0);
}

// The consumer's own file had to come from the storage while the readers rested: they
// go on after it.
void WakeReaders(OutputContext& out, const TreeNode& node, const SourceFile& a,
                 const SourceFile* b) {
  if (out.readAhead && out.readAhead->Resting() && (a.fromStorage || (b && b->fromStorage))) {
    out.readAhead->Resume(&node);
  }
}

void WarnChangedSize(OutputContext& out, const std::u16string& path) {
  out.emitter->log.Warn(Display(path) + " changed size while the image was written");
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

void ReadFailed(OutputContext& out, SourceFile& source, const std::u16string& path) {
  out.aborted = true;
  out.emitter->sink.failed = true;
  out.emitter->log.Fail("cannot read " + Display(path) + ": " + source.error);
}

// Copies up to n sectors of `source` into the target inside the kernel, in chunks with
// progress reported for every sector after each chunk. Stops early when the source
// ends (setting `ended`) or when the kernel cannot copy between the two files (reading
// and writing then go on from the same positions). The bytes come to the target at the
// planned sectors because the staging area is empty and the target's end is the next
// sector. Returns the sectors placed; a sector the source fills only partly is completed
// with the source's next bytes (when the kernel gave up) or with zeros.
uint64_t CopySectorsByKernel(OutputContext& out, SourceFile& source, const std::u16string& path,
                             uint64_t n, uint64_t& bytesRead, bool& ended) {
  OutputFile& target = *out.target;
  uint64_t copied = 0;
  while (copied < n && target.kernelCopy) {
    uint64_t wanted = std::min<uint64_t>(n - copied, kKernelCopyChunkSectors) * kSectorSize;
    uint64_t got = 0;
    if (!target.CopyFrom(source.Descriptor(), wanted, got)) {
      out.writeError = true;
      return 0;
    }
    bytesRead += uint64_t(got);
    uint64_t sectors = uint64_t(got) / kSectorSize;
    if (size_t partial = size_t(uint64_t(got) % kSectorSize)) {
      uint8_t tail[kSectorSize] = {};
      size_t more = 0;
      if (!source.Read(tail, kSectorSize - partial, more)) {
        ReadFailed(out, source, path);
        return 0;
      }
      bytesRead += uint64_t(more);
      if (!target.Write(tail, kSectorSize - partial)) {
        out.writeError = true;
        return 0;
      }
      ++sectors;
    }
    for (uint64_t i = 0; i < sectors; ++i) {
      if (!out.CommitWrittenSector()) return 0;
    }
    copied += sectors;
    if (uint64_t(got) < wanted && target.kernelCopy) {
      ended = true;
      break;
    }
  }
  return copied;
}

// The .ssif files of the stereoscopic pair whose dependent clip is `dependent`: their
// bytes are the whole interleaved run, in the order it is emitted.
void OpenInterleavedDigests(OutputContext& out, const TreeNode& dependent) {
  const TreeNode* ssif = out.emitter->tree.ssifDirectory;
  for (const TreeNode* x = ssif ? ssif->firstChild : nullptr; x; x = x->nextSibling) {
    if (!x->isDirectory && x->kind == StereoInterleaved && x->dependentNode == &dependent)
      out.digests->Open(*x, x->size);
  }
}

// One file's digest (a stereoscopic run: its two clips' and its .ssif files') around
// the emission of its data; nothing without a checksum list.
struct DigestScope {
  OutputContext& out;
  DigestScope(OutputContext& o, const TreeNode& file) : out(o) {
    if (!out.digests) return;
    out.digests->Open(file, file.size);
    if (file.kind == StereoDependent && file.baseNode) {
      out.digests->Open(*file.baseNode, file.baseNode->size, false);
      OpenInterleavedDigests(out, file);
    }
  }
  ~DigestScope() {
    if (out.digests) out.digests->FinishAll();
  }
  // The run's pieces alternate between the two clips' digests.
  void Piece(const TreeNode& dependent, bool dependentView) {
    if (!out.digests) return;
    out.digests->SetActive(dependent, dependentView);
    out.digests->SetActive(*dependent.baseNode, !dependentView);
  }
};

}  // namespace

bool EmitSourceSectors(OutputContext& out, SourceFile* source, const std::u16string& path,
                       uint64_t n, uint64_t& bytesRead) {
  ImageEmitter& emitter = *out.emitter;
  uint64_t copied = 0;
  bool ended = !source;  // the file has no more bytes: the rest is zeros
  if (source && source->Descriptor() >= 0 && n >= kKernelCopyMinimumSectors &&
      out.ReadyForKernelCopy()) {
    copied = CopySectorsByKernel(out, *source, path, n, bytesRead, ended);
    if (out.Failed()) {
      emitter.sink.failed = true;
      return false;
    }
  }
  while (copied < n) {
    uint32_t granted = 0;
    uint64_t wanted = std::min<uint64_t>(n - copied, UINT32_MAX);
    uint8_t* space = out.StagingSpace(uint32_t(wanted), granted);
    if (!space) {
      emitter.sink.failed = true;
      return false;
    }
    // The sectors are read straight into the staging area in one large read. A
    // kernel-side copy (copy_file_range) could take this place once the staged sectors
    // are flushed; the per-sector accounting below would stay as it is.
    size_t bytes = size_t(granted) * kSectorSize;
    size_t got = 0;
    if (!ended && !source->Read(space, bytes, got)) {
      ReadFailed(out, *source, path);
      return false;
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
      emitter.sink.failed = !ok;
      if (!ok) return false;
      ++copied;
    }
  }
  return true;
}

bool EmitFileData(OutputContext& out, const TreeNode& file) {
  if (file.kind == StereoBase || file.kind == StereoInterleaved)
    return true;                                                           // in the dependent's run
  if (file.sectorCount == 0 && file.kind != StereoDependent) return true;  // no data, no read
  if (file.kind == ChecksumList) return true;  // after all other data, with every digest
  if (file.sharedData) return true;            // another name's data (a hard link)
  DigestScope digests(out, file);
  if (file.bootRole == kBootCatalogFile) return EmitBootCatalog(*out.emitter);
  const std::u16string path = SourcePath(file);
  SourceFile own;
  if (!OpenSource(out, own, path)) return false;
  if (file.bootRole == kPatchedBootFile) return EmitPatchedBootFile(out, own, file, path);
  bool warned = false;
  CheckSize(out, own, path, file.size, warned);
  WatchKernelCopy(own, file);

  if (file.kind != StereoDependent || !file.stereoPair || !file.baseNode) {
    uint64_t bytesRead = 0;
    if (!EmitSourceSectors(out, &own, path, file.sectorCount, bytesRead)) return false;
    if (!out.Failed() && bytesRead < file.size && !warned) WarnChangedSize(out, path);
    if (!out.Failed()) WakeReaders(out, file, own, nullptr);
    return true;
  }

  // The interleaved run of a stereoscopic pair, piece by piece in the pair's order. The
  // analysis made each view's extents tile its clip exactly; a run that does not is
  // never cut or filled up, the build stops instead.
  const TreeNode& baseNode = *file.baseNode;
  const std::u16string basePath = SourcePath(baseNode);
  const std::vector<StereoClipPair::RunPiece> run = file.stereoPair->InterleavedRun();
  uint64_t viewSectors[2] = {0, 0};  // base, dependent
  for (const StereoClipPair::RunPiece& piece : run)
    viewSectors[piece.dependentView] += piece.sectors;
  if (viewSectors[1] != file.sectorCount || viewSectors[0] != baseNode.sectorCount) {
    out.aborted = true;
    out.emitter->sink.failed = true;
    return out.emitter->log.Fail("internal error: the interleaved extents of " + Display(path) +
                                 " and " + Display(basePath) + " do not cover the two clips");
  }
  SourceFile base;
  if (!OpenSource(out, base, basePath)) return false;
  bool baseWarned = false;
  CheckSize(out, base, basePath, baseNode.size, baseWarned);
  WatchKernelCopy(base, baseNode);

  uint64_t ownRead = 0, baseRead = 0;
  for (const StereoClipPair::RunPiece& piece : run) {
    digests.Piece(file, piece.dependentView);
    const bool emitted = piece.dependentView
                             ? EmitSourceSectors(out, &own, path, piece.sectors, ownRead)
                             : EmitSourceSectors(out, &base, basePath, piece.sectors, baseRead);
    if (!emitted || out.Failed()) return false;
  }
  if (ownRead < file.size && !warned) WarnChangedSize(out, path);
  if (baseRead < baseNode.size && !baseWarned) WarnChangedSize(out, basePath);
  WakeReaders(out, file, own, &base);
  return true;
}

bool EmitDirectoryFileData(OutputContext& out, const TreeNode& directory) {
  if (out.Failed()) return false;
  for (const TreeNode* e = directory.firstChild; e; e = e->nextSibling) {
    if (out.Failed()) return false;
    if (!e->isDirectory && !EmitFileData(out, *e)) return false;
  }
  for (const TreeNode* e = directory.firstChild; e; e = e->nextSibling) {
    if (out.Failed()) return false;
    if (e->isDirectory && !EmitDirectoryFileData(out, *e)) return false;
  }
  return true;
}

}  // namespace vellumcast
