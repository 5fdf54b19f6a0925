#pragma once

#include "console/bitmap_dlg.h"

class CPagePanel;

// A page of the main window: a child dialog on the right of the page
// buttons, refreshed each time it is selected. Its owner is the page panel.
//
// The page is white paper except for a strip along its right edge, where
// the main window's background shows: the page reaches to within a few
// pixels of the window's edge, and the strip keeps the paper off the
// frame with the same margin it has at the top. Controls belong inside
// PaperRect().
class CConsolePage : public CBitmapDlg {
  Q_OBJECT

 public:
  CConsolePage(int templateId, CPagePanel* owner, QWidget* parent);
  ~CConsolePage() override;

  // Re-reads what the page shows.
  void Refresh();
  int RefreshCount() const { return refreshes_; }

  CPagePanel* Owner() const { return owner_; }

  // Width of the strip on the right that is left to the window behind.
  static constexpr int kRightMargin = 8;
  // The white part of the page.
  QRect PaperRect() const;

 protected:
  virtual void OnRefresh() = 0;
  void paintEvent(QPaintEvent* event) override;

 private:
  CPagePanel* owner_;
  int refreshes_ = 0;
};
