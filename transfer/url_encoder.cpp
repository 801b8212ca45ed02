#include "transfer/url_encoder.h"

#include "platform/control_bytes.h"

namespace qz {

std::string UrlEncoder::Encode(std::string_view text) const {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    if (IsUnsafe(c))
      result += Escape(c);
    else
      result += c;
  }
  return result;
}

std::string UrlEncoder::EncodeControlBytes(std::string_view text) const {
  std::string result;
  result.reserve(text.size());
  for (char c : text) result += platform::IsControlByte(c) ? Escape(c) : std::string(1, c);
  return result;
}

bool UrlEncoder::IsUnsafe(char c) const {
  if (UnsafeCharacters.find(c) != std::string_view::npos) return true;
  // Taken as signed, every byte from 0x80 up is negative and so falls under the first test.
  const auto value = static_cast<signed char>(c);
  return value <= 32 || value >= 123;
}

std::string UrlEncoder::Escape(char c) const {
  return "%" + ToDigits(c, 16);
}

std::string UrlEncoder::ToDigits(char c, int base) const {
  if (base != 16) return {};
  const int value = static_cast<unsigned char>(c);
  return {HexDigits[value / base], HexDigits[value % base]};
}

}  // namespace qz
