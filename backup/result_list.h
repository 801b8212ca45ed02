// The result list a run writes to: the main window's list view, or standard output headless.
#pragma once

#include <string>

namespace qz {

enum ResultImage { kImageOk = 0, kImageFailed = 1 };

struct ResultLine {
  std::string server;
  std::string file;
  std::string status;
  int image = kImageOk;
};

class ResultList {
 public:
  virtual ~ResultList() = default;
  // Inserts the line on top, so the newest is first, and shows it at once.
  virtual void AddLine(const ResultLine& line) = 0;
  virtual int CountLines() const = 0;
  // Index 0 is the top line.
  virtual void DeleteLine(int index) = 0;
};

}  // namespace qz
