// Blu-ray stream clips: every .m2ts clip of BDMV/STREAM is recorded as a UDF real-time
// file; with a stereoscopic plan each base-view and dependent-view clip pair is tied to
// its record and an SSIF directory of interleaved .ssif entries is made up.
#include <cstdio>
#include <map>
#include <string>

#include "build/image_builder.h"
#include "layout/disc_constants.h"
#include "platform/text.h"
#include "tree/disc_video_rules.h"
#include "tree/source_entry.h"
#include "tree/source_scanner.h"

namespace vellumcast {
namespace {

constexpr uint32_t kClipNameDigits = 5;

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

std::string ClipName(uint16_t number) {
  char text[16];
  std::snprintf(text, sizeof text, "%05u.m2ts", unsigned(number));
  return text;
}

void MarkClip(ImageBuilder& builder, TreeNode* clip, StereoClipPair& pair, StereoView view,
              TreeNode* base, TreeNode* dependent) {
  uint32_t extents = CountStereoExtents(pair, view);
  uint32_t sectors = DescriptorSectorsFor(extents);
  builder.extraDescriptorSectors += sectors - 1;
  clip->descriptorSectors = sectors;
  clip->kind = view == StereoView::Base ? StereoBase : StereoDependent;
  clip->stereoPair = &pair;
  clip->dependentNode = dependent;
  clip->baseNode = base;
  clip->extentCount = uint16_t(extents);
}

}  // namespace

bool ApplyStreamPass(ImageBuilder& builder, bool sourceSsifSkipped) {
  TreeNode* stream = FindStreamDirectory(builder.root);
  if (!stream) return true;
  if (!builder.stereoPlan) {
    MarkStreamClips(stream);
    return true;
  }

  std::map<uint16_t, TreeNode*> clips;  // a later clip of the same number replaces an earlier one
  TreeNode* streamLast = nullptr;
  for (TreeNode* node = stream->firstChild; node; node = node->nextSibling) {
    streamLast = node;
    uint16_t number;
    if (!node->isDirectory && ClipNumberOf(node->name, number)) clips[number] = node;
  }

  std::string giveUpReason;
  TreeNode* ssif = nullptr;
  TreeNode* ssifLast = nullptr;
  for (StereoClipPair& pair : *builder.stereoPlan) {
    auto baseAt = clips.find(pair.baseClip);
    if (baseAt == clips.end()) {
      giveUpReason = "clip " + ClipName(pair.baseClip) + " is missing";
      break;
    }
    auto dependentAt = clips.find(pair.dependentClip);
    if (dependentAt == clips.end()) {
      giveUpReason = "clip " + ClipName(pair.dependentClip) + " is missing";
      break;
    }
    TreeNode* base = baseAt->second;
    TreeNode* dependent = dependentAt->second;
    MarkClip(builder, base, pair, StereoView::Base, base, dependent);
    if (pair.baseSectors != base->sectorCount) {
      giveUpReason = "the size of clip " + ClipName(pair.baseClip) + " differs from its clip information";
      break;
    }
    MarkClip(builder, dependent, pair, StereoView::Dependent, base, dependent);
    if (pair.dependentSectors != dependent->sectorCount) {
      giveUpReason = "the size of clip " + ClipName(pair.dependentClip) + " differs from its clip information";
      break;
    }
    if (!ssif) {
      TreeNode* after = streamLast;
      if (AddChild(builder, stream, after, MadeUpEntry(u"SSIF", true), &ssif) == AddResult::OutOfMemory) {
        return false;
      }
      builder.ssifDirectory = ssif;
    }
    // 00001.m2ts gives 00001.ssif, covering the pair's whole interleaved run.
    SourceEntry interleaved;
    for (uint32_t i = 0; i < kClipNameDigits; ++i) interleaved.inlineName[i] = base->name[i];
    const char16_t* suffix = u".ssif";
    for (uint32_t i = 0; i <= 5; ++i) interleaved.inlineName[kClipNameDigits + i] = suffix[i];
    interleaved.nameBytes = int32_t(2 * Utf16Length(interleaved.inlineName) + 2);
    interleaved.size = uint64_t(uint32_t(pair.baseSectors + pair.dependentSectors)) * kSectorSize;
    interleaved.modifiedTime = base->modifiedTime;
    interleaved.ssifMark = 1;
    TreeNode* node = nullptr;
    if (AddChild(builder, ssif, ssifLast, interleaved, &node) == AddResult::OutOfMemory) return false;
    if (node) {
      node->dependentNode = dependent;
      node->baseNode = base;
    }
  }
  if (giveUpReason.empty()) return true;

  // Give up: the made-up SSIF directory leaves STREAM's chain and every clip is recorded
  // as a plain stream clip. The counters of what was made stay, so the layout keeps room
  // for the descriptors of the entries cut off.
  if (streamLast) streamLast->nextSibling = nullptr;
  builder.ssifDirectory = nullptr;
  MarkStreamClips(stream);
  builder.Warn("stereoscopic (3D) layout not applied: " + giveUpReason +
               (sourceSsifSkipped ? "; the source folder's SSIF directory is left out" : ""));
  return true;
}

}  // namespace vellumcast
