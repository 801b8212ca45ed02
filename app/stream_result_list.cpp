#include "app/stream_result_list.h"

namespace qz {

void StreamResultList::AddLine(const ResultLine& line) {
  std::fprintf(out_, "%s\t%s\t%s\n", line.server.c_str(), line.file.c_str(), line.status.c_str());
  std::fflush(out_);
  ++count_;
}

}  // namespace qz
