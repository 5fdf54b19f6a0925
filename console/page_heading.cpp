#include "console/page_heading.h"

#include <QFont>
#include <QLabel>

QLabel* AddPageHeading(QWidget* page, const char* text) {
  auto* heading = new QLabel(QString::fromLatin1(text), page);
  QFont font = heading->font();
  font.setBold(true);
  font.setPointSize(font.pointSize() + 3);
  heading->setFont(font);
  QPalette p = heading->palette();
  p.setColor(QPalette::WindowText, QColor(80, 80, 80));
  heading->setPalette(p);
  heading->setGeometry(16, 12, 388, 28);
  return heading;
}
