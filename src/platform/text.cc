// UTF-8 / UTF-16 conversion with escaped bytes for names that are not valid UTF-8.
#include "platform/text.h"

#include <cstdint>

namespace vellumcast {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;  // escaped byte b (0x80..0xFF) is U+DC00 + b
constexpr char32_t kReplacement = 0xFFFD;

// Length of the valid UTF-8 sequence at s[0..n), or 0 when it is not valid
// (overlong forms, surrogates and values above U+10FFFF are not valid).
size_t ValidSequence(const unsigned char* s, size_t n, char32_t& out) {
  unsigned char c = s[0];
  size_t len;
  char32_t v, min;
  if (c < 0x80) {
    out = c;
    return 1;
  }
  if ((c & 0xE0) == 0xC0) {
    len = 2;
    v = c & 0x1F;
    min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3;
    v = c & 0x0F;
    min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4;
    v = c & 0x07;
    min = 0x10000;
  } else
    return 0;
  if (len > n) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    v = (v << 6) | (s[i] & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  out = v;
  return len;
}

void AppendUtf8(std::string& out, char32_t v) {
  if (v < 0x80) {
    out.push_back(char(v));
  } else if (v < 0x800) {
    out.push_back(char(0xC0 | (v >> 6)));
    out.push_back(char(0x80 | (v & 0x3F)));
  } else if (v < 0x10000) {
    out.push_back(char(0xE0 | (v >> 12)));
    out.push_back(char(0x80 | ((v >> 6) & 0x3F)));
    out.push_back(char(0x80 | (v & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (v >> 18)));
    out.push_back(char(0x80 | ((v >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((v >> 6) & 0x3F)));
    out.push_back(char(0x80 | (v & 0x3F)));
  }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  size_t n = utf8.size();
  for (size_t i = 0; i < n;) {
    char32_t v;
    size_t len = ValidSequence(s + i, n - i, v);
    if (len == 0) {
      out.push_back(char16_t(kEscapeBase + s[i]));
      ++i;
      continue;
    }
    if (v >= 0x10000) {
      v -= 0x10000;
      out.push_back(char16_t(0xD800 + (v >> 10)));
      out.push_back(char16_t(0xDC00 + (v & 0x3FF)));
    } else {
      out.push_back(char16_t(v));
    }
    i += len;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    char16_t c = utf16[i];
    if (SurrogatePairAt(utf16, i)) {
      AppendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (utf16[i + 1] - 0xDC00));
      ++i;
    } else if (c >= 0xDC80 && c <= 0xDCFF) {
      out.push_back(char(c - kEscapeBase));
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

size_t Utf16Length(const char16_t* s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

bool EqualsUtf16(const char16_t* a, const char16_t* b) {
  if (!a) a = u"";
  if (!b) b = u"";
  while (*a && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = char16_t(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = char16_t(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

std::string Latin1ToUtf8(const uint8_t* bytes, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t c = bytes[i];
    if (c < 0x80) {
      out += char(c);
    } else {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Ucs2BeToUtf8(const uint8_t* bytes, size_t length) {
  std::u16string units;
  for (size_t i = 0; i + 1 < length; i += 2) units += char16_t((bytes[i] << 8) | bytes[i + 1]);
  // DiscText first: a lone U+DC80..U+DCFF is no escaped host byte here.
  return Utf16ToUtf8(DiscText(units));
}

std::u16string DiscText(std::u16string_view text) {
  std::u16string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    if (SurrogatePairAt(out, i)) {
      ++i;  // a whole pair
    } else if (IsHighSurrogate(out[i]) || IsLowSurrogate(out[i])) {
      out[i] = char16_t(kReplacement);
    }
  }
  return out;
}

std::string GroupedDigits(uint64_t value) {
  std::string digits = std::to_string(value);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

}  // namespace vellumcast
