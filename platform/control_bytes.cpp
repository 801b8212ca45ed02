#include "platform/control_bytes.h"

namespace qz::platform {
namespace {

std::string HexEscape(char c) {
  static constexpr std::string_view kDigits = "0123456789abcdef";
  const auto value = static_cast<unsigned char>(c);
  return {'\\', 'x', kDigits[value >> 4], kDigits[value & 0xF]};
}

// A backslash run before one of these would be read as part of an escape, so it is doubled.
bool EndsBackslashRunAmbiguously(std::string_view text, std::size_t pos) {
  return pos < text.size() && (text[pos] == 'x' || IsControlByte(text[pos]));
}

}  // namespace

bool IsControlByte(char c) {
  const auto value = static_cast<unsigned char>(c);
  return value < 0x20 || value == 0x7F;
}

std::string EscapeControlBytes(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] == '\\') {
      const std::size_t start = pos;
      while (pos < text.size() && text[pos] == '\\') ++pos;
      const std::size_t run = pos - start;
      result.append(EndsBackslashRunAmbiguously(text, pos) ? 2 * run : run, '\\');
    } else if (IsControlByte(text[pos])) {
      result += HexEscape(text[pos++]);
    } else {
      result += text[pos++];
    }
  }
  return result;
}

}  // namespace qz::platform
