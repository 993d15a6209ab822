// The layers of src/ look down only: every #include "folder/..." of a source file names a
// folder its own folder may use. A new dependency upward (a writer reaching into the build
// driver, the reader into the writer it is meant to check) fails here with the line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace {

// Each folder and the folders it may include, itself included.
const std::map<std::string, std::set<std::string>> kMayInclude = {
    {"platform", {"platform"}},
    {"base", {"base"}},
    {"bluray", {"bluray", "platform", "base"}},
    {"tree", {"tree", "bluray", "platform", "base"}},
    {"layout", {"layout", "tree", "bluray", "platform", "base"}},
    {"writer", {"writer", "layout", "tree", "bluray", "platform", "base"}},
    {"reader", {"reader", "platform"}},
    // The verifier states the naming, label and interleave rules again on its own: it reads
    // the source tree and the Blu-ray analysis, never the layout's or the writer's results.
    {"verify", {"verify", "reader", "tree", "bluray", "platform", "base"}},
    {"build",
     {"build", "verify", "reader", "writer", "layout", "tree", "bluray", "platform", "base"}},
    {"frontend",
     {"frontend", "build", "verify", "reader", "writer", "layout", "tree", "bluray", "platform",
      "base"}},
};

TEST(Layering, EveryIncludeLooksDown) {
  const std::filesystem::path src = std::filesystem::path(VELLUMCAST_SOURCE_DIR) / "src";
  const std::regex include(R"(^\s*#\s*include\s+"([a-z_]+)/[^"]+")");
  size_t files = 0;
  for (const auto& item : std::filesystem::recursive_directory_iterator(src)) {
    if (!item.is_regular_file()) continue;
    const std::filesystem::path relative = std::filesystem::relative(item.path(), src);
    const std::string folder = relative.begin()->string();
    auto allowed = kMayInclude.find(folder);
    if (allowed == kMayInclude.end()) {
      ADD_FAILURE() << relative << ": src/" << folder
                    << " has no place in the layers; add it to kMayInclude";
      continue;
    }
    ++files;
    std::ifstream in(item.path());
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      std::smatch m;
      if (std::regex_search(line, m, include) && !allowed->second.count(m[1].str())) {
        ADD_FAILURE() << relative.string() << ":" << number << ": " << folder << "/ includes "
                      << m[1].str() << "/";
      }
    }
  }
  EXPECT_GT(files, 100u);
}

}  // namespace

namespace {

// Every source line fits the 100 columns of .clang-format (make format lays it out).
TEST(Layout, LinesWithinOneHundredColumns) {
  const std::filesystem::path src = std::filesystem::path(VELLUMCAST_SOURCE_DIR) / "src";
  for (const auto& item : std::filesystem::recursive_directory_iterator(src)) {
    if (!item.is_regular_file()) continue;
    std::ifstream in(item.path());
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      EXPECT_LE(line.size(), 100u)
          << std::filesystem::relative(item.path(), src).string() << ":" << number;
    }
  }
}

}  // namespace
