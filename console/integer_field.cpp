#include "console/integer_field.h"

#include <QLineEdit>
#include <QMessageBox>
#include <climits>

namespace {

void Refuse(QWidget* parent, QLineEdit* field, const QString& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Quillmark"), text, QMessageBox::Ok, parent);
  box.exec();
  field->setFocus();
  field->selectAll();
}

}  // namespace

std::optional<int> TakeInteger(QWidget* parent, QLineEdit* field) {
  bool ok = false;
  const qlonglong value = field->text().trimmed().toLongLong(&ok, 10);
  if (!ok || value < INT_MIN || value > INT_MAX) {
    Refuse(parent, field, QString::fromLatin1(kEnterInteger));
    return std::nullopt;
  }
  return static_cast<int>(value);
}

std::optional<int> TakeInteger(QWidget* parent, QLineEdit* field, int minimum, int maximum) {
  std::optional<int> value = TakeInteger(parent, field);
  if (value && (*value < minimum || *value > maximum)) {
    Refuse(parent, field,
           QStringLiteral("Please enter an integer between %1 and %2.").arg(minimum).arg(maximum));
    return std::nullopt;
  }
  return value;
}
