// ISO 9660 and UDF identifiers and the two orders of a directory, through PlanLayout.
#include <gtest/gtest.h>

#include <vector>

#include "layout/tree_order.h"
#include "tree_test_support.h"

namespace vellumcast {
namespace {

using test::IsoName;
using test::LayoutTree;
using test::UdfName;

constexpr uint32_t kIsoUdf = FormatIso9660 | FormatUdf;

std::vector<std::string> IsoOrder(const TreeNode& dir) {
  std::vector<std::string> out;
  for (TreeNode* e = dir.isoFirstChild; e; e = e->isoNextSibling) out.push_back(IsoName(e));
  return out;
}

std::vector<std::u16string> PrimaryOrder(const TreeNode& dir) {
  std::vector<std::u16string> out;
  for (TreeNode* e = dir.firstChild; e; e = e->nextSibling) out.push_back(e->name);
  return out;
}

TEST(IsoIdentifier, EightThreeShape) {
  struct Case {
    std::u16string name;
    bool dir;
    bool dvd;
    std::string expected;
  };
  const Case cases[] = {
      {u"README", false, false, "README.;1"},
      {u"archive.tar.gz", false, false, "archive..gz;1"},
      {u"archive.tar.gz", false, true, "ARCHIVE_.GZ;1"},
      {u".profile", false, false, ".pro;1"},
      {u"my.folder", true, false, "my.folde"},
      {u"my.folder", true, true, "MY_FOLDE"},
      {u"verylongname.text", false, false, "verylong.tex;1"},
      {u"caf\u00e9.txt", false, false, "caf\xe9.txt;1"},  // Latin-1 byte
      {u"\u65e5\u672c.txt", false, false, "??.txt;1"},    // above U+00FF
      {u"\U0001F600.txt", false, false, "?.txt;1"},       // one surrogate pair
      {u"a\xDC80"
       u"b.txt",
       false, false, "a?b.txt;1"},  // byte that was not UTF-8
      {u"caf\u00e9-1 x.txt", false, true, "CAF__1_X.TXT;1"},
  };
  for (const Case& c : cases) {
    LayoutTree t(c.dvd ? kIsoUdf : FormatIso9660, 0x0102, c.dvd);
    TreeNode* e = c.dir ? t.AddDir(t.root(), c.name) : t.AddFile(t.root(), c.name);
    ASSERT_TRUE(t.builder.PlanLayout());
    EXPECT_EQ(IsoName(e), c.expected) << test::IsoName(e);
    EXPECT_EQ(e->isoName[e->isoNameLength], 0);
  }
}

TEST(IsoIdentifier, EqualIdentifiersGetNumberedVariants) {
  struct Case {
    bool dvd;
    std::vector<std::u16string> names;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {false, {u"report-2023-01.txt", u"report-2023-02.txt"}, {"report-2.txt;1", "report~1.txt;1"}},
      {true, {u"report-2023-01.txt", u"report-2023-02.txt"}, {"REPORT_2.TXT;1", "REPORT_1.TXT;1"}},
      // A variant never takes an identifier that another entry's name gives.
      {false,
       {u"report-2023-01.txt", u"report-2023-02.txt", u"report~1.txt"},
       {"report-2.txt;1", "report~2.txt;1", "report~1.txt;1"}},
      {false, {u"a.txt", u"a.txt1", u"a.txt2"}, {"a.txt;1", "a~1.txt;1", "a~2.txt;1"}},
      {false, {u"longdirectory1", u"longdirectory2"}, {"longdire", "longdi~1"}},  // directories
      // Equal once case is folded (as Windows and the Linux kernel show them).
      {false, {u"dirDebugInfo", u"dirDebuginfod"}, {"DebugInf", "Debugi~1"}},
      {false, {u"READ.ME", u"Read.me"}, {"READ.ME;1", "Read~1.me;1"}},
      // A file without extension and a directory of the same name read alike.
      {false, {u"README", u"dirreadme"}, {"README.;1", "readme~1"}},
  };
  for (const Case& c : cases) {
    LayoutTree t(c.dvd ? kIsoUdf : FormatIso9660, 0x0102, c.dvd);
    std::vector<TreeNode*> nodes;
    for (const auto& n : c.names) {
      if (n.starts_with(u"dir"))
        nodes.push_back(t.AddDir(t.root(), n.substr(3)));
      else if (n.starts_with(u"longdir"))
        nodes.push_back(t.AddDir(t.root(), n));
      else
        nodes.push_back(t.AddFile(t.root(), n));
    }
    ASSERT_TRUE(t.builder.PlanLayout());
    for (size_t i = 0; i < nodes.size(); ++i) EXPECT_EQ(IsoName(nodes[i]), c.expected[i]);
    std::vector<std::string> sorted = c.expected;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(IsoOrder(t.root()), sorted);
  }
}

TEST(IsoIdentifier, EqualIdentifiersSortLaterEntryFirst) {
  LayoutTree t(FormatIso9660);
  TreeNode* a = t.AddFile(t.root(), u"x");
  TreeNode* b = t.AddFile(t.root(), u"y");
  TreeNode* c = t.AddFile(t.root(), u"z");
  const uint8_t same[] = "SAME.;1", first[] = "A.;1";
  a->isoName = same;
  b->isoName = same;
  c->isoName = first;
  SortIsoOrder(t.root());
  EXPECT_EQ(t.root().isoFirstChild, c);
  EXPECT_EQ(c->isoNextSibling, b);
  EXPECT_EQ(b->isoNextSibling, a);
  EXPECT_EQ(a->isoNextSibling, nullptr);
}

TEST(UdfOrder, SortsByStoredUnitsAndKeepsDvdVideoScanOrder) {
  LayoutTree t(FormatUdf, 0x0250);
  for (auto n : {u"b", u"a", u"ab", u"\u00e9", u"B"}) t.AddFile(t.root(), n);
  ASSERT_TRUE(t.builder.PlanLayout());
  EXPECT_EQ(PrimaryOrder(t.root()),
            (std::vector<std::u16string>{u"B", u"a", u"ab", u"b", u"\u00e9"}));
  EXPECT_EQ(UdfName(t.root().firstChild), u"B");
  EXPECT_EQ(t.root().firstChild->udfNameLength, 2);

  // DVD-Video: VIDEO_TS / AUDIO_TS keep the scan order and lead the root, whose other
  // entries sort by name; deeper ones sort.
  LayoutTree d(kIsoUdf, 0x0102, true);
  TreeNode* video = d.AddDir(d.root(), u"VIDEO_TS");
  d.AddDir(d.root(), u"AUDIO_TS");
  d.AddFile(d.root(), u"b");
  TreeNode* extra = d.AddDir(d.root(), u"EXTRA");
  d.AddFile(d.root(), u"a");
  for (auto n : {u"VTS_01_0.IFO", u"VIDEO_TS.IFO"}) d.AddFile(*video, n);
  TreeNode* deep = d.AddDir(*extra, u"VIDEO_TS");
  for (auto n : {u"VTS_01_0.IFO", u"VIDEO_TS.IFO"}) d.AddFile(*deep, n);
  ASSERT_TRUE(d.builder.PlanLayout());
  EXPECT_EQ(PrimaryOrder(d.root()),
            (std::vector<std::u16string>{u"VIDEO_TS", u"AUDIO_TS", u"EXTRA", u"a", u"b"}));
  EXPECT_EQ(PrimaryOrder(*video), (std::vector<std::u16string>{u"VTS_01_0.IFO", u"VIDEO_TS.IFO"}));
  EXPECT_EQ(PrimaryOrder(*deep), (std::vector<std::u16string>{u"VIDEO_TS.IFO", u"VTS_01_0.IFO"}));
  EXPECT_EQ(UdfName(video->firstChild, true), u"VTS_01_0.IFO");  // 8-bit form
  EXPECT_EQ(video->firstChild->udfNameLength, 12);
}

// The data order of an ISO 9660 image does not depend on the order of the listing.
TEST(UdfOrder, IsoOnlyPlacesDataInNameOrder) {
  LayoutTree t(FormatIso9660);
  TreeNode* b = t.AddFile(t.root(), u"b", 4096);
  TreeNode* a = t.AddFile(t.root(), u"a", 2048);
  ASSERT_TRUE(t.builder.PlanLayout());
  EXPECT_EQ(t.root().firstChild, a);
  EXPECT_EQ(t.root().isoFirstChild, a);
  EXPECT_EQ(a->dataStart, 0u);
  EXPECT_EQ(b->dataStart, 1u);
}

TEST(UdfIdentifier, LongNamesAreShortenedUniquelyKeepingTheExtension) {
  std::u16string a200(200, u'a');
  std::u16string fits(127, u'c');
  std::u16string pairAtCut =
      std::u16string(122, u'p') + u"\U0001F600" + std::u16string(10, u'p') + u".txt";
  struct Case {
    bool dvd;
    std::vector<std::u16string> names;
    std::vector<std::u16string> expected;
  };
  const Case cases[] = {
      {false,
       {a200 + u".txt", a200 + u"b.txt"},
       {std::u16string(123, u'a') + u".txt", std::u16string(121, u'a') + u"~1.txt"}},
      {false,
       {fits, fits + u"d"},
       {fits, std::u16string(125, u'c') + u"~1"}},                  // a name that fits stays
      {false, {pairAtCut}, {std::u16string(122, u'p') + u".txt"}},  // no half surrogate pair
      {false, {u"\U0001F4BF\U0001F4C0.txt"}, {u"\U0001F4BF\U0001F4C0.txt"}},  // low DC80-DCFF
      {false, {u"a\xDC80", u"a\xDC81"}, {u"a\uFFFD", u"a\uFFFD~1"}},          // equal after U+FFFD
      {true, {std::u16string(300, u'D') + u".VOB"}, {std::u16string(250, u'D') + u".VOB"}},
      {true, {u"\u65e5.txt", u"\u672c.txt"}, {u"?.txt", u"?~1.txt"}},
  };
  for (const Case& c : cases) {
    LayoutTree t(c.dvd ? kIsoUdf : FormatUdf, 0x0102, c.dvd);
    TreeNode* dir = t.AddDir(t.root(), u"d");
    std::vector<TreeNode*> nodes;
    for (const auto& n : c.names) nodes.push_back(t.AddFile(*dir, n));
    ASSERT_TRUE(t.builder.PlanLayout());
    for (size_t i = 0; i < nodes.size(); ++i) {
      EXPECT_EQ(UdfName(nodes[i], c.dvd), c.expected[i]) << i;
      EXPECT_LE(nodes[i]->udfNameLength + 1, 255);
    }
  }
}

}  // namespace
}  // namespace vellumcast
