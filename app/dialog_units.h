// Dialog templates are laid out in dialog units: a quarter of the font's average character width
// horizontally and an eighth of its height vertically.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace qz {

// The dialog font: the original's 8-point sans serif, or the closest one installed.
QFont DialogFont();

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  QRect Rect(int x, int y, int width, int height) const;
  QSize Size(int width, int height) const;
  int baseX() const { return baseX_; }
  int baseY() const { return baseY_; }

 private:
  int X(int units) const;
  int Y(int units) const;
  int baseX_;
  int baseY_;
};

}  // namespace qz
