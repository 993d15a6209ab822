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

std::string Format(const char* format, const std::string& utf8) {
  int n = std::snprintf(nullptr, 0, format, utf8.c_str());
  std::string out(n > 0 ? size_t(n) : 0, '\0');
  std::snprintf(out.data(), out.size() + 1, format, utf8.c_str());
  return out;
}

std::string Format(const char* format, std::u16string_view argument) {
  return Format(format, Utf16ToUtf8(argument));
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
      {SwitchId::FileSystem, "-filesystem", "-fs -F", "--filesystem", "VALUE"},
      {SwitchId::Label, "-label", "", "--label", "TEXT"},
      {SwitchId::Output, "-o", "", "--output", "TARGET"},
      {SwitchId::Size, "-size", "", "--size", nullptr},
      {SwitchId::Time, "-time", "", "--time", "TIME"},
      {SwitchId::RockRidge, "-rockridge", "-R", "--rockridge", nullptr},
      {SwitchId::Joliet, "-joliet", "-J", "--joliet", nullptr},
      {SwitchId::Verify, "-verify", "", "--verify", nullptr},
      {SwitchId::Compare, "-compare", "", "--compare", "IMAGE"},
      {SwitchId::Check, "-check", "", "--check", "IMAGE"},
      {SwitchId::Yes, "-yes", "", "--yes", nullptr},
      {SwitchId::Quiet, "-quiet", "", "--quiet", nullptr},
      {SwitchId::Checksums, nullptr, "", "--checksums", nullptr},
      {SwitchId::Exclude, nullptr, "", "--exclude", "PATTERN"},
      {SwitchId::ExcludeFrom, nullptr, "", "--exclude-from", "FILE"},
      {SwitchId::Publisher, nullptr, "", "--publisher", "TEXT"},
      {SwitchId::Preparer, nullptr, "", "--preparer", "TEXT"},
      {SwitchId::Application, nullptr, "", "--application", "TEXT"},
      {SwitchId::VolumeSet, nullptr, "", "--volume-set", "TEXT"},
      {SwitchId::SystemId, nullptr, "", "--system-id", "TEXT"},
      {SwitchId::Boot, nullptr, "", "--boot", "FILE"},
      {SwitchId::BootCatalog, nullptr, "", "--boot-catalog", "PATH"},
      {SwitchId::BootLoadSize, nullptr, "", "--boot-load-size", "N"},
      {SwitchId::BootInfoTable, nullptr, "", "--boot-info-table", nullptr},
      {SwitchId::EfiBoot, nullptr, "", "--efi-boot", "FILE"},
      {SwitchId::Hybrid, nullptr, "", "--hybrid", nullptr},
      {SwitchId::HybridMbr, nullptr, "", "--hybrid-mbr", "FILE"},
      {SwitchId::Help, "-?", "-h", "--help", nullptr},
      {SwitchId::Version, nullptr, "", "--version", nullptr},
  };
  return kSwitches;
}

namespace {

bool IsAlias(const char* aliases, std::string_view word) {
  std::string_view list(aliases);
  for (size_t at = 0; at < list.size();) {
    size_t end = list.find(' ', at);
    if (end == std::string_view::npos) end = list.size();
    if (list.substr(at, end - at) == word) return true;
    at = end + 1;
  }
  return false;
}

// The switch `word` names among the one-dash (`longForms` false) or the long names, or
// null with `error` set: no name begins with it, or more than one does.
const SwitchName* FindSwitch(const std::string& word, bool longForms, std::string& error) {
  const SwitchName* found = nullptr;
  int matches = 0;
  std::string candidates;
  for (const SwitchName& s : CommandSwitches()) {
    const char* name = longForms ? s.longForm : s.shortForm;
    if (!longForms && IsAlias(s.aliases, word)) return &s;
    if (!name) continue;
    if (word == name) return &s;
    if (!std::string_view(name).starts_with(word)) continue;
    candidates += std::string(candidates.empty() ? "" : ", ") + name;
    found = &s;
    ++matches;
  }
  if (matches == 1) return found;
  error = candidates.empty() ? Format(console::kUnknownSwitch, word)
                             : Format(console::kAmbiguousSwitch, word) + candidates + "\n";
  return nullptr;
}

// Stores the value of switch `id`.
void TakeValue(CommandLine& line, SwitchId id, std::u16string value) {
  VolumeIdentity& identity = line.identity;
  switch (id) {
    case SwitchId::Compare: line.compareImage = value; break;
    case SwitchId::Check: line.checkImage = value; break;
    case SwitchId::FileSystem:
      if (ParseFileSystemChoice(value, line.choice)) {
        line.choiceGiven = true;
      } else if (line.fileSystemError.empty()) {
        line.fileSystemError = Format(console::kUnknownFileSystem, value);
      }
      break;
    case SwitchId::Label: line.label = value; break;
    case SwitchId::Output: line.target = value; break;
    case SwitchId::Time: line.buildTime = value; break;
    case SwitchId::Exclude: line.excludes.push_back(value); break;
    case SwitchId::ExcludeFrom: line.excludeFiles.push_back(value); break;
    case SwitchId::Publisher: identity.publisher = value; break;
    case SwitchId::Preparer: identity.preparer = value; break;
    case SwitchId::Application: identity.application = value; break;
    case SwitchId::VolumeSet: identity.volumeSet = value; break;
    case SwitchId::SystemId: identity.systemId = value; break;
    default: break;
  }
}

void TakeFlag(CommandLine& line, SwitchId id) {
  switch (id) {
    case SwitchId::Help: line.action = CommandAction::Usage; break;
    case SwitchId::Version: line.action = CommandAction::Version; break;
    case SwitchId::Size: line.sizeOnly = true; break;
    case SwitchId::Verify: line.verify = true; break;
    case SwitchId::Yes: line.replaceWithoutAsking = true; break;
    case SwitchId::Quiet: line.quiet = true; break;
    case SwitchId::RockRidge: line.rockRidge = true; break;
    case SwitchId::Joliet: line.joliet = true; break;
    case SwitchId::Checksums: line.checksums = true; break;
    default: break;
  }
}

// One switch word at args[i] (i moves past a value it takes); false with line.error set.
bool TakeSwitch(CommandLine& line, const std::vector<std::u16string>& args, size_t& i) {
  const std::string arg = Utf16ToUtf8(args[i]);
  const bool longForm = arg.starts_with("--");
  const size_t equals = longForm ? arg.find('=') : std::string::npos;
  const std::string word = arg.substr(0, equals);
  const SwitchName* named = FindSwitch(word, longForm, line.error);
  if (!named) return false;
  const std::string shown = longForm ? named->longForm : word;
  const bool boot = named->id >= SwitchId::Boot && named->id <= SwitchId::HybridMbr;
  if (!named->valueName) {
    if (equals != std::string::npos) {
      line.error = Format(console::kNoValueTaken, shown);
      return false;
    }
    if (boot) TakeBootSwitch(named->longForm, nullptr, line.boot, line.bootError);
    TakeFlag(line, named->id);
    return true;
  }
  if (boot && (equals != std::string::npos || i + 1 < args.size())) {
    const std::u16string value =
        equals != std::string::npos ? Utf8ToUtf16(arg.substr(equals + 1)) : args[++i];
    TakeBootSwitch(named->longForm, &value, line.boot, line.bootError);
  } else if (equals != std::string::npos) {
    TakeValue(line, named->id, Utf8ToUtf16(arg.substr(equals + 1)));
  } else if (i + 1 < args.size()) {
    TakeValue(line, named->id, args[++i]);
  } else {
    line.error = Format(console::kValueMissing, shown);
    return false;
  }
  return true;
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
    } else if (!pathsOnly && arg.size() > 1 && arg[0] == u'-') {
      if (!TakeSwitch(line, args, i)) return line;
    } else if (!line.source) {
      line.source = arg;
    } else if (!line.target) {
      line.target = arg;
    } else {
      line.error = Format(console::kUnexpectedArgument, arg);
      return line;
    }
  }
  return line;
}

}  // namespace vellumcast
