// The tool's icons, drawn at run time: a grey padlock for the window, a green tick and a red disc
// with a white cross for the result lines.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace qz {

QIcon LoadIcon(int iconId);
QPixmap PadlockPixmap(int size);
QPixmap StatusOkPixmap();
QPixmap StatusFailedPixmap();

}  // namespace qz
