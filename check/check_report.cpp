#include "check/check_report.h"

#include <cstdio>

namespace qz {

std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else if (c == '\t') {
      line += "\\t";
    } else if (byte < 0x20 || byte == 0x7f) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      line += escaped;
    } else {
      line += c;
    }
  }
  return line;
}

void CheckReport::Ok(const std::string& thing, const std::string& finding) {
  ++ok_;
  Line("OK  ", thing, finding, "");
}

void CheckReport::Warn(const std::string& thing, const std::string& finding,
                       const std::string& todo) {
  ++warned_;
  Line("WARN", thing, finding, todo);
}

void CheckReport::Fail(const std::string& thing, const std::string& finding,
                       const std::string& todo) {
  ++failed_;
  Line("FAIL", thing, finding, todo);
}

std::string CheckReport::Summary() const {
  return "Check of installation: " + std::to_string(ok_) + " OK, " + std::to_string(warned_) +
         " WARN, " + std::to_string(failed_) + " FAIL";
}

void CheckReport::Line(const char* level, const std::string& thing, const std::string& finding,
                       const std::string& todo) {
  const std::string found = OneLine(finding);
  out_ << level << ' ' << OneLine(thing) << ": " << found;
  // wget's own reasons end with a full stop already.
  if (!todo.empty()) out_ << (!found.empty() && found.back() == '.' ? " " : ". ") << OneLine(todo);
  out_ << '\n';
}

}  // namespace qz
