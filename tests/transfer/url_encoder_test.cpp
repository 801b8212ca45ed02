#include "transfer/url_encoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace qz {
namespace {

using namespace std::string_literals;

// Stated apart from the encoder: letters, digits and "'()*-._" pass, every other byte is escaped.
std::string ExpectedFor(unsigned char byte) {
  const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                     (byte >= '0' && byte <= '9') ||
                     std::string("'()*-._").find(byte) != std::string::npos;
  if (plain) return std::string(1, static_cast<char>(byte));
  char escaped[4];
  std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
  return escaped;
}

TEST(UrlEncoderTest, EncodesNamesAsTheServersExpect) {
  const struct {
    std::string name, encoded;
  } cases[] = {
      {"Rec 01.wav", "Rec%2001.wav"},
      {"a+b&c.wav", "a%2Bb%26c.wav"},
      {"100%.wav", "100%25.wav"},
      {"dir/x.wav", "dir%2Fx.wav"},
      {"it's(1)_x-y*.wav", "it's(1)_x-y*.wav"},
      {"~a{b}", "%7Ea%7Bb%7D"},
      {"", ""},
      {"a%20b", "a%2520b"},  // an escape in the name is data, escaped again
      {"C:\\rec\\x!.wav", "C%3A%5Crec%5Cx%21.wav"},
      {"a\0b"s, "a%00b"},
      {"\t\x7F\xE4\xFF", "%09%7F%E4%FF"},
      {"\xC3\xA4", "%C3%A4"},  // two bytes, two escapes
  };
  UrlEncoder encoder;
  for (const auto& c : cases) EXPECT_EQ(encoder.Encode(c.name), c.encoded) << c.name;
}

TEST(UrlEncoderTest, EveryByteAgreesWithTheIndependentRule) {
  UrlEncoder encoder;
  std::string all, expected;
  for (int byte = 0; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    SCOPED_TRACE(byte);
    EXPECT_EQ(encoder.Encode(std::string(1, c)), ExpectedFor(static_cast<unsigned char>(byte)));
    EXPECT_EQ(encoder.IsUnsafe(c), ExpectedFor(static_cast<unsigned char>(byte)).size() == 3);
    all += c;
    expected += ExpectedFor(static_cast<unsigned char>(byte));
  }
  EXPECT_EQ(encoder.Encode(all), expected);
}

TEST(UrlEncoderTest, DigitsKeepTheLeadingZeroAndOnlyBase16IsDefined) {
  UrlEncoder encoder;
  EXPECT_EQ(encoder.ToDigits('\x05', 16), "05");
  EXPECT_EQ(encoder.ToDigits('\xE4', 16), "E4");
  EXPECT_EQ(encoder.Escape(' '), "%20");
  EXPECT_EQ(encoder.ToDigits('A', 10), "");
}

}  // namespace
}  // namespace qz
