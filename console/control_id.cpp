#include "console/control_id.h"

#include <QVariant>
#include <QWidget>

namespace {
constexpr const char* kProperty = "quillmarkControlId";
}

void SetControlId(QWidget* control, int id) { control->setProperty(kProperty, id); }

int ControlId(const QWidget* control) {
  QVariant v = control->property(kProperty);
  return v.isValid() ? v.toInt() : 0;
}

QWidget* FindControl(const QWidget* parent, int id) {
  for (QWidget* w : parent->findChildren<QWidget*>()) {
    if (ControlId(w) == id) return w;
  }
  return nullptr;
}
