#include "app/dialog_units.h"

#include <QFontMetrics>
#include <QStringList>

namespace qz {

QFont DialogFont() {
  QFont font;
  font.setFamilies({"MS Sans Serif", "DejaVu Sans", "Sans Serif"});
  font.setPointSize(8);
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  QFontMetrics metrics(font);
  const QString letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  baseX_ = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
  baseY_ = metrics.height();
}

int DialogUnits::X(int units) const {
  return (units * baseX_ + 2) / 4;
}
int DialogUnits::Y(int units) const {
  return (units * baseY_ + 4) / 8;
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  return QRect(X(x), Y(y), X(width), Y(height));
}

QSize DialogUnits::Size(int width, int height) const {
  return QSize(X(width), Y(height));
}

}  // namespace qz
