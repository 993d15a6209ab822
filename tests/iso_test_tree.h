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

namespace vellumcast::test {

struct HandTree {
  ImageBuilder b;
  // `sourcePath` ends in '/'; the root's records carry `time`.
  explicit HandTree(const std::string& sourcePath, int64_t time = 1700000000) {
    b.Initialize();
    b.buildTime = time;
    b.formatFlags = FormatIso9660;
    b.arena = CreateArena(8192);
    b.root = NewNode(Utf8ToUtf16(sourcePath), nullptr, 0);
    b.root->parent = b.root;
    b.root->isDirectory = 1;
    b.root->isoNameLength = 2;
    b.root->modifiedTime = time;
  }

  // Arena memory is not aligned: carve with room to spare and align by hand.
  void* Carve(size_t n) {
    auto p = reinterpret_cast<uintptr_t>(ArenaAlloc(b.arena, uint32_t(n + 8)));
    return reinterpret_cast<void*>((p + 7) & ~uintptr_t(7));
  }

  TreeNode* NewNode(const std::u16string& name, const char* isoName, uint64_t size) {
    auto* n = static_cast<TreeNode*>(Carve(sizeof(TreeNode)));
    size_t nameBytes = (name.size() + 1) * sizeof(char16_t);
    n->name = static_cast<const char16_t*>(std::memcpy(Carve(nameBytes), name.c_str(), nameBytes));
    if (isoName) {
      n->isoNameLength = uint8_t(std::strlen(isoName));
      n->isoName = static_cast<const uint8_t*>(ArenaCopy(b.arena, isoName, n->isoNameLength + 1));
    }
    n->size = size;
    n->sectorCount = uint32_t((size + kSectorSize - 1) / kSectorSize);
    return n;
  }

  TreeNode* Append(TreeNode* parent, TreeNode* n) {
    n->parent = parent;
    TreeNode** link = &parent->firstChild;
    while (*link) link = &(*link)->nextSibling;
    *link = n;
    TreeNode** isoLink = &parent->isoFirstChild;
    while (*isoLink) isoLink = &(*isoLink)->isoNextSibling;
    *isoLink = n;
    return n;
  }

  TreeNode* AddDir(TreeNode* parent, const std::string& name, const char* isoName, int64_t time = 1600000000) {
    TreeNode* n = Append(parent, NewNode(Utf8ToUtf16(name), isoName, 0));
    n->isDirectory = 1;
    n->modifiedTime = time;
    parent->subdirCount++;
    b.totalDirectoryCount++;
    return n;
  }

  TreeNode* AddFile(TreeNode* parent, const std::string& name, const char* isoName, uint64_t size,
                    int64_t time = 1500000000) {
    TreeNode* n = Append(parent, NewNode(Utf8ToUtf16(name), isoName, size));
    n->modifiedTime = time;
    parent->fileCount++;
    b.totalFileCount++;
    return n;
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
