#pragma once

#include "console/bitmap_dlg.h"

class CSkinButton;

// The About box: the product line, one more line, and OK.
class CAboutDlg : public CBitmapDlg {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
  ~CAboutDlg() override;

  CSkinButton* OkButton() const { return ok_; }

 private:
  CSkinButton* ok_ = nullptr;
};
