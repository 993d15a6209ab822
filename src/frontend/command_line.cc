// Argument scan of the console front end.
#include "frontend/command_line.h"

#include <cstdio>

#include "frontend/console_texts.h"
#include "platform/text.h"

namespace vellumcast {
namespace {

struct ChoiceName {
  const char16_t* text;
  FileSystemChoice choice;
};

// In the order they are tried; 3 (UDF 2.50 with the Blu-ray analysis) has no name.
constexpr ChoiceName kChoiceNames[] = {
    {u"ISO9660", 1},  {u"0", 1},        {u"CD", 1},
    {u"ISO9660 + UDF 1.02", 2},         {u"1", 2},  {u"DVD", 2},
    {u"UDF 1.02", 4}, {u"2", 4},
    {u"UDF 2.50", 5}, {u"3", 5},        {u"BD", 5}, {u"UHD", 5},
};

std::string Format(const char* format, std::u16string_view argument) {
  std::string utf8 = Utf16ToUtf8(argument);
  int n = std::snprintf(nullptr, 0, format, utf8.c_str());
  std::string out(n > 0 ? size_t(n) : 0, '\0');
  std::snprintf(out.data(), out.size() + 1, format, utf8.c_str());
  return out;
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

CommandLine ParseCommandLine(const std::vector<std::u16string>& args) {
  CommandLine line;
  if (args.empty()) {
    line.action = CommandAction::Usage;
    return line;
  }
  for (size_t i = 0; i < args.size(); ++i) {
    const std::u16string& arg = args[i];
    if (arg == u"--help") {
      line.action = CommandAction::Usage;
      return line;
    }
    if (arg == u"--version") {
      line.action = CommandAction::Version;
      return line;
    }
    if (!arg.empty() && arg[0] == u'-') {
      // A value is taken as it stands, even when it begins with '-'. A switch that
      // ends the line has an empty value.
      auto value = [&]() -> std::optional<std::u16string> {
        if (i + 1 >= args.size()) {
          ++i;
          return std::nullopt;
        }
        return args[++i];
      };
      char16_t which = arg.size() > 1 ? FoldAscii(arg[1]) : u'\0';
      switch (which) {
        case u'?':
        case u'h':
          line.action = CommandAction::Usage;
          return line;
        case u'f': {
          std::u16string text = value().value_or(u"");
          if (!ParseFileSystemChoice(text, line.choice)) {
            line.warnings.push_back(Format(console::kUnknownFormat, text));
          }
          break;
        }
        case u'l':
          line.label = value().value_or(u"");
          break;
        case u'o':
          line.target = value();  // none at the end of the line: the target is cleared
          break;
        default:
          break;  // any other switch is ignored
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
