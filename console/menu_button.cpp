#include "console/menu_button.h"

#include <QMouseEvent>

#include "console/resources.h"

CMenuButton::CMenuButton(QWidget* parent) : CSkinButton(parent) {}

CMenuButton::~CMenuButton() = default;

bool CMenuButton::AppendItem(int id, std::string_view text, unsigned flags) {
  QAction* action = nullptr;
  if (flags & res::MF_SEPARATOR) {
    action = menu_.addSeparator();
  } else {
    action = menu_.addAction(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    action->setData(id);
  }
  if (action == nullptr) return false;
  hasItems_ = true;
  return true;
}

void CMenuButton::OnMenuCommand(int) {}

int CMenuButton::TrackMenu(QPoint where) {
  QAction* chosen = menu_.exec(where);
  return chosen != nullptr ? chosen->data().toInt() : 0;
}

void CMenuButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && hasItems_ && rect().contains(event->position().toPoint())) {
    setFocus(Qt::MouseFocusReason);
    update();
    int id = TrackMenu(mapToGlobal(rect().bottomLeft() + QPoint(0, 1)));
    if (id != 0) OnMenuCommand(id);
    return;
  }
  CSkinButton::mousePressEvent(event);
}
