// Byte fixtures written as hex text, so that tests can state stream
// contents the way they are worked out by hand: "01 00 | 05 00 00 00".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nametree::test {

// Hex digit pairs; blanks, '|' and newlines are ignored.
std::vector<std::uint8_t> Hex(std::string_view text);
std::string ToHex(const std::vector<std::uint8_t>& bytes);

}  // namespace nametree::test
