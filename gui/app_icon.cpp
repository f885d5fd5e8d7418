#include "gui/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kvgui {

QImage DrawAppIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);

  // The certificate: a sheet with a folded corner and lines of text.
  QPainterPath sheet;
  sheet.moveTo(8, 6);
  sheet.lineTo(44, 6);
  sheet.lineTo(56, 18);
  sheet.lineTo(56, 58);
  sheet.lineTo(8, 58);
  sheet.closeSubpath();
  p.setPen(QPen(QColor(40, 60, 100), 2.5));
  p.setBrush(QColor(250, 248, 238));
  p.drawPath(sheet);
  p.setBrush(QColor(215, 210, 190));
  p.drawPolygon(QPolygonF({QPointF(44, 6), QPointF(44, 18), QPointF(56, 18)}));
  p.setPen(QPen(QColor(70, 90, 130), 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(15, 18), QPointF(37, 18));
  p.drawLine(QPointF(15, 27), QPointF(48, 27));
  p.drawLine(QPointF(15, 35), QPointF(40, 35));

  // The seal with its two ribbons.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(180, 30, 30));
  p.drawPolygon(QPolygonF({QPointF(33, 48), QPointF(29, 62), QPointF(34, 59), QPointF(37, 63), QPointF(39, 49)}));
  p.drawPolygon(QPolygonF({QPointF(45, 48), QPointF(49, 62), QPointF(44, 59), QPointF(41, 63), QPointF(39, 49)}));
  p.setPen(QPen(QColor(120, 15, 15), 1.5));
  p.setBrush(QColor(205, 45, 40));
  p.drawEllipse(QPointF(39, 46), 9, 9);
  p.setPen(QPen(QColor(250, 220, 120), 1.8));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(39, 46), 5.5, 5.5);
  p.end();
  return image;
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(QPixmap::fromImage(DrawAppIcon(size)));
  return icon;
}

}  // namespace kvgui
