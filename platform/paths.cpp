#include "platform/paths.h"

#include <vector>

namespace qz::platform {
namespace {

std::vector<std::string> SplitComponents(std::string_view path) {
  std::vector<std::string> parts(1);
  for (char c : path) {
    if (c == '\\' || c == '/')
      parts.emplace_back();
    else
      parts.back() += c;
  }
  return parts;
}

// Windows ignores trailing dots of a directory name; "." names the folder it stands in.
std::string NormaliseDirectory(std::string part) {
  if (part == "." || part == "..") return part;
  while (!part.empty() && part.back() == '.') part.pop_back();
  return part;
}

}  // namespace

std::string NativePath(std::string_view windowsPath) {
  std::vector<std::string> parts = SplitComponents(windowsPath);
  std::string result;
  bool absolute = !windowsPath.empty() && (windowsPath[0] == '\\' || windowsPath[0] == '/');
  if (absolute) result = "/";
  for (size_t i = 0; i < parts.size(); ++i) {
    bool last = i + 1 == parts.size();
    std::string part = last ? parts[i] : NormaliseDirectory(parts[i]);
    if (!last && (part.empty() || part == ".")) continue;
    if (last && part.empty()) break;
    if (!result.empty() && result.back() != '/') result += '/';
    result += part;
  }
  bool trailingSeparator = parts.size() > 1 && parts.back().empty();
  if (trailingSeparator && !result.empty() && result.back() != '/') result += '/';
  if (result.empty() && !windowsPath.empty()) result = ".";
  return result;
}

std::string NativeDirectoryPath(std::string_view windowsPath) {
  if (windowsPath.empty()) return "";
  std::string result = NativePath(std::string(windowsPath) + '/');
  if (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

std::string PathInDirectory(std::string_view directory, std::string_view fileName) {
  std::string result = NativeDirectoryPath(directory);
  if (result.empty()) result = ".";
  if (result.back() != '/') result += '/';
  return result + std::string(fileName);
}

std::string AbsoluteDirectory(std::string_view directory, std::string_view base) {
  const std::string native = NativeDirectoryPath(directory);
  if (native.empty() || native.front() == '/' || base.empty()) return std::string(directory);
  std::string result(base);
  if (result.back() != '/') result += '/';
  return result + std::string(directory);
}

}  // namespace qz::platform
