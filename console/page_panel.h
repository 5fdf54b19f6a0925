#pragma once

#include <map>

#include "console/bitmap_dlg.h"

class CConsolePage;
class CSkinButton;
class QAbstractButton;

// The column of page buttons on the left of the main window. Each page is
// stored with its button under the next index; a click on a page's button
// shows that page alone, disables its button (so it looks held down),
// enables the others and refreshes the page.
class CPagePanel : public CBitmapDlg {
  Q_OBJECT

 public:
  explicit CPagePanel(QWidget* parent);
  ~CPagePanel() override;

  // Stores page and button under the next index; returns 1.
  int AddPage(CConsolePage* page, CSkinButton* button);

  // Page switching happens only while this is set.
  void SetEnabledFlag(bool enabled) { enabled_ = enabled; }
  bool EnabledFlag() const { return enabled_; }

  int PageCount() const { return next_; }
  CConsolePage* Page(int index) const;
  CSkinButton* Button(int index) const;

  // A click on one of the panel's buttons.
  void OnButtonClicked(QAbstractButton* button);

 private:
  void SelectPage(int index);

  std::map<int, CConsolePage*> pages_;
  std::map<int, CSkinButton*> buttons_;
  int next_ = 0;
  bool enabled_ = false;
};
