// Percent-encodes a file name so that it stands as one path segment of a download URL.
#pragma once

#include <string>
#include <string_view>

namespace qz {

class UrlEncoder {
 public:
  // The URL-special characters escaped besides controls, space and bytes from 0x7B up.
  static constexpr std::string_view UnsafeCharacters = "\"<>%\\^[]`+$,@:;/!#?=&";
  static constexpr std::string_view HexDigits = "0123456789ABCDEF";
  static_assert(UnsafeCharacters.size() == 21);

  virtual ~UrlEncoder() = default;

  // Byte by byte, without any character-set translation; a NUL inside the text is encoded too.
  std::string Encode(std::string_view text) const;
  // Only the control bytes (0x00-0x1F, 0x7F) encoded: the form of the server name and the web
  // directory inside a download URL, where such a byte can never belong and a terminal must not
  // receive it from wget's messages.
  std::string EncodeControlBytes(std::string_view text) const;
  bool IsUnsafe(char c) const;
  // "%" and two upper-case hexadecimal digits of the byte's unsigned value.
  std::string Escape(char c) const;
  // Two digits of the byte's unsigned value; only base 16 is defined, any other gives "".
  std::string ToDigits(char c, int base) const;
};

}  // namespace qz
