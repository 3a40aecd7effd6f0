#include "AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace zv::editor {

namespace {

QPixmap drawnMouse(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const double unit = size / 24.0;
  // A mouse seen from above: the body, the split between the buttons, the wheel.
  const QRectF body(6 * unit, 2.5 * unit, 12 * unit, 19 * unit);
  painter.setPen(QPen(QColor(0x2b, 0x59, 0xc3), 1.6 * unit));
  painter.setBrush(QColor(0xf4, 0xf6, 0xfb));
  painter.drawRoundedRect(body, 6 * unit, 6 * unit);
  painter.drawLine(QPointF(12 * unit, 2.5 * unit), QPointF(12 * unit, 10 * unit));
  painter.drawLine(QPointF(6 * unit, 10 * unit), QPointF(18 * unit, 10 * unit));
  painter.setBrush(QColor(0x2b, 0x59, 0xc3));
  painter.drawRoundedRect(QRectF(11 * unit, 4.5 * unit, 2 * unit, 4 * unit), unit, unit);
  return pixmap;
}

}  // namespace

QIcon appIcon() {
  QIcon drawn;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) drawn.addPixmap(drawnMouse(size));
  return QIcon::fromTheme(QStringLiteral("input-mouse"), drawn);
}

}  // namespace zv::editor
