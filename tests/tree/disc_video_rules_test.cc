// DVD-Video and Blu-ray folder rules inside the scan: DVD-Video file keys and order,
// the made-up AUDIO_TS and VIDEO_TS, stream clips and stereoscopic pairs.
#include "tree/disc_video_rules.h"
#include "choice_text.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>

#include "build/build_job.h"
#include "iso_reader.h"
#include "test_support.h"
#include "tree/node_path.h"
#include "tree/source_entry.h"
#include "tree_test_support.h"

namespace vellumcast {
namespace {

using test::ChildNames;
using test::Find;
using test::Scan;
using test::ScanOptions;
using test::TempDir;
using test::WriteFile;

uint32_t KeyOf(const std::u16string& name) {
  SourceEntry e = MadeUpEntry(name.c_str(), false);
  uint32_t key = DvdFileKey(e);
  EXPECT_EQ(e.dvdKey, key);
  return key;
}

TEST(DvdFileKey, RecognisedNamesAndTheirKeys) {
  struct Case {
    const char16_t* name;
    uint32_t key;
  };
  const Case cases[] = {
      {u"AUDIO_TS.IFO", 0x10000},
      {u"AUDIO_PP.IFO", 0x10001},
      {u"AUDIO_TS.VOB", 0x10002},
      {u"AUDIO_SV.IFO", 0x10003},
      {u"AUDIO_SV.VOB", 0x10004},
      {u"AUDIO_TS.BUP", 0x10005},
      {u"ATS_01_0.IFO", 0x10110},
      {u"ATS_01_1.AOB", 0x10121},
      {u"ATS_01_1.VOB", 0x10121},
      {u"ATS_12_0.BUP", 0x11230},
      {u"VIDEO_TS.IFO", 0x20000},
      {u"VIDEO_TS.VOB", 0x20001},
      {u"VIDEO_TS.BUP", 0x20002},
      {u"VTS_01_0.IFO", 0x20110},
      {u"VTS_01_9.VOB", 0x20129},
      {u"VTS_99_0.BUP", 0x29930},
      {u"vts_01_1.vob", 0x20121},
      {u"Video_Ts.Ifo", 0x20000},
      // not DVD-Video files
      {u"VIDEO_TS.IFX", 0},
      {u"VIDEO_TS.IFO.bak", 0},
      {u"VTS_01_0.IF", 0},
      {u"VTS_1A_0.VOB", 0},
      {u"VTS-01_0.VOB", 0},
      {u"VTS_01_0.MPG", 0},
      {u"AUDIO_XX.IFO", 0},
      {u"AUDIX_TS.IFO", 0},
      {u"BTS_01_0.IFO", 0},
      {u"desktop.ini", 0},
      {u"", 0},
      {u"\u0156IDEO_TS.IFO", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(KeyOf(c.name), c.key) << Utf16ToUtf8(c.name);
}

TEST(DvdFileKey, KeysGiveThePlayerOrder) {
  const std::vector<std::u16string> expected = {
      u"AUDIO_TS.IFO", u"AUDIO_TS.BUP", u"ATS_01_0.IFO", u"ATS_01_1.AOB", u"ATS_01_0.BUP",
      u"VIDEO_TS.IFO", u"VIDEO_TS.VOB", u"VIDEO_TS.BUP", u"VTS_01_0.IFO", u"VTS_01_0.VOB",
      u"VTS_01_1.VOB", u"VTS_01_2.VOB", u"VTS_01_0.BUP", u"VTS_02_0.IFO", u"VTS_02_1.VOB",
      u"VTS_02_0.BUP", u"VTS_10_0.IFO"};
  std::vector<std::u16string> names(expected.rbegin(), expected.rend());
  std::stable_sort(
      names.begin(), names.end(),
      [](const std::u16string& a, const std::u16string& b) { return KeyOf(a) < KeyOf(b); });
  EXPECT_EQ(names, expected);
}

ScanOptions Choice(uint32_t formatFlags, uint16_t udfRevision) {
  ScanOptions options;
  options.formatFlags = formatFlags;
  options.udfRevision = udfRevision;
  return options;
}

ScanOptions DvdVideoBuild() { return Choice(FormatIso9660 | FormatUdf, 0x0102); }

void WriteDvdFolder(const std::string& folder) {
  for (const char* name : {"VIDEO_TS.IFO", "VTS_01_1.VOB", "VTS_01_0.IFO", "VIDEO_TS.BUP",
                           "VTS_01_0.BUP", "VIDEO_TS.VOB", "desktop.ini", "extra/VTS_02_0.IFO"}) {
    WriteFile(folder + "/" + name, name);
  }
}

TEST(DvdVideoFolders, CombinedBuildPlacesRecognisedFilesInPlayerOrder) {
  TempDir dir;
  WriteDvdFolder(dir / "VIDEO_TS");
  WriteFile(dir / "readme.txt", "r");
  auto scan = Scan(dir.path(), DvdVideoBuild());
  ASSERT_TRUE(scan->ok);
  EXPECT_EQ(scan->builder.tree.dvdVideoMode, 1);
  EXPECT_EQ(ChildNames(scan->root()),
            (std::vector<std::string>{"AUDIO_TS", "VIDEO_TS", "readme.txt"}));
  TreeNode* audio = Find(scan->root(), "AUDIO_TS");
  TreeNode* video = Find(scan->root(), "VIDEO_TS");
  EXPECT_EQ(audio->firstChild, nullptr);
  EXPECT_EQ(ChildNames(video),
            (std::vector<std::string>{"VIDEO_TS.IFO", "VIDEO_TS.VOB", "VIDEO_TS.BUP",
                                      "VTS_01_0.IFO", "VTS_01_1.VOB", "VTS_01_0.BUP"}));
  EXPECT_EQ(audio->modifiedTime, scan->builder.settings.buildTime);
  EXPECT_EQ(video->modifiedTime, scan->builder.settings.buildTime);
  EXPECT_EQ(Find(video, "VTS_01_1.VOB")->size, 12u);
  EXPECT_EQ(scan->builder.tree.totalDirectoryCount, 2u);
  EXPECT_EQ(scan->builder.tree.totalFileCount, 7u);
  EXPECT_EQ(scan->warnings.size(), 2u);  // desktop.ini and extra, left out
}

TEST(DvdVideoFolders, OtherFileSystemChoicesScanTheFolderAsItIs) {
  TempDir dir;
  WriteDvdFolder(dir / "VIDEO_TS");
  struct Build {
    uint32_t flags;
    uint16_t revision;
  };
  for (Build build : {Build{FormatUdf, 0x0102},
                      {FormatIso9660, 0x0102},
                      {FormatUdf, 0x0250},
                      {FormatIso9660 | FormatUdf, 0x0250}}) {
    uint32_t flags = build.flags;
    auto scan = Scan(dir.path(), Choice(build.flags, build.revision));
    EXPECT_EQ(scan->builder.tree.dvdVideoMode, 0) << flags;
    EXPECT_EQ(ChildNames(scan->root()), std::vector<std::string>{"VIDEO_TS"}) << flags;
    EXPECT_EQ(ChildNames(Find(scan->root(), "VIDEO_TS")).size(), 8u) << flags;
    EXPECT_NE(Find(scan->root(), "VIDEO_TS/desktop.ini"), nullptr);
  }
}

TEST(DvdVideoFolders, FolderNamesIgnoreLetterCase) {
  TempDir dir;
  for (const char* name : {"vts_01_1.vob", "video_ts.ifo", "VTS_01_0.IFO", "ats_01_0.ifo"}) {
    WriteFile(dir / ("video_ts/" + std::string(name)), "v");
  }
  WriteFile(dir / "Audio_Ts/audio_ts.ifo", "a");
  auto scan = Scan(dir.path(), DvdVideoBuild());
  EXPECT_EQ(scan->builder.tree.dvdVideoMode, 1);
  EXPECT_EQ(ChildNames(scan->root()),
            (std::vector<std::string>{"AUDIO_TS", "VIDEO_TS"}));  // not walked again
  EXPECT_EQ(ChildNames(Find(scan->root(), "VIDEO_TS")),
            (std::vector<std::string>{"video_ts.ifo", "VTS_01_0.IFO", "vts_01_1.vob"}));
  EXPECT_EQ(ChildNames(Find(scan->root(), "AUDIO_TS")), std::vector<std::string>{"audio_ts.ifo"});
  EXPECT_EQ(scan->warnings,
            std::vector<std::string>{"leaving out " + (dir / "video_ts/ats_01_0.ifo") +
                                     ": not a DVD-Video file of VIDEO_TS"});
  // A node's source path names the folder as the source holds it.
  const TreeNode* ifo = Find(scan->root(), "VIDEO_TS/video_ts.ifo");
  ASSERT_NE(ifo, nullptr);
  EXPECT_EQ(SourcePathText(*ifo), dir / "video_ts/video_ts.ifo");
  EXPECT_EQ(SourcePathText(*ifo, PathFrom::BelowSource), "video_ts/video_ts.ifo");
  EXPECT_EQ(SourcePathText(*scan->root(), PathFrom::BelowSource), "");
}

// Whatever the DVD-Video rules leave out draws one warning naming it: other files and
// audio-zone names in VIDEO_TS (and the reverse), folders inside, a second folder of
// the same name in another letter case. A Thumbs.db file goes silently.
TEST(DvdVideoFolders, EverythingLeftOutIsNamed) {
  struct Case {
    const char* path;     // written into the source besides VIDEO_TS/VIDEO_TS.IFO
    const char* named;    // the path the warning names; null: no warning
    const char* warning;  // its reason
  };
  const char* notDvd = ": not a DVD-Video file of VIDEO_TS";
  const Case cases[] = {
      {"VIDEO_TS/desktop.ini", "VIDEO_TS/desktop.ini", notDvd},
      {"VIDEO_TS/VIDEO_TS.IFO.bak", "VIDEO_TS/VIDEO_TS.IFO.bak", notDvd},
      {"VIDEO_TS/AUDIO_TS.IFO", "VIDEO_TS/AUDIO_TS.IFO", notDvd},
      {"AUDIO_TS/VTS_01_0.IFO", "AUDIO_TS/VTS_01_0.IFO", ": not a DVD-Video file of AUDIO_TS"},
      {"VIDEO_TS/extra/VTS_02_0.IFO", "VIDEO_TS/extra",
       ": a DVD-Video VIDEO_TS folder holds no folders"},
      {"AUDIO_TS/x/", "AUDIO_TS/x", ": a DVD-Video AUDIO_TS folder holds no folders"},
      {"Video_TS/VTS_01_0.IFO", "Video_TS",
       ": another folder of this name is used for the DVD-Video structure"},
      {"VIDEO_TS/Thumbs.db", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteFile(dir / "VIDEO_TS/VIDEO_TS.IFO", "v");
    const std::string path = c.path;
    if (path.back() == '/') {
      std::filesystem::create_directories(dir / path);
    } else {
      WriteFile(dir / path, "left out");
    }
    auto scan = Scan(dir.path(), DvdVideoBuild());
    ASSERT_TRUE(scan->ok);
    EXPECT_EQ(ChildNames(scan->root()), (std::vector<std::string>{"AUDIO_TS", "VIDEO_TS"})) << path;
    EXPECT_EQ(ChildNames(Find(scan->root(), "VIDEO_TS")), std::vector<std::string>{"VIDEO_TS.IFO"})
        << path;
    EXPECT_EQ(Find(scan->root(), "AUDIO_TS")->firstChild, nullptr) << path;
    std::vector<std::string> expected;
    if (c.named) expected.push_back("leaving out " + (dir / c.named) + c.warning);
    EXPECT_EQ(scan->warnings, expected);
  }
}

// A whole DVD-Video build. The made-up folders carry the DVD-Video names while their
// files stay in source folders of another letter case: the image is still written from
// them, and the mode reaches the finished UDF structures.
TEST(DvdVideoFolders, ImageOfFoldersInAnotherLetterCase) {
  TempDir dir;
  std::filesystem::create_directories(dir / "src/audio_ts");
  WriteFile(dir / "src/video_ts/VIDEO_TS.IFO", test::PatternBytes(5000, 1));
  WriteFile(dir / "src/video_ts/vts_01_1.vob", test::PatternBytes(9000, 2));
  std::u16string src = Utf8ToUtf16(dir / "src"), target = Utf8ToUtf16(dir / "dvd.iso");
  auto job = StartImageBuild(src.c_str(), u"", FileSystemChoice::Iso9660Udf102, target.c_str(),
                             nullptr, nullptr, false, nullptr);
  ASSERT_TRUE(job->succeeded) << job->errorMessage;
  EXPECT_EQ(test::CompareIsoWithFolder(dir / "dvd.iso", dir / "src"), "");

  const std::string image = test::ReadFile(dir / "dvd.iso");
  // Partition Descriptor (tag 5) of the main volume descriptor sequence: Partition
  // Contents flags 2.
  int partitionDescriptors = 0;
  for (size_t sector = 32; sector < 48; ++sector) {
    const char* d = image.data() + sector * 2048;
    if (d[0] != 5 || d[1] != 0) continue;
    ++partitionDescriptors;
    EXPECT_EQ(d[24], 2);
    EXPECT_EQ(std::string(d + 25, 6), "+NSR02");
  }
  EXPECT_EQ(partitionDescriptors, 1);
  // File identifiers in the 8-bit form (compression identifier 8) and in the source's
  // letter case. (The ISO 9660 identifiers are VIDEO_TS.IFO;1 and VTS_01_1.VOB;1.)
  for (const char* name : {"\x08"
                           "VIDEO_TS.IFO",
                           "\x08"
                           "vts_01_1.vob"}) {
    EXPECT_NE(image.find(name), std::string::npos) << name + 1;
  }
}

TEST(DvdVideoFolders, AFolderOfTheExactNameWinsOverOtherLetterCases) {
  TempDir dir;
  WriteFile(dir / "VIDEO_TS/VIDEO_TS.IFO", "upper");
  WriteFile(dir / "video_ts/VTS_01_0.IFO", "lower");
  auto scan = Scan(dir.path(), DvdVideoBuild());
  EXPECT_EQ(ChildNames(scan->root()), (std::vector<std::string>{"AUDIO_TS", "VIDEO_TS"}));
  EXPECT_EQ(ChildNames(Find(scan->root(), "VIDEO_TS")), std::vector<std::string>{"VIDEO_TS.IFO"});
  EXPECT_EQ(scan->warnings.size(), 1u);
  EXPECT_TRUE(scan->Warned("leaving out " + (dir / "video_ts")));
}

TEST(DvdVideoFolders, AFileNamedAudioTsTurnsTheRulesOnAndStays) {
  TempDir dir;
  WriteFile(dir / "AUDIO_TS", "not a folder");
  auto scan = Scan(dir.path(), DvdVideoBuild());
  EXPECT_EQ(scan->builder.tree.dvdVideoMode, 1);
  EXPECT_EQ(ChildNames(scan->root()),
            (std::vector<std::string>{"AUDIO_TS", "VIDEO_TS", "AUDIO_TS"}));
  TreeNode* first = scan->root()->firstChild;
  EXPECT_EQ(first->isDirectory, 1);
  EXPECT_EQ(first->firstChild, nullptr);
  EXPECT_EQ(first->nextSibling->nextSibling->isDirectory, 0);
  EXPECT_TRUE(scan->warnings.empty());
}

TEST(DvdVideoFolders, FilesAboveOneGibibyteAreKeptWithAWarning) {
  TempDir dir;
  WriteFile(dir / "VIDEO_TS/VTS_01_1.VOB", "");
  WriteFile(dir / "VIDEO_TS/VTS_01_2.VOB", "");
  ASSERT_EQ(truncate((dir / "VIDEO_TS/VTS_01_1.VOB").c_str(), (1 << 30) + 1), 0);
  ASSERT_EQ(truncate((dir / "VIDEO_TS/VTS_01_2.VOB").c_str(), 1 << 30), 0);
  auto scan = Scan(dir.path(), DvdVideoBuild());
  EXPECT_EQ(ChildNames(Find(scan->root(), "VIDEO_TS")),
            (std::vector<std::string>{"VTS_01_1.VOB", "VTS_01_2.VOB"}));
  EXPECT_EQ(scan->warnings,
            std::vector<std::string>{(dir / "VIDEO_TS/VTS_01_1.VOB") +
                                     " is larger than 1 GiB; DVD-Video players may not read it"});
}

// Blu-ray stream pass.

void WriteClip(const std::string& path, uint32_t sectors) {
  WriteFile(path, "");
  ASSERT_EQ(truncate(path.c_str(), off_t(sectors) * 2048), 0);
}

StereoClipPair Pair(uint16_t base, uint16_t dependent, std::vector<uint32_t> baseExtents,
                    std::vector<uint32_t> dependentExtents) {
  StereoClipPair p;
  p.baseClip = base;
  p.dependentClip = dependent;
  for (uint32_t e : baseExtents) p.baseSectors += e;
  for (uint32_t e : dependentExtents) p.dependentSectors += e;
  p.baseExtents = std::move(baseExtents);
  p.dependentExtents = std::move(dependentExtents);
  return p;
}

// Clips 1 to 5; pair (1, 2) has 115 base extents (two descriptor sectors).
struct StereoSource {
  TempDir dir;
  StereoSource() {
    WriteClip(dir / "BDMV/STREAM/00001.m2ts", 115);
    WriteClip(dir / "BDMV/STREAM/00002.m2ts", 6);
    WriteClip(dir / "BDMV/STREAM/00003.m2ts", 4);
    WriteClip(dir / "BDMV/STREAM/00004.m2ts", 4);
    WriteClip(dir / "BDMV/STREAM/00005.m2ts", 1);
    WriteFile(dir / "BDMV/STREAM/notes.txt", "n");
    WriteClip(dir / "BDMV/STREAM/SSIF/00001.ssif", 115 + 6);  // as large as the interleave
    WriteFile(dir / "BDMV/STREAM/SSIF/readme.txt", "kept");
    WriteFile(dir / "BDMV/index.bdmv", "INDX");
  }
  static ScanOptions WithPlan(std::vector<StereoClipPair> pairs) {
    ScanOptions options;
    options.stereoPlan = std::make_unique<StereoPlan>(std::move(pairs));
    return options;
  }
  // The first pair's base view has 115 extents, more than one File Entry records; its
  // dependent list is as long (113 empty extents after 3, 3), as the run places a base
  // extent only beside a dependent one.
  static std::vector<StereoClipPair> TwoPairs() {
    std::vector<uint32_t> dependent(115, 0);
    dependent[0] = dependent[1] = 3;
    return {Pair(1, 2, std::vector<uint32_t>(115, 1), dependent), Pair(3, 4, {2, 2}, {2, 2})};
  }
};

TEST(StreamPass, StereoPairsAreTiedAndGetInterleavedEntries) {
  StereoSource source;
  auto scan = Scan(source.dir.path(), StereoSource::WithPlan(StereoSource::TwoPairs()));
  ASSERT_TRUE(scan->ok);
  ImageBuilder& b = scan->builder;
  TreeNode* stream = Find(scan->root(), "BDMV/STREAM");
  TreeNode* ssif = b.tree.ssifDirectory;
  ASSERT_NE(ssif, nullptr);
  EXPECT_EQ(Find(stream, "SSIF"), ssif);  // the source's folder, its 00001.ssif replaced
  auto streamNames = ChildNames(stream);
  EXPECT_EQ(std::count(streamNames.begin(), streamNames.end(), "SSIF"), 1);
  EXPECT_EQ(ChildNames(ssif), (std::vector<std::string>{"readme.txt", "00001.ssif", "00003.ssif"}));

  TreeNode* clip[6] = {};
  for (int i = 1; i <= 5; ++i) clip[i] = Find(stream, "0000" + std::to_string(i) + ".m2ts");
  const StereoPlan& plan = *b.tree.stereoPlan;
  struct Expected {
    int clip;
    TreeNodeKind kind;
    const StereoClipPair* pair;
    int base, dependent;
    uint16_t extents;
    uint32_t descriptorSectors;
  };
  for (Expected x : {Expected{1, StereoBase, &plan[0], 1, 2, 115, 2},
                     {2, StereoDependent, &plan[0], 1, 2, 2, 1},
                     {3, StereoBase, &plan[1], 3, 4, 2, 1},
                     {4, StereoDependent, &plan[1], 3, 4, 2, 1}}) {
    TreeNode* n = clip[x.clip];
    EXPECT_EQ(n->kind, x.kind) << x.clip;
    EXPECT_EQ(n->stereoPair, x.pair) << x.clip;
    EXPECT_EQ(n->baseNode, clip[x.base]) << x.clip;
    EXPECT_EQ(n->dependentNode, clip[x.dependent]) << x.clip;
    EXPECT_EQ(n->extentCount, x.extents) << x.clip;
    EXPECT_EQ(n->descriptorSectors, x.descriptorSectors) << x.clip;
  }
  EXPECT_EQ(clip[5]->kind, Ordinary);
  EXPECT_EQ(Find(stream, "notes.txt")->kind, Ordinary);
  EXPECT_EQ(b.tree.extraDescriptorSectors, 1u);

  TreeNode* s1 = ssif->firstChild->nextSibling;
  TreeNode* s3 = s1->nextSibling;
  EXPECT_EQ(s1->kind, StereoInterleaved);
  EXPECT_EQ(s1->size, (115u + 6u) * 2048u);
  EXPECT_EQ(s1->sectorCount, 121u);
  EXPECT_EQ(s1->baseNode, clip[1]);
  EXPECT_EQ(s1->dependentNode, clip[2]);
  EXPECT_EQ(s3->size, 8u * 2048u);
  EXPECT_EQ(s3->baseNode, clip[3]);
  EXPECT_EQ(s3->modifiedTime, clip[3]->modifiedTime);
  // Five clips, notes.txt, index.bdmv, readme.txt and the two .ssif.
  EXPECT_EQ(b.tree.totalFileCount, 8u + 2u);
  EXPECT_EQ(ssif->fileCount, 3u);
  EXPECT_EQ(b.tree.totalDirectoryCount, 3u);
  // The replaced source file is named; 00003.ssif had no source file to replace.
  EXPECT_EQ(scan->warnings,
            (std::vector<std::string>{
                "BDMV/STREAM/SSIF/00001.ssif is recorded as a view of BDMV/STREAM/00002.m2ts and "
                "BDMV/STREAM/00001.m2ts interleaved, not copied from the source"}));
}

TEST(StreamPass, WithoutAPlanClipsAreStreamClipsAndSsifIsKept) {
  StereoSource source;
  auto scan = Scan(source.dir.path());
  TreeNode* stream = Find(scan->root(), "BDMV/STREAM");
  for (TreeNode* n = stream->firstChild; n; n = n->nextSibling) {
    bool clip = test::NameOf(n).ends_with(".m2ts");
    EXPECT_EQ(n->kind, clip ? StreamClip : Ordinary) << test::NameOf(n);
  }
  EXPECT_NE(Find(stream, "SSIF/00001.ssif"), nullptr);
  EXPECT_EQ(scan->builder.tree.ssifDirectory, nullptr);
}

// A plan the tree cannot carry is given up before anything changes: the tree and its
// counters stay as scanned, the source's SSIF folder included, with one warning.
TEST(StreamPass, GivingUpLeavesTheTreeAsScanned) {
  struct Case {
    const char* name;
    std::vector<StereoClipPair> pairs;
    std::function<void(const std::string& dir)> change;
    const char* reason;
  };
  std::vector<Case> cases;
  {
    auto pairs = StereoSource::TwoPairs();
    pairs[1].baseClip = 7;  // 00007.m2ts does not exist
    cases.push_back(
        {"missing clip", pairs, nullptr, "BDMV/STREAM/00007.m2ts is not in the source tree"});
  }
  {
    auto pairs = StereoSource::TwoPairs();
    pairs[0].baseSectors = 114;  // the clip file holds 115 sectors
    cases.push_back(
        {"size differs", pairs, nullptr,
         "BDMV/STREAM/00001.m2ts holds 235520 bytes, not the 114 sectors of its clip information"});
  }
  cases.push_back(
      {"source .ssif of another size", StereoSource::TwoPairs(),
       [](const std::string& dir) { WriteClip(dir + "/BDMV/STREAM/SSIF/00001.ssif", 120); },
       "BDMV/STREAM/SSIF/00001.ssif holds 245760 bytes, not the 247808 of BDMV/STREAM/00002.m2ts "
       "and "
       "BDMV/STREAM/00001.m2ts interleaved"});
  cases.push_back(
      {"source .ssif is a folder", StereoSource::TwoPairs(),
       [](const std::string& dir) { WriteFile(dir + "/BDMV/STREAM/SSIF/00003.ssif/x", "x"); },
       "BDMV/STREAM/SSIF/00003.ssif is a folder"});
  cases.push_back(
      {"two clips of one number modulo 65536", StereoSource::TwoPairs(),
       [](const std::string& dir) { WriteClip(dir + "/BDMV/STREAM/65539.m2ts", 4); },
       "BDMV/STREAM/00003.m2ts and BDMV/STREAM/65539.m2ts have the same clip number modulo 65536"});
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    StereoSource source;
    if (c.change) c.change(source.dir.path());
    auto plain = Scan(source.dir.path());
    auto scan = Scan(source.dir.path(), StereoSource::WithPlan(c.pairs));
    ASSERT_TRUE(scan->ok);
    ImageBuilder& b = scan->builder;
    TreeNode* stream = Find(scan->root(), "BDMV/STREAM");
    EXPECT_EQ(b.tree.ssifDirectory, nullptr);
    EXPECT_EQ(b.tree.stereoPlan, nullptr);
    EXPECT_EQ(ChildNames(Find(stream, "SSIF")),
              ChildNames(Find(plain->root(), "BDMV/STREAM/SSIF")));
    for (TreeNode* n = stream->firstChild; n; n = n->nextSibling) {
      bool clip = test::NameOf(n).ends_with(".m2ts");
      EXPECT_EQ(n->kind, clip ? StreamClip : Ordinary) << test::NameOf(n);
      EXPECT_EQ(n->stereoPair, nullptr);
      EXPECT_EQ(n->baseNode, nullptr);
      EXPECT_EQ(n->descriptorSectors, 0u);
    }
    EXPECT_EQ(b.tree.totalFileCount, plain->builder.tree.totalFileCount);
    EXPECT_EQ(b.tree.totalDirectoryCount, plain->builder.tree.totalDirectoryCount);
    EXPECT_EQ(b.tree.extraDescriptorSectors, 0u);
    ASSERT_EQ(scan->warnings.size(), 1u);
    EXPECT_TRUE(scan->Warned(c.reason)) << scan->warnings[0];
  }
}

// Only BDMV/STREAM (exact names) holds the clips of a plan, and only its SSIF folder is
// changed; every other folder named SSIF is an ordinary folder.
TEST(StreamPass, StreamDirectoryNamesAreExact) {
  TempDir dir;
  WriteClip(dir / "bdmv/STREAM/00001.m2ts", 1);
  WriteClip(dir / "BDMV/Stream/00002.m2ts", 1);
  WriteFile(dir / "BDMV/Stream/SSIF/00001.ssif", "a");
  WriteFile(dir / "X/Y/SSIF/a", "a");
  auto scan = Scan(dir.path(), StereoSource::WithPlan({Pair(1, 2, {1}, {1})}));
  EXPECT_EQ(Find(scan->root(), "bdmv/STREAM/00001.m2ts")->kind, Ordinary);
  EXPECT_EQ(Find(scan->root(), "BDMV/Stream/00002.m2ts")->kind, Ordinary);
  EXPECT_NE(Find(scan->root(), "X/Y/SSIF/a"), nullptr);
  EXPECT_NE(Find(scan->root(), "BDMV/Stream/SSIF/00001.ssif"), nullptr);
  ASSERT_EQ(scan->warnings.size(), 1u);
  EXPECT_TRUE(scan->Warned("there is no folder BDMV/STREAM in the source tree"));
}

TEST(StreamPass, ClipNumbers) {
  struct Case {
    const char16_t* name;
    bool clip;
    uint16_t number;
  };
  for (Case c : {Case{u"00001.m2ts", true, 1},
                 {u"99999.m2ts", true, uint16_t(99999 % 65536)},
                 {u"00001.M2TS", false, 0},
                 {u"0001.m2ts", false, 0},
                 {u"000001.m2ts", false, 0},
                 {u"0000a.m2ts", false, 0},
                 {u"00001.m2ts.bak", false, 0}}) {
    uint16_t number = 0;
    EXPECT_EQ(ClipNumberOf(c.name, number), c.clip) << Utf16ToUtf8(c.name);
    if (c.clip) {
      EXPECT_EQ(number, c.number);
    }
  }
}

TEST(StereoExtents, ExtentsAreCutAtTheLongestRecordedExtent) {
  struct Case {
    std::vector<uint32_t> extents;
    uint32_t count;
  };
  for (const Case& c : {Case{{}, 0},
                        {{9, 9, 9}, 3},
                        {{524286}, 1},
                        {{524287}, 2},
                        {{1048572, 1}, 3},
                        {{0xFFFFFFFFu}, 8193}}) {
    StereoClipPair p;
    p.dependentExtents = c.extents;
    EXPECT_EQ(CountStereoExtents(p, StereoView::Dependent), c.count);
    EXPECT_EQ(CountStereoExtents(p, StereoView::Base), 0u);
  }
}

}  // namespace
}  // namespace vellumcast
