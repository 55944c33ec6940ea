#include "support/hex.h"

#include <cctype>
#include <stdexcept>

namespace nametree::test {

std::vector<std::uint8_t> Hex(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits += c;
    } else if (std::string_view(" |\n\t").find(c) == std::string_view::npos) {
      throw std::invalid_argument("bad hex fixture");
    }
  }
  if (digits.size() % 2) throw std::invalid_argument("odd hex fixture");
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::string ToHex(const std::vector<std::uint8_t>& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) s += ' ';
    s += digits[bytes[i] >> 4];
    s += digits[bytes[i] & 15];
  }
  return s;
}

}  // namespace nametree::test
