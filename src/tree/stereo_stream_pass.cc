// Blu-ray stream clips: every .m2ts clip of BDMV/STREAM is recorded as a UDF real-time
// file; with a stereoscopic plan each base-view and dependent-view clip pair is tied to
// its record and BDMV/STREAM/SSIF gets one interleaved .ssif entry per pair, in place of
// the source's file of that name. The tree is checked against the whole plan before
// anything is changed, so a plan that does not fit leaves the tree exactly as scanned.
#include "tree/stereo_stream_pass.h"

#include <cstdio>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "base/disc_constants.h"
#include "bluray/bdmv_analysis.h"
#include "platform/text.h"
#include "tree/disc_video_rules.h"
#include "tree/node_path.h"
#include "tree/source_entry.h"

namespace vellumcast {
namespace {

constexpr uint32_t kClipNameDigits = 5;
constexpr const char16_t* kInterleavedSuffix = u".ssif";

void MarkStreamClips(TreeNode* stream) {
  for (TreeNode* node = stream->firstChild; node; node = node->nextSibling) {
    uint16_t number;
    if (node->isDirectory || !ClipNumberOf(node->name, number)) continue;
    node->kind = StreamClip;
    node->stereoPair = nullptr;
    node->dependentNode = nullptr;
    node->baseNode = nullptr;
    node->extentCount = 0;
  }
}

// The path of a node below the source folder, for messages.
std::string TreePath(const TreeNode* node) { return SourcePathText(*node, PathFrom::BelowSource); }

std::string ClipPath(const TreeNode* stream, uint16_t number) {
  char name[16];
  std::snprintf(name, sizeof name, "/%05u.m2ts", unsigned(number));
  return TreePath(stream) + name;
}

TreeNode* ChildNamed(TreeNode* directory, const std::u16string& name) {
  for (TreeNode* node = directory->firstChild; node; node = node->nextSibling) {
    if (EqualsUtf16(node->name, name.c_str())) return node;
  }
  return nullptr;
}

void MarkClip(SourceTree& tree, TreeNode* clip, StereoClipPair& pair, StereoView view,
              TreeNode* base, TreeNode* dependent) {
  uint32_t extents = CountStereoExtents(pair, view);
  uint32_t sectors = ExtendedFileEntrySectors(extents);
  tree.extraDescriptorSectors += sectors - 1;
  clip->descriptorSectors = sectors;
  clip->kind = view == StereoView::Base ? StereoBase : StereoDependent;
  clip->stereoPair = &pair;
  clip->dependentNode = dependent;
  clip->baseNode = base;
  clip->extentCount = uint16_t(extents);
}

// One pair of the plan as the tree holds it.
struct PairInTree {
  StereoClipPair* pair;
  TreeNode* base;
  TreeNode* dependent;
  std::u16string interleavedName;  // 00001.m2ts gives 00001.ssif
  TreeNode* replaced;              // the source's entry of that name in SSIF, or null
};

// The clip of `number`, which must be the only clip file of STREAM with that number
// modulo 65536 and must hold the sectors of its clip information.
bool FindClip(const std::multimap<uint16_t, TreeNode*>& clips, const TreeNode* stream,
              uint16_t number, uint32_t sectors, TreeNode*& out, std::string& reason) {
  auto [first, end] = clips.equal_range(number);
  if (first == end) {
    reason = ClipPath(stream, number) + " is not in the source tree";
    return false;
  }
  if (std::next(first) != end) {
    reason = TreePath(first->second) + " and " + TreePath(std::next(first)->second) +
             " have the same clip number modulo 65536";
    return false;
  }
  out = first->second;
  if (out->sectorCount == sectors) return true;
  reason = TreePath(out) + " holds " + std::to_string(out->size) + " bytes, not the " +
           std::to_string(sectors) + " sectors of its clip information";
  return false;
}

// Finds every pair's clips and the SSIF entries they replace; false with the reason when
// the tree does not hold what the plan needs.
bool FitPlan(StereoPlan& plan, TreeNode* stream, TreeNode* ssif, std::vector<PairInTree>& pairs,
             std::string& reason) {
  std::multimap<uint16_t, TreeNode*> clips;
  for (TreeNode* node = stream->firstChild; node; node = node->nextSibling) {
    uint16_t number;
    if (!node->isDirectory && ClipNumberOf(node->name, number)) clips.emplace(number, node);
  }
  if (ssif && !ssif->isDirectory) {
    reason = TreePath(ssif) + " is not a folder";
    return false;
  }
  for (StereoClipPair& pair : plan) {
    PairInTree p{&pair, nullptr, nullptr, {}, nullptr};
    if (!FindClip(clips, stream, pair.baseClip, pair.baseSectors, p.base, reason) ||
        !FindClip(clips, stream, pair.dependentClip, pair.dependentSectors, p.dependent, reason)) {
      return false;
    }
    p.interleavedName = std::u16string(p.base->name, kClipNameDigits) + kInterleavedSuffix;
    p.replaced = ssif ? ChildNamed(ssif, p.interleavedName) : nullptr;
    const uint64_t runBytes = uint64_t(pair.RunSectors()) * kSectorSize;
    if (p.replaced && (p.replaced->isDirectory || p.replaced->size != runBytes)) {
      reason = TreePath(p.replaced) +
               (p.replaced->isDirectory
                    ? std::string(" is a folder")
                    : " holds " + std::to_string(p.replaced->size) + " bytes, not the " +
                          std::to_string(runBytes) + " of " + TreePath(p.dependent) + " and " +
                          TreePath(p.base) + " interleaved");
      return false;
    }
    pairs.push_back(std::move(p));
  }
  return true;
}

// Takes `node`, a file, out of its directory's chain and counters.
void RemoveFile(SourceTree& tree, TreeNode* directory, TreeNode* node) {
  for (TreeNode** link = &directory->firstChild; *link; link = &(*link)->nextSibling) {
    if (*link != node) continue;
    *link = node->nextSibling;
    --directory->fileCount;
    --tree.totalFileCount;
    return;
  }
}

}  // namespace

bool ApplyStreamPass(SourceTree& tree, Diagnostics& log) {
  TreeNode* stream = FindStreamDirectory(tree.root);
  if (!tree.stereoPlan) {
    if (stream) MarkStreamClips(stream);
    return true;
  }

  TreeNode* ssif = stream ? ChildNamed(stream, u"SSIF") : nullptr;
  std::vector<PairInTree> pairs;
  std::string reason = "there is no folder BDMV/STREAM in the source tree";
  if (!stream || !FitPlan(*tree.stereoPlan, stream, ssif, pairs, reason)) {
    log.Warn(StereoLayoutNotApplied(reason));
    tree.stereoPlan.reset();
    if (stream) MarkStreamClips(stream);
    return true;
  }

  if (!ssif) {
    TreeNode* streamLast = stream->firstChild;
    while (streamLast && streamLast->nextSibling) streamLast = streamLast->nextSibling;
    if (AddChild(tree, log, stream, streamLast, MadeUpEntry(u"SSIF", true), &ssif) ==
        AddResult::OutOfMemory) {
      return false;
    }
    if (!ssif) return log.Fail("cannot add the folder BDMV/STREAM/SSIF to the source tree");
  }
  tree.ssifDirectory = ssif;
  // A source .ssif of the plan gives way to the view of the interleaved run; it has the
  // run's size, but its bytes are not read, so the user is told which files these are.
  for (PairInTree& p : pairs) {
    if (!p.replaced) continue;
    log.Warn(TreePath(p.replaced) + " is recorded as a view of " + TreePath(p.dependent) + " and " +
             TreePath(p.base) + " interleaved, not copied from the source");
    RemoveFile(tree, ssif, p.replaced);
  }
  TreeNode* ssifLast = ssif->firstChild;
  while (ssifLast && ssifLast->nextSibling) ssifLast = ssifLast->nextSibling;

  for (PairInTree& p : pairs) {
    MarkClip(tree, p.base, *p.pair, StereoView::Base, p.base, p.dependent);
    MarkClip(tree, p.dependent, *p.pair, StereoView::Dependent, p.base, p.dependent);
    // The .ssif entry covers the pair's whole interleaved run.
    SourceEntry interleaved;
    interleaved.namePointer = p.interleavedName.c_str();  // AddChild copies the name
    interleaved.nameBytes = int32_t(2 * p.interleavedName.size() + 2);
    interleaved.size = uint64_t(p.pair->RunSectors()) * kSectorSize;
    interleaved.modifiedTime = p.replaced ? p.replaced->modifiedTime : p.base->modifiedTime;
    interleaved.ssifMark = 1;
    TreeNode* node = nullptr;
    if (AddChild(tree, log, ssif, ssifLast, interleaved, &node) == AddResult::OutOfMemory)
      return false;
    if (node) {
      node->dependentNode = p.dependent;
      node->baseNode = p.base;
    }
  }
  return true;
}

}  // namespace vellumcast
