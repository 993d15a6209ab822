// Bootable images, built whole and read as bytes: the El Torito boot record and catalog,
// the boot information table in the image's copy of the boot file, the hybrid MBR and
// GPT (CRCs, backup at the end); -verify passes and -compare finds damage in each; every
// refusal is an error before anything is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "build/build_job.h"
#include "platform/byte_span.h"
#include "platform/text.h"
#include "test_support.h"

namespace vellumcast::test {
namespace {

// Bitwise CRC-32 (reflected 0xEDB88320), written apart from the writer's table.
uint32_t SlowCrc32(const std::string& bytes, size_t at, size_t n) {
  uint32_t c = 0xFFFFFFFF;
  for (size_t i = at; i < at + n; ++i) {
    c ^= uint8_t(bytes[i]);
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

struct Image {
  std::string bytes;
  ByteSpan At(size_t pos, size_t n) const {
    return ByteSpan(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()).Sub(pos, n);
  }
};

void MakeBootSource(const TempDir& src) {
  WriteFile(src / "isolinux/isolinux.bin", PatternBytes(5001, 7));
  WriteFile(src / "efi/efiboot.img", PatternBytes(70000, 8));
  WriteFile(src / "readme.txt", "boot me\n");
}

std::unique_ptr<BuildJob> Build(const TempDir& src, const std::string& target,
                                FileSystemChoice choice, const BuildOptions& options) {
  return StartImageBuild(Utf8ToUtf16(src.path()).c_str(), u"BOOT", choice,
                         Utf8ToUtf16(target).c_str(), "Vellumcast ", "test", false, nullptr,
                         nullptr, options);
}

BuildOptions BootOptions(bool hiddenCatalog) {
  BuildOptions o;
  o.buildTime = 1700000000;
  o.rockRidge = o.joliet = true;
  o.verify = true;
  o.boot.biosFile = u"isolinux/isolinux.bin";
  o.boot.efiFile = u"/efi/efiboot.img";
  o.boot.infoTable = true;
  o.boot.hybrid = true;
  o.boot.catalogGiven = hiddenCatalog;
  return o;
}

TEST(BootImage, CatalogInfoTableAndPartitionTables) {
  TempDir src;
  MakeBootSource(src);
  const std::string bios = ReadFile(src / "isolinux/isolinux.bin");
  const std::string efi = ReadFile(src / "efi/efiboot.img");
  for (FileSystemChoice choice : {FileSystemChoice::Iso9660, FileSystemChoice::Iso9660Udf102}) {
    for (bool hidden : {false, true}) {
      SCOPED_TRACE(std::to_string(int(choice)) + (hidden ? " hidden catalog" : " catalog file"));
      TempDir out;
      auto job = Build(src, out / "boot.iso", choice, BootOptions(hidden));
      ASSERT_TRUE(job->succeeded) << job->errorMessage;
      ASSERT_TRUE(job->check.Matches()) << job->check.differences[0];
      EXPECT_EQ(ReadFile(src / "isolinux/isolinux.bin"), bios);  // the source is untouched
      Image image{ReadFile(out / "boot.iso")};
      ASSERT_EQ(image.bytes.size() % 2048, 0u);
      EXPECT_EQ(image.bytes.size(), size_t(job->volumeSectors) * 2048);

      ByteSpan record = image.At(17 * 2048, 2048);
      EXPECT_EQ(record.Text(1, 5), "CD001");
      EXPECT_EQ(record.Text(7, 23), "EL TORITO SPECIFICATION");
      const uint32_t catalogSector = record.U32Le(0x47);
      ByteSpan catalog = image.At(catalogSector * 2048, 2048);
      uint16_t sum = 0;
      for (size_t i = 0; i < 32; i += 2) sum = uint16_t(sum + catalog.U16Le(i));
      EXPECT_EQ(sum, 0);
      EXPECT_EQ(catalog.U8(0), 1);
      EXPECT_EQ(catalog.U8(1), 0x00);
      EXPECT_EQ(catalog.U16Be(30), 0x55AA);
      // Initial entry: BIOS, no emulation, 4 virtual sectors; section: UEFI, final.
      EXPECT_EQ(catalog.U8(32), 0x88);
      EXPECT_EQ(catalog.U8(33), 0);
      EXPECT_EQ(catalog.U16Le(38), 4);
      const uint32_t biosSector = catalog.U32Le(40);
      EXPECT_EQ(catalog.U8(64), 0x91);
      EXPECT_EQ(catalog.U8(65), 0xEF);
      EXPECT_EQ(catalog.U16Le(66), 1);
      EXPECT_EQ(catalog.U8(96), 0x88);
      EXPECT_EQ(catalog.U16Le(102), (efi.size() + 511) / 512);
      const uint32_t efiSector = catalog.U32Le(104);
      EXPECT_EQ(image.bytes.substr(efiSector * 2048, efi.size()), efi);

      // The boot information table: PVD 16, the file's sector, length, checksum.
      std::string copy = image.bytes.substr(biosSector * 2048, bios.size());
      ByteSpan table = image.At(biosSector * 2048, 64);
      uint32_t checksum = 0;
      for (size_t i = 64; i < bios.size(); i += 4) {
        std::string word = bios.substr(i, 4);
        word.resize(4, '\0');
        checksum += ByteSpan(reinterpret_cast<const uint8_t*>(word.data()), 4).U32Le(0);
      }
      EXPECT_EQ(table.U32Le(8), 16u);
      EXPECT_EQ(table.U32Le(12), biosSector);
      EXPECT_EQ(table.U32Le(16), bios.size());
      EXPECT_EQ(table.U32Le(20), checksum);
      EXPECT_EQ(copy.substr(0, 8) + copy.substr(64), bios.substr(0, 8) + bios.substr(64));

      // MBR: the image, the EFI image, the protective entry; 55 AA.
      const uint64_t blocks = image.bytes.size() / 512;
      ByteSpan mbr = image.At(0, 512);
      EXPECT_EQ(mbr.U16Be(510), 0x55AA);
      EXPECT_EQ(mbr.U8(446), 0x80);
      EXPECT_EQ(mbr.U8(450), 0x17);
      EXPECT_EQ(mbr.U32Le(454), 0u);
      EXPECT_EQ(mbr.U32Le(458), blocks);
      EXPECT_EQ(mbr.U8(466), 0xEF);
      EXPECT_EQ(mbr.U32Le(470), efiSector * 4);
      EXPECT_EQ(mbr.U32Le(474), (efi.size() + 511) / 512);
      EXPECT_EQ(mbr.U8(482), 0xEE);
      EXPECT_EQ(mbr.U32Le(486), 1u);
      // GPT: both headers and arrays with their CRCs; the ESP on the EFI image.
      for (uint64_t at : {uint64_t(1), blocks - 1}) {
        ByteSpan h = image.At(at * 512, 92);
        EXPECT_EQ(h.Text(0, 8), "EFI PART");
        std::string zeroed = image.bytes.substr(at * 512, 92);
        zeroed.replace(16, 4, 4, '\0');
        EXPECT_EQ(h.U32Le(16), SlowCrc32(zeroed, 0, 92));
        EXPECT_EQ(h.U64Le(24), at);
        EXPECT_EQ(h.U64Le(32), at == 1 ? blocks - 1 : 1);
        EXPECT_EQ(h.U32Le(88), SlowCrc32(image.bytes, h.U64Le(72) * 512, 128 * 128));
        size_t n = 0;  // the EFI System Partition among the ISO data's pieces
        while (n < 4 && image.At(h.U64Le(72) * 512 + n * 128, 4).U32Le(0) != 0xC12A7328u) ++n;
        ByteSpan esp = image.At(h.U64Le(72) * 512 + n * 128, 128);
        EXPECT_LT(n, 4u);
        EXPECT_EQ(esp.U64Le(32), efiSector * 4);
        EXPECT_EQ(esp.U64Le(40), efiSector * 4 + (efi.size() + 511) / 512 - 1);
      }
    }
  }
}

// -compare names what is damaged in each structure; the files themselves are whole.
TEST(BootImage, CompareFindsDamagedBootStructures) {
  TempDir src, out;
  MakeBootSource(src);
  ASSERT_TRUE(
      Build(src, out / "boot.iso", FileSystemChoice::Iso9660Udf102, BootOptions(true))->succeeded);
  const std::string good = ReadFile(out / "boot.iso");
  const uint32_t catalog =
      ByteSpan(reinterpret_cast<const uint8_t*>(good.data()), good.size()).U32Le(17 * 2048 + 0x47);
  const uint32_t bios = ByteSpan(reinterpret_cast<const uint8_t*>(good.data()), good.size())
                            .U32Le(catalog * 2048 + 40);
  const struct {
    size_t offset;
    const char* expected;
  } kCases[] = {
      {17 * 2048 + 10, "no El Torito boot record"},
      {catalog * 2048 + 5, "validation entry is damaged"},
      {catalog * 2048 + 38, "loads"},
      {bios * 2048 + 20, "boot information table is wrong"},
      {510, "no Master Boot Record"},
      {512 + 40, "primary header's CRC"},
      {good.size() - 512 + 24, "backup header's CRC"},
      {1024 + 200, "primary header's partition entries"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.expected);
    std::string bad = good;
    bad[c.offset] = char(bad[c.offset] ^ 0x5A);
    WriteFile(out / "bad.iso", bad);
    BuildOptions o = BootOptions(true);
    o.verify = false;
    o.compareImage = Utf8ToUtf16(out / "bad.iso");
    auto job = Build(src, "", FileSystemChoice::Iso9660Udf102, o);
    ASSERT_TRUE(job->succeeded) << job->errorMessage;
    std::string all;
    for (const std::string& d : job->check.differences) all += d + "\n";
    EXPECT_NE(all.find(c.expected), std::string::npos) << all;
  }
}

// Each is an "Error:" with exit status 1, and no image is left.
TEST(BootImage, RefusalsBeforeAnythingIsWritten) {
  TempDir src, out;
  MakeBootSource(src);
  WriteFile(src / "tiny.bin", "short");
  WriteFile(src / "isolinux/boot.catalog", "taken");
  WriteFile(out / "short.mbr", std::string(100, 'x'));
  std::filesystem::resize_file(src / "tiny.bin", 5);
  WriteFile(src / "huge.img", "");
  std::filesystem::resize_file(src / "huge.img", 65536ull * 512);
  const struct {
    std::string args;
    const char* expected;
  } kCases[] = {
      {"-fs BD --boot isolinux/isolinux.bin --boot-catalog=c", "choose -filesystem CD or DVD"},
      {"-fs 2 --hybrid", "choose -filesystem CD or DVD"},
      {"-fs CD --boot missing.bin --boot-catalog=c", "is not in the source folder"},
      {"-fs CD --boot ../outside.bin", "is not inside the source folder"},
      {"-fs CD --boot isolinux --boot-catalog=c", "is not a plain file"},
      {"-fs DVD --efi-boot huge.img --boot-catalog=c", "a boot catalog entry describes"},
      {"-fs CD --boot tiny.bin --boot-info-table --boot-catalog=c", "shorter than 64 bytes"},
      {"-fs CD --boot isolinux/isolinux.bin", "is a name the source already has"},
      {"-fs CD --boot isolinux/isolinux.bin --boot-load-size 0", "--boot-load-size takes"},
      {"-fs CD --boot isolinux/isolinux.bin --boot-load-size=65536", "--boot-load-size takes"},
      {"-fs CD --boot=", "--boot needs a value"},
      {"-fs CD --hybrid-mbr " + Quote(out / "short.mbr"), "fewer than 432 bytes"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.args);
    CommandResult r = RunCommand(Quote(Binary()) + " " + Quote(src.path()) + " " +
                                 Quote(out / "x.iso") + " -yes -quiet " + c.args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out / "x.iso"));
  }
}

}  // namespace
}  // namespace vellumcast::test
