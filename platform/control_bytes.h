// Text from the table, the settings or a server written as one line: its control bytes made
// visible, so that one event stays one line and nothing reaches a terminal as a control sequence.
#pragma once

#include <string>
#include <string_view>

namespace qz::platform {

// True for the bytes 0x00-0x1F and 0x7F.
bool IsControlByte(char c);

// Every control byte becomes "\xHH" (two lower-case hexadecimal digits). A run of backslashes that
// stands right before an "x" or before such an escape is written doubled, so that an odd run
// before "x" always starts an escape; every other backslash is written as it is. Text without a
// control byte and without "\x" comes back unchanged.
std::string EscapeControlBytes(std::string_view text);

}  // namespace qz::platform
