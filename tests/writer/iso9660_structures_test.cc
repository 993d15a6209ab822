// The ISO 9660 structures of finished images, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "iso_reader.h"
#include "platform/byte_span.h"
#include "test_support.h"
#include "tree_test_support.h"
#include "writer/byte_order.h"  // le32 and the others build the expected path tables

namespace vellumcast::test {
namespace {

void SetLabel8(ImageBuilder& b, const std::string& text) {
  std::memset(b.settings.volumeLabel, 0, sizeof b.settings.volumeLabel);
  b.settings.volumeLabel[0] = 8;
  std::memcpy(b.settings.volumeLabel + 1, text.data(), text.size());
  b.settings.volumeLabel[127] = uint8_t(text.size() + 1);
}

struct Written {
  bool ok;
  std::string image;
  std::string Sector(uint32_t n) const { return image.substr(size_t(n) * 2048, 2048); }
  // From `sector` to the end of the image, bounded.
  ByteSpan At(uint32_t sector) const {
    const ByteSpan all(reinterpret_cast<const uint8_t*>(image.data()), image.size());
    const size_t start = size_t(sector) * 2048;
    return all.Sub(start, start <= all.size ? all.size - start : 0);
  }
};

Written Write(HandTree& t, const TempDir& dir) {
  std::string target = dir / "out.iso";
  bool ok = t.b.WriteImage(Utf8ToUtf16(target).c_str(), nullptr, nullptr);
  return {ok, ReadFile(target)};
}

std::string Blanks(size_t n) { return std::string(n, ' '); }
std::string Field(const Written& w, uint32_t sector, uint32_t offset, uint32_t size) {
  return w.image.substr(size_t(sector) * 2048 + offset, size);
}

TEST(Iso9660Structures, EmptyFolderImage) {
  TempDir src;
  TempDir out;
  HandTree t(src.path() + "/");
  SetLabel8(t.b, "UNTITLED");
  t.b.SetApplicationId("vellumcast_console 1.0");
  t.PlanIsoOnly();
  Written w = Write(t, out);
  ASSERT_TRUE(w.ok) << t.b.log.error;
  ASSERT_EQ(w.image.size(), 32u * 2048);
  EXPECT_EQ(w.image.substr(0, 16 * 2048), std::string(16 * 2048, '\0'));

  // Primary Volume Descriptor.
  EXPECT_EQ(Field(w, 16, 0, 7), std::string("\x01"
                                            "CD001\x01",
                                            7));
  EXPECT_EQ(Field(w, 16, 8, 32), Blanks(32));
  EXPECT_EQ(Field(w, 16, 40, 32), "UNTITLED" + Blanks(24));
  EXPECT_EQ(w.At(16).U32Le(80), 32u);
  EXPECT_EQ(w.At(16).U32Be(84), 32u);
  EXPECT_EQ(Field(w, 16, 120, 12),
            std::string("\x01\x00\x00\x01\x01\x00\x00\x01\x00\x08\x08\x00", 12));
  EXPECT_EQ(w.At(16).U32Le(132), 10u);
  EXPECT_EQ(w.At(16).U32Be(136), 10u);
  EXPECT_EQ(w.At(16).U32Le(140), 18u);
  EXPECT_EQ(w.At(16).U32Le(144), 0u);
  EXPECT_EQ(w.At(16).U32Be(148), 19u);
  EXPECT_EQ(w.At(16).U32Be(152), 0u);
  // Root record: 34 bytes, extent 20, 68 bytes of directory, flags 2, identifier 0.
  EXPECT_EQ(w.At(16).U8(156 + 0), 34);
  EXPECT_EQ(w.At(16).U32Le(158), 20u);
  EXPECT_EQ(w.At(16).U32Be(162), 20u);
  EXPECT_EQ(w.At(16).U32Le(166), 68u);
  EXPECT_EQ(w.At(16).U8(156 + 25), 2);
  EXPECT_EQ(w.At(16).U16Le(156 + 28), 1u);
  EXPECT_EQ(w.At(16).U8(156 + 32), 1);
  EXPECT_EQ(w.At(16).U8(156 + 33), 0);
  EXPECT_EQ(Field(w, 16, 190, 128), "UNDEFINED" + Blanks(119));
  EXPECT_EQ(Field(w, 16, 318, 256), Blanks(256));
  EXPECT_EQ(Field(w, 16, 574, 128), "VELLUMCAST_CONSOLE 1.0" + Blanks(106));
  EXPECT_EQ(Field(w, 16, 702, 111), Blanks(111));
  EXPECT_EQ(Field(w, 16, 847, 17), std::string(16, '0') + '\0');
  EXPECT_EQ(Field(w, 16, 864, 17), std::string(16, '0') + '\0');
  EXPECT_EQ(Field(w, 16, 813, 17), Field(w, 16, 830, 17));
  EXPECT_EQ(w.At(16).U8(881), 1);
  EXPECT_EQ(Field(w, 16, 882, 2048 - 882), std::string(2048 - 882, '\0'));

  // Terminator, then one-record path tables in both byte orders.
  EXPECT_EQ(w.Sector(17), std::string("\xff"
                                      "CD001\x01",
                                      7) +
                              std::string(2041, '\0'));
  EXPECT_EQ(w.Sector(18),
            std::string("\x01\x00\x14\x00\x00\x00\x01\x00\x00\x00", 10) + std::string(2038, '\0'));
  EXPECT_EQ(w.Sector(19),
            std::string("\x01\x00\x00\x00\x00\x14\x00\x01\x00\x00", 10) + std::string(2038, '\0'));

  // The root directory: self and parent records, both pointing at the root.
  for (uint32_t offset : {0u, 34u}) {
    EXPECT_EQ(w.At(20).U8(offset + 0), 34);
    EXPECT_EQ(w.At(20).U32Le(offset + 2), 20u);
    EXPECT_EQ(w.At(20).U32Le(offset + 10), 68u);
    EXPECT_EQ(w.At(20).U8(offset + 25), 2);
    EXPECT_EQ(w.At(20).U8(offset + 32), 1);
    EXPECT_EQ(w.At(20).U8(offset + 33), offset ? 1 : 0);
  }
  EXPECT_EQ(Field(w, 20, 68, 2048 - 68), std::string(2048 - 68, '\0'));
  EXPECT_EQ(w.image.substr(21 * 2048), std::string(11 * 2048, '\0'));
}

TEST(Iso9660Structures, VolumeAndApplicationIdentifiers) {
  struct Case {
    std::string label;  // empty: a 16-bit label
    std::string application;
    std::string volumeField;
    std::string applicationField;
  } cases[] = {
      {"UNTITLED", "", "UNTITLED" + Blanks(24), Blanks(128)},
      {"Film", "abc", "FILM" + Blanks(28), "ABC" + Blanks(125)},
      {std::string(40, 'q'), "vellumcast_console 1.0 and more", std::string(31, 'Q') + " ",
       "VELLUMCAST_CONSOLE 1.0" + Blanks(106)},
      {"", "x", "NONE" + Blanks(28), "X" + Blanks(127)},
  };
  for (const auto& c : cases) {
    TempDir src, out;
    HandTree t(src.path() + "/");
    if (c.label.empty()) {
      std::memset(t.b.settings.volumeLabel, 0, 128);
      t.b.settings.volumeLabel[0] = 16;
      t.b.settings.volumeLabel[1] = 0x30;
      t.b.settings.volumeLabel[2] = 0x42;
      t.b.settings.volumeLabel[127] = 3;
    } else {
      SetLabel8(t.b, c.label);
    }
    t.b.SetApplicationId(c.application.c_str());
    t.PlanIsoOnly();
    Written w = Write(t, out);
    ASSERT_TRUE(w.ok) << t.b.log.error;
    EXPECT_EQ(Field(w, 16, 40, 32), c.volumeField) << c.label;
    EXPECT_EQ(Field(w, 16, 574, 128), c.applicationField) << c.application;
  }
}

// A tree whose identifiers have odd and even lengths, a directory of many entries that
// spans sectors, and a nested directory.
TEST(Iso9660Structures, PathTablesAndDirectoryRecords) {
  for (bool dvd : {false, true}) {
    TempDir src, out;
    HandTree t(src.path() + "/");
    t.b.tree.dvdVideoMode = dvd;
    TreeNode* ab = t.AddDir(t.b.tree.root, "AB", "AB");
    TreeNode* abc = t.AddDir(t.b.tree.root, "ABC", "ABC");
    TreeNode* deep = t.AddDir(ab, "DEEP", "DEEP");
    t.AddFile(t.b.tree.root, "A.TXT", "A.TXT;1", 5);
    WriteFile(src / "A.TXT", "hello");
    for (int i = 0; i < 70; ++i) {
      std::string name = "FILE" + std::to_string(1000 + i) + ".BIN";
      t.AddFile(abc, name, (name + ";1").c_str(), uint64_t(i) * 100);
      WriteFile(src / ("ABC/" + name), PatternBytes(size_t(i) * 100, i));
    }
    t.AddFile(deep, "X", "X;1", 3000);
    WriteFile(src / "AB/DEEP/X", PatternBytes(3000, 99));
    t.PlanIsoOnly();
    ASSERT_GT(abc->isoDirSize, 2048u);
    Written w = Write(t, out);
    ASSERT_TRUE(w.ok) << t.b.log.error;

    // Path tables: root, AB, ABC (parent 1), DEEP (parent 2); padding after odd lengths.
    const uint32_t dirs = 18 + 2 * t.b.plan.pathTableSectors;
    std::string expectedL, expectedM;
    auto add = [&](const std::string& id, uint32_t location, uint16_t parent) {
      uint8_t rec[16] = {};
      rec[0] = uint8_t(id.size());
      PutLe32(rec + 2, location);
      PutLe16(rec + 6, parent);
      std::memcpy(rec + 8, id.data(), id.size());
      size_t n = 8 + id.size() + id.size() % 2;
      expectedL.append(reinterpret_cast<char*>(rec), n);
      PutBe32(rec + 2, location);
      PutBe16(rec + 6, parent);
      expectedM.append(reinterpret_cast<char*>(rec), n);
    };
    add(std::string(1, '\0'), dirs, 1);
    add("AB", dirs + ab->isoDirLocation, 1);
    add("ABC", dirs + abc->isoDirLocation, 1);
    add("DEEP", dirs + deep->isoDirLocation, 2);
    EXPECT_EQ(t.b.plan.pathTableBytes, expectedL.size());
    EXPECT_EQ(Field(w, 18, 0, 2048), expectedL + std::string(2048 - expectedL.size(), '\0'));
    EXPECT_EQ(Field(w, 19, 0, 2048), expectedM + std::string(2048 - expectedM.size(), '\0'));

    // Every record of ABC's extent: none crosses a sector boundary, the gaps are zero,
    // identifiers of even length are followed by one zero byte.
    const uint32_t extra = dvd ? 6 : 0;
    const ByteSpan extent = w.At(dirs + abc->isoDirLocation);
    uint32_t offset = 0, records = 0;
    while (offset < abc->isoDirSize) {
      uint8_t length = extent.U8(offset);
      if (length == 0) {  // zero to the end of the sector
        uint32_t end = (offset / 2048 + 1) * 2048;
        for (uint32_t i = offset; i < end; ++i) ASSERT_EQ(extent.U8(i), 0) << i;
        offset = end;
        continue;
      }
      ASSERT_LE(offset % 2048 + length, 2048u);
      uint8_t idLength = extent.U8(offset + 32);
      uint32_t expected = records < 2 ? 34 + extra : 33 + idLength + (idLength % 2 == 0) + extra;
      EXPECT_EQ(length, expected);
      for (uint32_t i = 33 + idLength; i < length; ++i) EXPECT_EQ(extent.U8(offset + i), 0);
      offset += length;
      ++records;
    }
    EXPECT_EQ(records, 72u);
    EXPECT_EQ(offset, abc->isoDirSize);
    // The parent record of DEEP points at AB.
    const ByteSpan deepExtent = w.At(dirs + deep->isoDirLocation);
    EXPECT_EQ(deepExtent.U32Le(34 + extra + 2), dirs + ab->isoDirLocation);
    EXPECT_EQ(deepExtent.U32Be(34 + extra + 14), ab->isoDirSize);

    EXPECT_EQ(CompareIsoWithFolder(out / "out.iso", src.path()), "") << "dvd " << dvd;
  }
}

}  // namespace
}  // namespace vellumcast::test
