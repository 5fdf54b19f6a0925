#include "console/page_text.h"

#include <QLabel>

QLabel* AddPageText(QWidget* page, const char* text, QRect geometry, QColor colour) {
  auto* label = new QLabel(QString::fromLatin1(text), page);
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, colour);
  label->setPalette(p);
  label->setAutoFillBackground(false);
  label->setGeometry(geometry);
  return label;
}
