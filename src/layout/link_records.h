// How a symbolic link's text is recorded: as Rock Ridge SL entries (IEEE P1282 4.1.3)
// and as UDF path components (ECMA-167 4/14.16). Both split the text at '/' into a root
// component (a leading '/'), "." and ".." and named components; an empty component (of
// "a//b" or a final '/') has no record in either. The layout sizes them and the writers
// fill them; the checks state the text a reader rebuilds on their own (ExpectedLinkText
// in verify/expected_names.h).
#pragma once

#include <cstdint>
#include <string>

namespace vellumcast {

// Rock Ridge PN: device number, high and low 32 bits in both byte orders.
constexpr uint32_t kRripPnBytes = 20;

// The SL entries of `target`, each at most 255 bytes, every one but the last flagged to
// continue in the next.
std::string RockRidgeSlEntries(const char* target);

// The path components of `target` for a UDF symbolic link's data; identifiers in OSTA
// CS0, 8-bit when every unit allows it.
std::string UdfPathComponents(const char* target);

}  // namespace vellumcast
