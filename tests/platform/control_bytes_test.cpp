#include "platform/control_bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace qz::platform {
namespace {

struct EscapeCase {
  std::string text;
  std::string written;
};

TEST(EscapeControlBytesTest, ControlBytesBecomeVisibleAndBackslashesStayReadable) {
  const EscapeCase cases[] = {
      {"Rec 01.wav \"q\" 100% \xE4", "Rec 01.wav \"q\" 100% \xE4"},
      {"\\qzt\\backup\\ \\\\srv\\share", "\\qzt\\backup\\ \\\\srv\\share"},
      {std::string("a\nb\rc\td\x1b[31me\x7f"
                   "f\0g",
                   17),
       "a\\x0ab\\x0dc\\x09d\\x1b[31me\\x7ff\\x00g"},
      {"\x01\x1f", "\\x01\\x1f"},
      // Backslashes before "x" or before an escape are doubled: "\x" always starts an escape.
      {"\\x41", "\\\\x41"},
      {"a\\\\x", "a\\\\\\\\x"},
      {"a\\\n", "a\\\\\\x0a"},
      {"\\\\\x1b", "\\\\\\\\\\x1b"},
      {"x\\", "x\\"},
  };
  for (const EscapeCase& c : cases) EXPECT_EQ(EscapeControlBytes(c.text), c.written) << c.text;
}

}  // namespace
}  // namespace qz::platform
