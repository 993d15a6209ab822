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
// UCS-2 big-endian (a Joliet identifier) as UTF-8, unit by unit as a UCS-2 reader decodes
// it: a surrogate unit gives its own three bytes; an odd last byte is dropped.
std::string Ucs2BeToUtf8(const uint8_t* bytes, size_t length);
// 8-bit characters (ISO-8859-1: an ISO 9660 identifier, an 8-bit UDF identifier) as
// UTF-8: ASCII as it is, every other byte as its Latin-1 character.
std::string Latin1ToUtf8(const uint8_t* bytes, size_t length);

// The unit recorded on the disc for one unit of a name: an escaped byte (a host name
// that was not valid UTF-8) shows as U+FFFD, the replacement character.
inline char16_t DiscUnit(char16_t c) { return (c >= 0xDC80 && c <= 0xDCFF) ? char16_t(0xFFFD) : c; }

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
