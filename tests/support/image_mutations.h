// Single changes of a finished image that readers show: the record fields and volume
// descriptors -verify and -compare must check. Each applies to the image of the
// mutation folder (MakeMutationFolder) built as ISO 9660 + UDF 1.02 with -R -J, and
// recomputes what a reader would otherwise refuse first (both-byte-order copies, UDF
// tag checksums and CRCs). Used by the tests and by the interop tool vellumcast_mutate.
#pragma once

#include <cstddef>
#include <string>

namespace vellumcast::test {

struct ImageMutation {
  const char* name;
  bool (*apply)(std::string& image);  // false when the structure is not found
  const char* reported;               // what -compare says about it
  const char* kernel;                 // how the Linux kernel sees it: "iso9660 OPTIONS", "udf"
};

extern const ImageMutation kImageMutations[];
extern const size_t kImageMutationCount;

// The folder the mutations expect: a.txt (mode 0640), x1.dat and x2.dat of 3000 bytes
// each, sub/deeper/c.txt.
void MakeMutationFolder(const std::string& root);

}  // namespace vellumcast::test
