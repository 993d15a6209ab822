// Bounded random mutation of real images with fixed seeds: the reader gives problems,
// never a crash, a hang or a read past a buffer (run under ASan and UBSan in make check).
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "choice_text.h"
#include "reader/ecma167_descriptors.h"
#include "reader/image_survey.h"
#include "reader/iso9660_tree.h"
#include "reader/udf_tree.h"
#include "reader_images.h"

namespace vellumcast {
namespace {

// The sectors worth mutating: from the volume descriptors to the first file data, and
// every sector that begins with a UDF descriptor tag whose checksum holds.
std::vector<size_t> StructureSectors(const std::string& img) {
  ImageSource image;
  image.OpenMemory(reinterpret_cast<const uint8_t*>(img.data()), img.size());
  uint64_t firstData = image.Sectors();
  for (int fs = 0; fs < 2; ++fs) {
    ImageTree tree;
    ReadReport report;
    if (fs == 0 ? !ReadIso9660Tree(image, tree, report) : !ReadUdfTree(image, tree, report))
      continue;
    for (const ImageEntry& e : tree.entries)
      for (const ImageExtent& x : e.extents)
        if (!x.zero && x.bytes > 0) firstData = std::min(firstData, x.sector);
  }
  std::vector<size_t> sectors;
  for (size_t s = 16; s < image.Sectors(); ++s) {
    const uint8_t* d = reinterpret_cast<const uint8_t*>(img.data()) + s * 2048;
    uint8_t sum = 0;
    for (int i = 0; i < 16; ++i)
      if (i != 4) sum = uint8_t(sum + d[i]);
    const uint16_t id = PeekUdfTagId(ByteSpan(d, 2048));
    if (s < firstData || (id != 0 && sum == d[4])) sectors.push_back(s);
  }
  return sectors;
}

void Mutate(std::string& img, const std::vector<size_t>& hot, std::mt19937& rng) {
  const int count = 1 + int(rng() % 6);
  for (int m = 0; m < count; ++m) {
    const size_t sector = hot[rng() % hot.size()];
    const size_t at = sector * 2048 + rng() % 2048;
    switch (rng() % 4) {
      case 0: img[at] = char(img[at] ^ (1 << (rng() % 8))); break;
      case 1: img[at] = char(rng()); break;
      case 2: {  // a length, count or location field
        const size_t aligned = at - at % 4;
        const uint32_t v = rng() % 2 ? uint32_t(rng()) : uint32_t(rng() % 4096);
        for (int i = 0; i < 4; ++i) img[aligned + i] = char(v >> (8 * i));
        break;
      }
      default: img[rng() % img.size()] = char(rng()); break;
    }
  }
  if (rng() % 20 == 0) img.resize((1 + rng() % (img.size() / 2048)) * 2048 - (rng() % 2) * 100);
}

// Reads everything the damaged image offers and checks what the reader promises.
void ReadAll(const std::string& img) {
  ImageSource image;
  image.OpenMemory(reinterpret_cast<const uint8_t*>(img.data()), img.size());
  (void)SurveyImage(image);
  std::vector<uint8_t> buffer(64 * 1024);
  for (int fs = 0; fs < 4; ++fs) {
    ImageTree tree;
    ReadReport report;
    if (fs < 3) {
      (void)ReadIso9660Tree(image, tree, report, {}, IsoNames(fs));  // plain, Rock Ridge, Joliet
    } else {
      (void)ReadUdfTree(image, tree, report);
    }
    EXPECT_LE(report.problems.size(), report.limit);
    for (const ImageEntry& e : tree.entries) {
      if (e.directory) continue;
      uint64_t total = 0;
      for (const ImageExtent& x : e.extents) total += x.bytes;
      if (e.embedded.empty()) {
        EXPECT_EQ(total, e.size) << e.path;
      }
      const size_t n = size_t(std::min<uint64_t>(e.size, buffer.size()));
      (void)ReadEntryBytes(image, e, 0, buffer.data(), n);
      if (e.size > n) (void)ReadEntryBytes(image, e, e.size - n, buffer.data(), n);
    }
  }
}

TEST(ReaderFuzz, BoundedMutationsOfRealImagesGiveProblemsNotCrashes) {
  struct Base {
    void (*make)(const std::string&);
    FileSystemChoice choice;
    bool rockRidgeJoliet;
  };
  // Every file-system choice, the ISO 9660 ones with and without Rock Ridge and Joliet.
  const Base bases[] = {{test::MakeReaderTree, FileSystemChoice::Iso9660, false},
                        {test::MakeReaderTree, FileSystemChoice::Iso9660, true},
                        {test::MakeReaderTree, FileSystemChoice::Iso9660Udf102, false},
                        {test::MakeReaderTree, FileSystemChoice::Iso9660Udf102, true},
                        {test::MakeReaderTree, FileSystemChoice::Udf102, false},
                        {test::MakeReaderTree, FileSystemChoice::Udf250, false},
                        {test::MakeStereoFolder, FileSystemChoice::Default, false}};
  // VELLUMCAST_FUZZ_CASES runs more cases by hand; make check runs 50 per image.
  const char* more = std::getenv("VELLUMCAST_FUZZ_CASES");
  const uint32_t kCasesPerImage = more ? uint32_t(std::strtoul(more, nullptr, 10)) : 50;
  for (const Base& base : bases) {
    test::TempDir source, out;
    base.make(source.path());
    const std::string original =
        test::BuildReaderImage(source.path(), out / "image.iso", base.choice, base.rockRidgeJoliet);
    ASSERT_FALSE(original.empty());
    const std::vector<size_t> hot = StructureSectors(original);

    ASSERT_FALSE(hot.empty());
    // Seeds 0 and 1: the type L path table's first parent number, once 0 and once past
    // the table (an index read from the image); then random mutations.
    for (uint32_t seed = 0; seed <= kCasesPerImage + 1; ++seed) {
      std::mt19937 rng(seed * 7919 + uint32_t(base.choice) + (base.rockRidgeJoliet ? 100 : 0));
      std::string img = original;
      if (seed > 1) {
        Mutate(img, hot, rng);
      } else if (img[16 * 2048 + 1] == 'C') {  // "CD001": an ISO 9660 volume
        const size_t table = size_t(test::Le32(test::At(img, 16) + 140)) * 2048;
        img[table + 6] = char(seed == 0 ? 0 : 0xFF);
        img[table + 7] = char(seed == 0 ? 0 : 0xFF);
      }
      SCOPED_TRACE(std::string("choice ") + ChoiceText(base.choice) + " seed " +
                   std::to_string(seed));
      ReadAll(img);
    }
  }
}

}  // namespace
}  // namespace vellumcast
