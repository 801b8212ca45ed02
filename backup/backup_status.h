// The outcome of one table row, and what the result list shows for it.
#pragma once

#include <string>

#include "archive/row_status.h"

namespace qz {

// The string-table text of a status.
std::string StatusText(int status);

// Image 0 (green tick) for a backed-up row, image 1 (red disc) for every failure.
int StatusImage(int status);

}  // namespace qz
