#include "app/icons.h"

#include <QPainter>
#include <QPainterPath>

#include "app/resource_ids.h"

namespace qz {
namespace {

constexpr int kStatusSize = 13;

QPixmap Transparent(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

}  // namespace

QPixmap PadlockPixmap(int size) {
  QPixmap pixmap = Transparent(size);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const double s = size / 32.0;
  p.setPen(QPen(QColor(96, 96, 96), 3.5 * s));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(9 * s, 3 * s, 14 * s, 18 * s), 0, 180 * 16);
  p.drawLine(QPointF(9 * s, 12 * s), QPointF(9 * s, 15 * s));
  p.drawLine(QPointF(23 * s, 12 * s), QPointF(23 * s, 15 * s));
  p.setPen(QPen(QColor(64, 64, 64), 1 * s));
  p.setBrush(QColor(160, 160, 160));
  p.drawRoundedRect(QRectF(5 * s, 14 * s, 22 * s, 16 * s), 2 * s, 2 * s);
  p.setBrush(QColor(48, 48, 48));
  p.drawEllipse(QPointF(16 * s, 21 * s), 2.2 * s, 2.2 * s);
  p.drawRect(QRectF(15.2 * s, 22 * s, 1.6 * s, 4.5 * s));
  return pixmap;
}

QPixmap StatusOkPixmap() {
  QPixmap pixmap = Transparent(kStatusSize);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0, 150, 0), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  QPainterPath tick;
  tick.moveTo(2, 7);
  tick.lineTo(5, 10.5);
  tick.lineTo(11, 2.5);
  p.drawPath(tick);
  return pixmap;
}

QPixmap StatusFailedPixmap() {
  QPixmap pixmap = Transparent(kStatusSize);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(210, 0, 0));
  p.drawEllipse(QRectF(0.5, 0.5, 12, 12));
  p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(4, 4), QPointF(9, 9));
  p.drawLine(QPointF(9, 4), QPointF(4, 9));
  return pixmap;
}

QIcon LoadIcon(int iconId) {
  QIcon icon;
  switch (iconId) {
    case IDI_MAIN:
      icon.addPixmap(PadlockPixmap(32));
      icon.addPixmap(PadlockPixmap(16));
      break;
    case IDI_STATUS_OK:
      icon.addPixmap(StatusOkPixmap());
      break;
    case IDI_STATUS_FAILED:
      icon.addPixmap(StatusFailedPixmap());
      break;
  }
  return icon;
}

}  // namespace qz
