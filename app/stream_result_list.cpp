#include "app/stream_result_list.h"

#include "platform/control_bytes.h"

namespace qz {

void StreamResultList::AddLine(const ResultLine& line) {
  // The TABs and the line break are the list's own; those inside a value are escaped.
  std::fprintf(out_, "%s\t%s\t%s\n", platform::EscapeControlBytes(line.server).c_str(),
               platform::EscapeControlBytes(line.file).c_str(),
               platform::EscapeControlBytes(line.status).c_str());
  std::fflush(out_);
  ++count_;
}

}  // namespace qz
