// Images for the reader's tests: source folders of every kind (a general tree, a
// DVD-Video folder, the stereoscopic Blu-ray fixture) built in-process.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "bdmv_fixture.h"
#include "build/build_job.h"
#include "choice_text.h"
#include "platform/text.h"
#include "test_support.h"
#include "udf_tag_check.h"

namespace vellumcast::test {

// Byte access to an image held in a string, for making damaged copies (fields are read
// with Le16 and Le32 of udf_tag_check.h).
inline uint8_t* At(std::string& img, size_t sector) {
  return reinterpret_cast<uint8_t*>(img.data()) + sector * 2048;
}

// The first sector from `from` that begins with a UDF tag of `id` (and, when `fileType`
// is set, an entry of that file type).
inline size_t FindTag(std::string& img, uint16_t id, size_t from = 16, int fileType = -1) {
  for (size_t s = from; s < img.size() / 2048; ++s)
    if (Le16(At(img, s)) == id && At(img, s)[5] == 0 &&
        (fileType < 0 || At(img, s)[27] == fileType))
      return s;
  ADD_FAILURE() << "no tag " << id;
  return 0;
}

// Nested and empty directories, files around one sector, Unicode names and a directory
// whose identifiers span several blocks.
inline void MakeReaderTree(const std::string& root) {
  WriteFile(root + "/empty.bin", "");
  WriteFile(root + "/s2047.bin", PatternBytes(2047, 1));
  WriteFile(root + "/s2049.bin", PatternBytes(2049, 3));
  WriteFile(root + "/a/b/c/deep.txt", "deep\n");
  WriteFile(root + "/a/b/side.txt", PatternBytes(70000, 4));
  WriteFile(root + "/Grüße/日本語のファイル.txt", "unicode\n");
  std::filesystem::create_directories(root + "/a/emptydir");
  for (int i = 0; i < 70; ++i)
    WriteFile(root + "/many/file-with-a-rather-long-name-number-" + std::to_string(i) + ".dat",
              PatternBytes(i * 37, i));
}

inline void MakeDvdVideoFolder(const std::string& root) {
  WriteFile(root + "/VIDEO_TS/VIDEO_TS.IFO", PatternBytes(12288, 1));
  WriteFile(root + "/VIDEO_TS/VIDEO_TS.BUP", PatternBytes(12288, 1));
  WriteFile(root + "/VIDEO_TS/VTS_01_0.IFO", PatternBytes(20480, 2));
  WriteFile(root + "/VIDEO_TS/VTS_01_1.VOB", PatternBytes(300000, 3));
  WriteFile(root + "/VIDEO_TS/VTS_01_0.BUP", PatternBytes(20480, 2));
}

inline void MakeStereoFolder(const std::string& root) { StereoscopicFixture().Write(root); }

// Stereoscopic clips of 240 and 115 extents, whose entries continue in Allocation
// Extent Descriptors.
inline void MakeContinuedExtentsFolder(const std::string& root) {
  BdmvFixture f;
  auto clip = [](int32_t number, uint32_t extents) {
    FixtureClip c{number, extents * 32, {}};
    for (uint32_t i = 0; i < extents; ++i) c.startPoints.push_back(i * 32);
    return c;
  };
  f.clips = {clip(1, 240), clip(2, 240), clip(3, 115), clip(4, 115)};
  FixturePlaylist playlist;
  playlist.playItems = ClipNames({1, 3});
  playlist.subPlayItems = ClipNames({2, 4});
  f.playlists = {playlist};
  f.pairs = {{1, 2}, {3, 4}};
  f.Write(root);
}

// Builds `source` into `target` with file-system choice `choice` (1 ISO 9660, 2 ISO
// 9660 + UDF 1.02, 3 UDF 2.50 with the Blu-ray analysis, 4 UDF 1.02, 5 UDF 2.50);
// empty when the build fails.
inline std::string BuildReaderImage(const std::string& source, const std::string& target,
                                    FileSystemChoice choice, bool rockRidgeJoliet = false) {
  BuildOptions options;
  options.rockRidge = options.joliet = rockRidgeJoliet;
  auto job = StartImageBuild(Utf8ToUtf16(source).c_str(), u"Reader Test", choice,
                             Utf8ToUtf16(target).c_str(), "Vellumcast ", "vellumcast_console 1.0",
                             false, nullptr, nullptr, options);
  return job && job->succeeded ? ReadFile(target) : std::string();
}

}  // namespace vellumcast::test
