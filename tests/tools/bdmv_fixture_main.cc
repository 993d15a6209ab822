// Test-only tool: writes a generated BDMV folder for the interoperability checks.
//   vellumcast_bdmv_fixture stereo|flat|broken|damaged|partial FOLDER
// stereo: two 3D clip pairs with their SSIF files; flat: the same without 3D content;
// broken: 3D declared and SSIF files present, but the extent start points of clip 4 fail
// the checks, so the folder must be imaged as a plain one; damaged: the same with clip
// 1's start points off the 32-packet grid, so its extents would not cover its stream
// file; partial: clips 1 and 2 end inside a 2048-byte sector, no SSIF folder.
#include <cstdio>
#include <cstring>

#include "bdmv_fixture.h"

int main(int argc, char** argv) {
  using namespace vellumcast::test;
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s stereo|flat|broken|damaged|partial FOLDER\n", argv[0]);
    return 2;
  }
  BdmvFixture fixture;
  if (std::strcmp(argv[1], "stereo") == 0) {
    fixture = StereoscopicFixture();
  } else if (std::strcmp(argv[1], "flat") == 0) {
    fixture = FlatFixture();
  } else if (std::strcmp(argv[1], "broken") == 0) {
    fixture = StereoscopicFixture();
    fixture.clips[3].startPoints = {0, 32, 32};  // clip 4: not strictly increasing
  } else if (std::strcmp(argv[1], "damaged") == 0) {
    fixture = StereoscopicFixture();
    fixture.clips[0].startPoints = {0, 100, 192};  // clip 1: 100 is off the grid
  } else if (std::strcmp(argv[1], "partial") == 0) {
    fixture = StereoscopicFixture();
    fixture.clips[0].packets = 300;  // 57600 bytes: 28 sectors and 256 bytes
    fixture.clips[1].packets = 200;  // 38400 bytes: 18 sectors and 1536 bytes
    fixture.writeSsif = false;
  } else {
    std::fprintf(stderr, "unknown kind %s\n", argv[1]);
    return 2;
  }
  fixture.Write(argv[2]);
  return 0;
}
