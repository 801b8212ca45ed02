// The SHA-256 of a file's content, read once from start to end.
#pragma once

#include <string>
#include <string_view>

namespace qz::platform {

// `path` is a native path (used as it is). 64 lower-case hex digits; false with errno set when the
// file cannot be read.
bool Sha256OfFile(std::string_view path, std::string& hexDigest);

// Whether `text` is a SHA-256 as 64 hex digits, of either case.
bool IsSha256Hex(std::string_view text);

// The SHA-256 of `text`, as 64 lower-case hex digits.
std::string Sha256OfText(std::string_view text);

}  // namespace qz::platform
