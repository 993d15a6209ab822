// vellumcast_mutate: the mutations of tests/support/image_mutations.h for the interop
// checks. "vellumcast_mutate folder DIR" writes the folder they expect; "vellumcast_mutate
// list" prints "NAME<TAB>KERNEL<TAB>REPORTED" per mutation (KERNEL "-": a mount does not
// show it); "vellumcast_mutate NAME IN OUT"
// writes IN changed by NAME to OUT.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "image_mutations.h"

using vellumcast::test::kImageMutationCount;
using vellumcast::test::kImageMutations;

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "folder") == 0) {
    vellumcast::test::MakeMutationFolder(argv[2]);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "list") == 0) {
    for (size_t i = 0; i < kImageMutationCount; ++i)
      std::printf("%s\t%s\t%s\n", kImageMutations[i].name,
                  *kImageMutations[i].kernel ? kImageMutations[i].kernel : "-",
                  kImageMutations[i].reported);
    return 0;
  }
  if (argc != 4) {
    std::fprintf(stderr, "usage: vellumcast_mutate folder DIR | list | NAME IN OUT\n");
    return 2;
  }
  for (size_t i = 0; i < kImageMutationCount; ++i) {
    if (std::strcmp(argv[1], kImageMutations[i].name) != 0) continue;
    std::ifstream in(argv[2], std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::string image = bytes.str();
    if (!in || !kImageMutations[i].apply(image)) {
      std::fprintf(stderr, "vellumcast_mutate: %s: structure not found in %s\n", argv[1], argv[2]);
      return 1;
    }
    std::ofstream(argv[3], std::ios::binary) << image;
    return 0;
  }
  std::fprintf(stderr, "vellumcast_mutate: no mutation %s\n", argv[1]);
  return 2;
}
