// The mutations of a finished image, located by the bytes of its structures.
#include "image_mutations.h"

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

namespace vellumcast::test {
namespace {

constexpr size_t kSector = 2048;

uint8_t* At(std::string& img, size_t offset) {
  return reinterpret_cast<uint8_t*>(img.data()) + offset;
}
uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
void PutBoth32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = p[7 - i] = uint8_t(v >> (8 * i));
}

// Recomputes the checksum and CRC of the UDF tag at `d` (CRC-ITU-T, ECMA-167 1/7.2.6).
void Reseal(uint8_t* d) {
  uint16_t crc = 0;
  for (size_t i = 0; i < Le16(d + 10); ++i) {
    crc ^= uint16_t(d[16 + i] << 8);
    for (int b = 0; b < 8; ++b)
      crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
  }
  d[8] = uint8_t(crc);
  d[9] = uint8_t(crc >> 8);
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum = uint8_t(sum + d[i]);
  d[4] = sum;
}

// Byte offset of `bytes` from `from` on; npos when absent.
size_t Find(const std::string& img, const std::string& bytes, size_t from) {
  return img.size() < 17 * kSector ? std::string::npos : img.find(bytes, from);
}

size_t IsoRootOffset(std::string& img) {
  return size_t(Le32(At(img, 16 * kSector + 158))) * kSector;
}
// The record of `identifier` in the root directory, recorded in capitals or not.
size_t IsoRecord(std::string& img, std::string identifier) {
  const size_t root = IsoRootOffset(img);
  size_t at = Find(img, identifier, root);
  for (char& c : identifier) c = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (at == std::string::npos || at >= root + kSector) at = Find(img, identifier, root);
  return at == std::string::npos || at >= root + kSector ? std::string::npos : at - 33;
}
// `name` in UCS-2 big-endian (ASCII names).
std::string Ucs2(const std::string& name) {
  std::string out;
  for (char c : name) {
    out.push_back('\0');
    out.push_back(c);
  }
  return out;
}
// The root directory of the Joliet tree (its Supplementary Volume Descriptor's root).
size_t JolietRootOffset(std::string& img) {
  for (size_t s = 17; s < 32 && (s + 1) * kSector <= img.size(); ++s)
    if (*At(img, s * kSector) == 2) return size_t(Le32(At(img, s * kSector + 158))) * kSector;
  return std::string::npos;
}
// The File Identifier Descriptor of `name` (16-bit compressed Unicode, no
// implementation use), searched from the first anchor on.
size_t Fid(std::string& img, const std::string& name) {
  std::string identifier = Ucs2(name);
  identifier.insert(identifier.begin(), '\x10');  // compression identifier 16
  const size_t at = Find(img, identifier, 256 * kSector);
  return at == std::string::npos || Le16(At(img, at - 38)) != 257 ? std::string::npos : at - 38;
}
size_t TagSector(std::string& img, uint16_t id) {
  for (size_t s = 16; s < img.size() / kSector; ++s)
    if (Le16(At(img, s * kSector)) == id && Le32(At(img, s * kSector + 12)) == s) return s;
  return 0;
}
uint8_t* FileEntryOf(std::string& img, const std::string& name) {
  const size_t fid = Fid(img, name), pd = TagSector(img, 5);
  if (fid == std::string::npos || pd == 0) return nullptr;
  return At(img, (Le32(At(img, pd * kSector + 188)) + Le32(At(img, fid + 24))) * kSector);
}
// Every Volume Descriptor Sequence copy of tag `from` becomes tag `to`.
bool Retag(std::string& img, uint16_t from, uint16_t to) {
  bool found = false;
  for (size_t s = 16; s < 256 + 64 && (s + 1) * kSector <= img.size(); ++s) {
    uint8_t* d = At(img, s * kSector);
    if (Le16(d) == from && Le32(d + 12) == s) {
      d[0] = uint8_t(to);
      Reseal(d);
      found = true;
    }
  }
  return found;
}

// Byte `field` of the root directory's "." record set to `value`.
bool SetRootByte(std::string& img, size_t field, uint8_t value) {
  *At(img, IsoRootOffset(img) + field) = value;
  return true;
}
// Field `field` of the record of `identifier` set to `value`.
bool SetRecordByte(std::string& img, const char* identifier, size_t field, uint8_t value) {
  const size_t rec = IsoRecord(img, identifier);
  if (rec == std::string::npos) return false;
  *At(img, rec + field) = value;
  return true;
}
// The Rock Ridge entry `signature` of the record of A.TXT;1.
uint8_t* RockRidgeEntry(std::string& img, const char* signature) {
  const size_t rec = IsoRecord(img, "A.TXT;1");
  const size_t at = rec == std::string::npos ? rec : Find(img, signature, rec);
  return at == std::string::npos ? nullptr : At(img, at);
}
bool ChangeEntry(std::string& img, const char* name, size_t field, uint8_t bits) {
  uint8_t* fe = FileEntryOf(img, name);
  if (!fe) return false;
  fe[field] = bits;
  Reseal(fe);
  return true;
}

}  // namespace

const ImageMutation kImageMutations[] = {
    {"root-dot-gap", [](std::string& i) { return SetRootByte(i, 27, 1); },
     "first record has an interleave unit or gap", "iso9660"},
    {"root-dot-attributes", [](std::string& i) { return SetRootByte(i, 1, 1); },
     "first record has an extended attribute record", "iso9660"},
    {"root-dot-length",
     [](std::string& i) {
       PutBoth32(At(i, IsoRootOffset(i) + 10), 68);
       return true;
     },
     "first record's data length differs", "iso9660"},
    {"version", [](std::string& i) { return SetRecordByte(i, "A.TXT;1", 39, '2'); },
     "/a.txt: identifier's version", "iso9660"},
    {"name-length", [](std::string& i) { return SetRecordByte(i, "A.TXT;1", 32, 6); },
     "/a.txt: identifier's version", "iso9660"},
    {"hidden-flag", [](std::string& i) { return SetRecordByte(i, "A.TXT;1", 25, 1); },
     "/a.txt: file flags 0x1", ""},
    {"px-type",
     [](std::string& i) {
       uint8_t* px = RockRidgeEntry(i, "PX");
       if (px) px[5] = 0x41;  // the little-endian copy, which Linux reads: 0100640 -> 040640
       return px != nullptr;
     },
     "px entry wrong", "iso9660 ro"},
    {"px-type-both",
     [](std::string& i) {
       uint8_t* px = RockRidgeEntry(i, "PX");
       if (px) PutBoth32(px + 4, 040640);
       return px != nullptr;
     },
     "/a.txt: mode 040640, expected 0100640 (Rock Ridge)", "iso9660 ro"},
    {"px-owner",
     [](std::string& i) {
       uint8_t* px = RockRidgeEntry(i, "PX");
       if (px) PutBoth32(px + 20, 4242);
       return px != nullptr;
     },
     "/a.txt: owner 4242:", ""},
    {"tf-time",
     [](std::string& i) {
       uint8_t* tf = RockRidgeEntry(i, "TF");
       if (tf) tf[5] ^= 1;  // the year of the modification time
       return tf != nullptr;
     },
     "/a.txt: modification time", ""},
    {"joliet-extent",
     [](std::string& i) {
       const size_t other = IsoRecord(i, "X2.DAT;1");
       const size_t root = JolietRootOffset(i);
       const size_t joliet = root == std::string::npos ? root : Find(i, Ucs2("x1.dat"), root);
       if (other == std::string::npos || joliet == std::string::npos) return false;
       PutBoth32(At(i, joliet - 33 + 2), Le32(At(i, other + 2)));
       return true;
     },
     "/x1.dat: extent at sector", "iso9660 ro,norock"},
    {"udf-fid-hidden",
     [](std::string& i) {
       const size_t fid = Fid(i, "a.txt");
       if (fid == std::string::npos) return false;
       *At(i, fid + 18) |= 1;
       Reseal(At(i, fid));
       return true;
     },
     "/a.txt: characteristics 0x1, expected 0x0 (UDF 1.02)", "udf"},
    {"udf-parent-fid",
     [](std::string& i) {
       const size_t fid = Fid(i, "a.txt");  // the root's block begins with its parent FID
       if (fid == std::string::npos) return false;
       uint8_t* parent = At(i, fid / kSector * kSector);
       parent[18] |= 1;
       Reseal(parent);
       return true;
     },
     "parent entry's characteristics", ""},
    {"udf-permissions", [](std::string& i) { return ChangeEntry(i, "a.txt", 44, 0xA7); },
     "/a.txt: permissions 0x18A7, expected 0x1880 (UDF 1.02)", ""},
    {"udf-file-type", [](std::string& i) { return ChangeEntry(i, "a.txt", 27, 249); },
     "/a.txt: file type 249, expected 5", ""},
    {"udf-links", [](std::string& i) { return ChangeEntry(i, "a.txt", 48, 2); },
     "/a.txt: link count 2, expected 1", ""},
    {"udf-no-primary", [](std::string& i) { return Retag(i, 1, 4); },
     "main volume descriptor sequence: no primary volume descriptor", "udf"},
    {"udf-no-implementation-use", [](std::string& i) { return Retag(i, 4, 1); },
     "no implementation use volume descriptor", "udf"},
    {"udf-no-unallocated-space", [](std::string& i) { return Retag(i, 7, 4); },
     "no unallocated space descriptor", ""},  // the kernel mounts it all the same
};
const size_t kImageMutationCount = sizeof kImageMutations / sizeof kImageMutations[0];

void MakeMutationFolder(const std::string& root) {
  auto write = [&](const std::string& name, const std::string& bytes) {
    const std::filesystem::path path = root + "/" + name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  };
  write("a.txt", "hello\n");
  std::string x1(3000, 'a'), x2(3000, 'b');
  for (size_t n = 0; n < x1.size(); ++n) x1[n] = char('a' + n % 26), x2[n] = char('A' + n % 26);
  write("x1.dat", x1);
  write("x2.dat", x2);
  write("sub/deeper/c.txt", "c\n");
  chmod((root + "/a.txt").c_str(), 0640);
}

}  // namespace vellumcast::test
