#pragma once

#include <cstdio>

#include "backup/result_list.h"

namespace qz {

// Result lines as "server<TAB>file<TAB>status" on a stream, one per line, shown at once; the
// control bytes of each value are escaped, so a row is always one line of three fields.
class StreamResultList : public ResultList {
 public:
  explicit StreamResultList(std::FILE* out) : out_(out) {}
  void AddLine(const ResultLine& line) override;
  int CountLines() const override { return count_; }
  void DeleteLine(int) override { --count_; }

 private:
  std::FILE* out_;
  int count_ = 0;
};

}  // namespace qz
