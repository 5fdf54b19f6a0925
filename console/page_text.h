#pragma once

#include <QColor>
#include <QRect>

class QLabel;
class QWidget;

// Static texts of the pages: transparent over the white page, in the
// page's text colour.
inline const QColor kPageTextGrey(80, 80, 80);

QLabel* AddPageText(QWidget* page, const char* text, QRect geometry, QColor colour = kPageTextGrey);
