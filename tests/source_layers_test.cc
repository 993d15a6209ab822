// The folders of src/ include only downward: every "folder/file.h" include of a file is
// checked against the folders its own folder may use.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace vellumcast {
namespace {

namespace fs = std::filesystem;

TEST(SourceLayers, FoldersIncludeOnlyTheLayersBelow) {
  // The folders each folder may include besides itself; a folder not listed may include
  // anything but build/ and frontend/, the driver and the front end on top.
  const std::map<std::string, std::set<std::string>> allowed = {
      {"platform", {}},
      {"base", {}},
      {"bluray", {"platform", "base"}},
      {"tree", {"platform", "base", "bluray"}},
      {"layout", {"platform", "base", "bluray", "tree"}},
      {"reader", {"platform"}},
  };
  const std::set<std::string> top = {"build", "frontend"};
  const fs::path src = fs::path(VELLUMCAST_SOURCE_DIR) / "src";
  const std::regex include("^\\s*#\\s*include\\s+\"([a-z_0-9]+)/[^\"]+\"");
  size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(src)) {
    if (!entry.is_regular_file()) continue;
    const std::string folder = fs::relative(entry.path(), src).begin()->string();
    if (folder == "build" || folder == "frontend") continue;
    ++files;
    std::ifstream in(entry.path());
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
      if (!std::regex_search(line, m, include) || m[1] == folder) continue;
      const auto rule = allowed.find(folder);
      const bool ok = rule == allowed.end() ? top.count(m[1]) == 0 : rule->second.count(m[1]) != 0;
      EXPECT_TRUE(ok) << fs::relative(entry.path(), src).string() << ": " << line;
    }
  }
  EXPECT_GT(files, 50u);
}

}  // namespace
}  // namespace vellumcast
