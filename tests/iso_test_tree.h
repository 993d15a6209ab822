// Trees and ISO 9660 layouts made by hand, for testing the writer without the scan
// and the layout plan: entries are appended in the order given, which serves as both
// the primary and the ISO 9660 order.
#pragma once

#include <cstring>
#include <deque>
#include <string>

#include "build/image_builder.h"
#include "layout/disc_constants.h"
#include "layout/entry_extents.h"
#include "platform/text.h"
#include "test_tree.h"

namespace vellumcast::test {

struct HandTree {
  ImageBuilder b;
  // `sourcePath` ends in '/'; the root's records carry `time`.
  explicit HandTree(const std::string& sourcePath, int64_t time = 1700000000) {
    b.Initialize();
    b.buildTime = time;
    b.formatFlags = FormatIso9660;
    MakeRoot(b, Utf8ToUtf16(sourcePath))->modifiedTime = time;
  }

  // Appends through AddChild, then gives the entry its ISO 9660 identifier and the same
  // place at the end of the ISO 9660 order.
  TreeNode* Append(TreeNode* parent, const std::string& name, const char* isoName, bool directory,
                   uint64_t size, int64_t time) {
    TreeNode* last = parent->firstChild;
    while (last && last->nextSibling) last = last->nextSibling;
    TreeNode* n = AddEntry(b, *parent, last, Utf8ToUtf16(name), directory, size);
    if (isoName) {
      n->isoNameLength = uint8_t(std::strlen(isoName));
      n->isoName = static_cast<const uint8_t*>(ArenaCopy(b.arena, isoName, n->isoNameLength + 1));
    }
    n->modifiedTime = time;
    TreeNode** isoLink = &parent->isoFirstChild;
    while (*isoLink) isoLink = &(*isoLink)->isoNextSibling;
    *isoLink = n;
    return n;
  }

  TreeNode* AddDir(TreeNode* parent, const std::string& name, const char* isoName, int64_t time = 1600000000) {
    return Append(parent, name, isoName, true, 0, time);
  }

  TreeNode* AddFile(TreeNode* parent, const std::string& name, const char* isoName, uint64_t size,
                    int64_t time = 1500000000) {
    return Append(parent, name, isoName, false, size, time);
  }

  // The ISO 9660-only layout: path tables from 18, directory extents breadth-first
  // with records packed so that none crosses a sector boundary, file data depth-first
  // (a directory's files before its subdirectories), the image padded to 32 sectors.
  void PlanIsoOnly() {
    const uint32_t extra = b.dvdVideoMode ? 6 : 0;
    uint32_t ptBytes = 0, isoSectors = 0;
    uint16_t number = 1;
    std::deque<TreeNode*> queue{b.root};
    while (!queue.empty()) {
      TreeNode* d = queue.front();
      queue.pop_front();
      ptBytes += 8 + d->isoNameLength + (d->isoNameLength % 2);
      uint32_t offset = 0;
      auto place = [&](uint32_t length) {
        if (offset % kSectorSize + length > kSectorSize) offset += kSectorSize - offset % kSectorSize;
        offset += length;
      };
      place(34 + extra);
      place(34 + extra);
      for (TreeNode* e = d->isoFirstChild; e; e = e->isoNextSibling) {
        uint32_t records = e->isDirectory ? 1 : IsoExtentCount(e->size);
        for (uint32_t i = 0; i < records; ++i) {
          place(33 + e->isoNameLength + (e->isoNameLength % 2 == 0 ? 1 : 0) + extra);
        }
        if (e->isDirectory) queue.push_back(e);
      }
      d->isoDirSize = offset;
      d->pathTableNumber = number++;
      d->isoDirLocation = isoSectors;
      isoSectors += (offset + kSectorSize - 1) / kSectorSize;
    }
    uint32_t dataSectors = 0;
    PlaceData(b.root, dataSectors);
    b.pathTableStart = 18;
    b.pathTableBytes = ptBytes;
    b.pathTableSectors = int32_t((ptBytes + kSectorSize - 1) / kSectorSize);
    b.isoDirectorySectors = int32_t(isoSectors);
    b.fileDataSectors = int32_t(dataSectors);
    b.dataBase = 18;
    b.fileDataOffset = 2 * b.pathTableSectors + b.isoDirectorySectors;
    b.volumeSectors = (b.dataBase + b.fileDataOffset + b.fileDataSectors + 31) / 32 * 32;
  }

  void PlaceData(TreeNode* d, uint32_t& dataSectors) {
    for (TreeNode* e = d->firstChild; e; e = e->nextSibling) {
      if (e->isDirectory || e->kind == StereoBase || e->kind == StereoInterleaved) continue;
      e->dataStart = dataSectors;
      dataSectors += e->sectorCount;
      if (e->kind == StereoDependent) {  // the pair's interleaved run
        dataSectors += e->baseNode->sectorCount;
        e->baseNode->dataStart = e->dataStart;
      }
    }
    for (TreeNode* e = d->firstChild; e; e = e->nextSibling) {
      if (e->isDirectory) PlaceData(e, dataSectors);
    }
  }
};

}  // namespace vellumcast::test
