// Text conversions between the host's byte strings (UTF-8 file names and command line)
// and the NUL-terminated UTF-16 that the rest of the program uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vellumcast {

// UTF-8 to UTF-16, lossless for any byte string: every byte that is not part of a valid
// UTF-8 sequence becomes the lone surrogate U+DC80 + (byte - 0x80) ("escaped byte"),
// so Utf16ToUtf8 gives back exactly the original bytes. Bytes below 0x80 are always valid.
std::u16string Utf8ToUtf16(std::string_view utf8);

// UTF-16 to UTF-8. An escaped byte (lone U+DC80..U+DCFF) becomes its original byte;
// any other unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);
// UTF-16 big-endian (a Joliet identifier) as UTF-8: a surrogate pair as its one
// character, an unpaired surrogate as U+FFFD, so the text is always valid UTF-8; an odd
// last byte is dropped.
std::string Ucs2BeToUtf8(const uint8_t* bytes, size_t length);
// 8-bit characters (ISO-8859-1: an ISO 9660 identifier, an 8-bit UDF identifier) as
// UTF-8: ASCII as it is, every other byte as its Latin-1 character.
std::string Latin1ToUtf8(const uint8_t* bytes, size_t length);

// The UTF-16 units recorded on the disc for a name or label: a surrogate pair (a
// character beyond U+FFFF) stays whole; every unpaired surrogate, an escaped byte of a
// host name that was not valid UTF-8 included, becomes U+FFFD, the replacement character.
std::u16string DiscText(std::u16string_view text);

inline bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
// Whether units i and i + 1 of `text` are a surrogate pair: one character beyond U+FFFF.
inline bool SurrogatePairAt(std::u16string_view text, size_t i) {
  return i + 1 < text.size() && IsHighSurrogate(text[i]) && IsLowSurrogate(text[i + 1]);
}
// The first `n` units of `text`, one fewer when the cut would keep the first half of a
// surrogate pair without its second; all of `text` when it is not longer than `n`.
inline std::u16string_view HeadUnits(std::u16string_view text, size_t n) {
  if (n >= text.size()) return text;
  if (n > 0 && IsHighSurrogate(text[n - 1])) --n;
  return text.substr(0, n);
}

// The simple upper-case mapping of the Unicode Character Database for one BMP unit (as
// Windows compares names ignoring case); a unit without one is returned as it is.
char16_t UpperCaseUnit(char16_t c);

// Length in units of a NUL-terminated UTF-16 string.
size_t Utf16Length(const char16_t* s);

// Whether two NUL-terminated UTF-16 strings hold the same units; a null pointer is the
// empty string.
bool EqualsUtf16(const char16_t* a, const char16_t* b);

// Case-insensitive comparison of ASCII letters only; all other units compare as they are.
bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b);

// A number with its thousands grouped: 4523009024 as "4,523,009,024".
std::string GroupedDigits(uint64_t value);

}  // namespace vellumcast
