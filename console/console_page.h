#pragma once

#include "console/bitmap_dlg.h"

class CPagePanel;

// A page of the main window: a child dialog on the right of the page
// buttons, refreshed each time it is selected. Its owner is the page panel.
class CConsolePage : public CBitmapDlg {
  Q_OBJECT

 public:
  CConsolePage(int templateId, CPagePanel* owner, QWidget* parent);
  ~CConsolePage() override;

  // Re-reads what the page shows.
  void Refresh();
  int RefreshCount() const { return refreshes_; }

  CPagePanel* Owner() const { return owner_; }

 protected:
  virtual void OnRefresh() = 0;

 private:
  CPagePanel* owner_;
  int refreshes_ = 0;
};
