// Argument scan of the console front end.
#include "frontend/command_line.h"

#include <cstdio>
#include <ctime>

#include "frontend/boot_switches.h"
#include "frontend/console_texts.h"
#include "platform/text.h"

namespace vellumcast {
namespace {

struct ChoiceName {
  const char16_t* text;
  FileSystemChoice choice;
};

// The user's names and numbers of the file systems, in the order they are tried; the
// default (UDF 2.50 with the stereoscopic Blu-ray layout) has none.
constexpr ChoiceName kChoiceNames[] = {
    {u"ISO9660", FileSystemChoice::Iso9660},
    {u"0", FileSystemChoice::Iso9660},
    {u"CD", FileSystemChoice::Iso9660},
    {u"ISO9660 + UDF 1.02", FileSystemChoice::Iso9660Udf102},
    {u"1", FileSystemChoice::Iso9660Udf102},
    {u"DVD", FileSystemChoice::Iso9660Udf102},
    {u"UDF 1.02", FileSystemChoice::Udf102},
    {u"2", FileSystemChoice::Udf102},
    {u"UDF 2.50", FileSystemChoice::Udf250},
    {u"3", FileSystemChoice::Udf250},
    {u"BD", FileSystemChoice::Udf250},
    {u"UHD", FileSystemChoice::Udf250},
};

std::string Format(const char* format, std::u16string_view argument) {
  std::string utf8 = Utf16ToUtf8(argument);
  int n = std::snprintf(nullptr, 0, format, utf8.c_str());
  std::string out(n > 0 ? size_t(n) : 0, '\0');
  std::snprintf(out.data(), out.size() + 1, format, utf8.c_str());
  return out;
}

// 9999-12-31T23:59:59Z: the last second every date encoding of the image can hold.
constexpr int64_t kLatestBuildTime = 253402300799;

// The number made of text[at .. at + n), all of which must be digits.
bool Digits(std::u16string_view text, size_t at, size_t n, int& value) {
  value = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
    value = value * 10 + (text[i] - u'0');
  }
  return true;
}

// "YYYY-MM-DDTHH:MM:SSZ", checked field by field through a round trip in UTC.
bool ParseIsoUtcTime(std::u16string_view text, int64_t& seconds) {
  if (text.size() != 20 || text[4] != u'-' || text[7] != u'-' || text[10] != u'T' ||
      text[13] != u':' || text[16] != u':' || text[19] != u'Z') {
    return false;
  }
  int year, month, day, hour, minute, second;
  if (!Digits(text, 0, 4, year) || !Digits(text, 5, 2, month) || !Digits(text, 8, 2, day) ||
      !Digits(text, 11, 2, hour) || !Digits(text, 14, 2, minute) || !Digits(text, 17, 2, second)) {
    return false;
  }
  std::tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  time_t t = timegm(&fields);  // normalises out-of-range fields: compare them afterwards
  std::tm back{};
  if (!gmtime_r(&t, &back)) return false;
  if (back.tm_year != year - 1900 || back.tm_mon != month - 1 || back.tm_mday != day ||
      back.tm_hour != hour || back.tm_min != minute || back.tm_sec != second) {
    return false;
  }
  seconds = int64_t(t);
  return true;
}

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c; }

}  // namespace

bool ParseFileSystemChoice(std::u16string_view text, FileSystemChoice& choice) {
  for (const ChoiceName& name : kChoiceNames) {
    if (EqualsIgnoringAsciiCase(text, name.text)) {
      choice = name.choice;
      return true;
    }
  }
  return false;
}

bool ParseBuildTime(std::u16string_view text, bool isoForm, int64_t& seconds) {
  int64_t value = 0;
  if (isoForm && text.size() == 20 && text[4] == u'-') {
    if (!ParseIsoUtcTime(text, value)) return false;
  } else {
    if (text.empty() || text.size() > 12) return false;
    for (char16_t c : text) {
      if (c < u'0' || c > u'9') return false;
      value = value * 10 + (c - u'0');
    }
  }
  if (value < 0 || value > kLatestBuildTime) return false;
  seconds = value;
  return true;
}

std::span<const SwitchName> CommandSwitches() {
  static constexpr SwitchName kSwitches[] = {
      {SwitchId::FileSystem, u"f", "-filesystem", "--filesystem", true},
      {SwitchId::Label, u"l", "-label", "--label", true},
      {SwitchId::Output, u"o", "-o", "--output", true},
      {SwitchId::Size, u"s", "-size", "--size", false},
      {SwitchId::Time, u"t", "-time", "--time", true},
      {SwitchId::RockRidge, u"r", "-rockridge", "--rockridge", false},
      {SwitchId::Joliet, u"j", "-joliet", "--joliet", false},
      {SwitchId::Verify, u"v", "-verify", "--verify", false},
      {SwitchId::Compare, u"c", "-compare", "--compare", true},
      {SwitchId::Yes, u"y", "-yes", "--yes", false},
      {SwitchId::Quiet, u"q", "-quiet", "--quiet", false},
      {SwitchId::Help, u"?h", "-?", "--help", false},
      {SwitchId::Version, u"", nullptr, "--version", false},
  };
  return kSwitches;
}

namespace {

// The switch `arg` names (it begins with '-' and is not "-" or "--"), or null. For a
// long form "--name=value", `joined` receives the value.
const SwitchName* FindSwitch(std::u16string_view arg, std::optional<std::u16string>& joined) {
  if (arg.starts_with(u"--")) {
    std::u16string_view name = arg;
    size_t equals = arg.find(u'=');
    if (equals != std::u16string_view::npos) name = arg.substr(0, equals);
    for (const SwitchName& s : CommandSwitches()) {
      if (name != Utf8ToUtf16(s.longForm)) continue;
      if (equals == std::u16string_view::npos) return &s;
      if (!s.takesValue) return nullptr;  // "--yes=no" is no switch of ours
      joined = std::u16string(arg.substr(equals + 1));
      return &s;
    }
    return nullptr;
  }
  const char16_t which = FoldAscii(arg[1]);
  for (const SwitchName& s : CommandSwitches()) {
    if (std::u16string_view(s.letters).find(which) != std::u16string_view::npos) return &s;
  }
  return nullptr;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::u16string>& args) {
  CommandLine line;
  if (args.empty()) {
    line.action = CommandAction::Usage;
    return line;
  }
  bool pathsOnly = false;  // after "--"
  for (size_t i = 0; i < args.size(); ++i) {
    const std::u16string& arg = args[i];
    if (!pathsOnly && arg == u"--") {
      pathsOnly = true;
      continue;
    }
    if (!pathsOnly && arg.size() > 1 && arg[0] == u'-') {
      if (arg.starts_with(u"--") && ScanBootSwitch(args, i, line.boot, line.bootError)) continue;
      std::optional<std::u16string> joined;
      const SwitchName* named = FindSwitch(arg, joined);
      if (!named) {
        line.warnings.push_back(Format(console::kUnknownSwitch, arg));
        continue;
      }
      // A value is taken as it stands, even when it begins with '-'. A switch that
      // ends the line has no value.
      std::optional<std::u16string> value;
      if (named->takesValue) {
        if (joined) {
          value = joined;
        } else if (++i < args.size()) {
          value = args[i];
        }
      }
      switch (named->id) {
        case SwitchId::Help: line.action = CommandAction::Usage; return line;
        case SwitchId::Version: line.action = CommandAction::Version; return line;
        case SwitchId::Compare:
          line.compareImage = value.value_or(u"");  // an empty value is refused later
          break;
        case SwitchId::FileSystem: {
          std::u16string text = value.value_or(u"");
          if (ParseFileSystemChoice(text, line.choice)) {
            line.choiceGiven = true;
          } else if (line.fileSystemError.empty()) {
            line.fileSystemError = Format(console::kUnknownFileSystem, text);
          }
          break;
        }
        case SwitchId::Label: line.label = value.value_or(u""); break;
        case SwitchId::Output:
          line.target = value;  // none at the end of the line: the target is cleared
          break;
        case SwitchId::Size: line.sizeOnly = true; break;
        case SwitchId::Time:
          line.buildTime = value.value_or(u"");  // an empty value is refused later
          break;
        case SwitchId::Verify: line.verify = true; break;
        case SwitchId::Yes: line.replaceWithoutAsking = true; break;
        case SwitchId::Quiet: line.quiet = true; break;
        case SwitchId::RockRidge: line.rockRidge = true; break;
        case SwitchId::Joliet: line.joliet = true; break;
      }
      continue;
    }
    if (!line.source) {
      line.source = arg;
    } else if (!line.target) {
      line.target = arg;
    } else {
      line.warnings.push_back(Format(console::kIgnoredArgument, arg));
    }
  }
  return line;
}

}  // namespace vellumcast
