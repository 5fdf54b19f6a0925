#pragma once

// Controls are known by their numeric identifiers, as in the dialog
// templates; the number is kept on the widget.

class QWidget;

void SetControlId(QWidget* control, int id);
// The control's identifier, or 0 when it has none.
int ControlId(const QWidget* control);
// The child (at any depth) with that identifier, or null.
QWidget* FindControl(const QWidget* parent, int id);
