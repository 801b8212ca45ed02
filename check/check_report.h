// The answer of `qzbackup --check`: one line per thing checked, "OK", "WARN" or "FAIL", what was
// found and, when not OK, in plain words what to do.
#pragma once

#include <ostream>
#include <string>

namespace qz {

class CheckReport {
 public:
  explicit CheckReport(std::ostream& out) : out_(out) {}

  void Ok(const std::string& thing, const std::string& finding);
  void Warn(const std::string& thing, const std::string& finding, const std::string& todo);
  void Fail(const std::string& thing, const std::string& finding, const std::string& todo);

  int Failures() const { return failed_; }
  // "Check of installation: 14 OK, 1 WARN, 0 FAIL"
  std::string Summary() const;

 private:
  void Line(const char* level, const std::string& thing, const std::string& finding,
            const std::string& todo);

  std::ostream& out_;
  int ok_ = 0;
  int warned_ = 0;
  int failed_ = 0;
};

// Control bytes of a text from outside (a path, a server's or the driver's words) as escapes, so
// that one finding stays one line.
std::string OneLine(const std::string& text);

}  // namespace qz
