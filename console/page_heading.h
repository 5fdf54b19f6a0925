#pragma once

class QLabel;
class QWidget;

// The heading line at the top of a page.
QLabel* AddPageHeading(QWidget* page, const char* text);
