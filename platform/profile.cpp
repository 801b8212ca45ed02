#include "platform/profile.h"

#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/files.h"

namespace qz::platform {
namespace {

std::mutex writeMutex;

std::string_view Trim(std::string_view s) {
  const char* blanks = " \t\r\n\v\f";
  auto first = s.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  auto last = s.find_last_not_of(blanks);
  return s.substr(first, last - first + 1);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = a[i], y = b[i];
    if (std::tolower(x) != std::tolower(y)) return false;
  }
  return true;
}

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The section name of a "[name]" line.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  auto close = line.find(']');
  return Trim(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
}

// The key and value of a "key=value" line; comments are not keys.
std::optional<std::pair<std::string_view, std::string_view>> KeyValue(std::string_view line) {
  std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == ';') return std::nullopt;
  auto eq = trimmed.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return std::pair{Trim(trimmed.substr(0, eq)), Trim(trimmed.substr(eq + 1))};
}

// "value" and 'value' are both value.
std::string_view WithoutEnclosingQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return value;
}

// Where a section and a key stand in the file's lines.
struct Position {
  std::optional<size_t> section;  // line of the section header
  std::optional<size_t> key;      // line of the key
  size_t insertAt = 0;            // line after the section's last key
};

Position Locate(const std::vector<std::string>& lines, std::string_view section,
                std::string_view key) {
  Position pos;
  bool inside = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (auto name = SectionName(lines[i])) {
      if (pos.section && inside) break;
      inside = !pos.section && EqualNoCase(*name, section);
      if (inside) {
        pos.section = i;
        pos.insertAt = i + 1;
      }
      continue;
    }
    if (!inside) continue;
    if (auto kv = KeyValue(lines[i])) {
      pos.insertAt = i + 1;
      if (!pos.key && EqualNoCase(kv->first, key)) pos.key = i;
    }
  }
  return pos;
}

std::optional<std::string> ReadValue(std::string_view section, std::string_view key,
                                     std::string_view file) {
  std::vector<std::string> lines = ReadLines(ProfilePath(file));
  Position pos = Locate(lines, section, key);
  if (!pos.key) return std::nullopt;
  return std::string(WithoutEnclosingQuotes(KeyValue(lines[*pos.key])->second));
}

// Line breaks would split the entry and start lines of their own, even sections.
bool HoldsLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// Replaces the file by a complete new one: a crash leaves either the old or the new file.
bool ReplaceFile(const std::string& path, const std::vector<std::string>& lines) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return ReplaceFileContents(path, text);
}

}  // namespace

std::string ProfilePath(std::string_view file) {
  if (file.find('/') != std::string_view::npos) return std::string(file);
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string dir = (xdg && *xdg == '/') ? xdg : HomeDirectory() + "/.config";
  return dir + "/" + std::string(file);
}

int GetPrivateProfileInt(std::string_view section, std::string_view key, int def,
                         std::string_view file) {
  std::optional<std::string> value = ReadValue(section, key, file);
  if (!value || value->empty()) return def;
  std::string_view text = *value;
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::uint32_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    number = number * 10u + static_cast<std::uint32_t>(c - '0');
  }
  if (negative) number = 0u - number;
  return static_cast<int>(number);
}

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view def, std::string_view file) {
  std::optional<std::string> value = ReadValue(section, key, file);
  if (!value || value->empty()) return std::string(def);
  return *value;
}

bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, std::string_view file) {
  if (HoldsLineBreak(section) || HoldsLineBreak(key) || HoldsLineBreak(value)) {
    errno = EINVAL;
    return false;
  }
  std::lock_guard lock(writeMutex);
  std::string path = ProfilePath(file);
  std::vector<std::string> lines = ReadLines(path);
  std::string entry = std::string(key) + "=" + std::string(value);
  Position pos = Locate(lines, section, key);
  if (pos.key) {
    lines[*pos.key] = entry;
  } else if (pos.section) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(pos.insertAt), entry);
  } else {
    lines.push_back("[" + std::string(section) + "]");
    lines.push_back(entry);
  }
  return ReplaceFile(path, lines);
}

}  // namespace qz::platform
