#pragma once

#include <optional>

class QLineEdit;
class QWidget;

// The standard checks of an integer field of a dialog: the text must be a
// whole number ("Please enter an integer.") within a range ("Please enter
// an integer between %1 and %2."). A failed check shows its message in a
// standard message box over `parent`, puts the focus on the field and
// gives nothing.
std::optional<int> TakeInteger(QWidget* parent, QLineEdit* field);
std::optional<int> TakeInteger(QWidget* parent, QLineEdit* field, int minimum, int maximum);

inline constexpr const char* kEnterInteger = "Please enter an integer.";
