#pragma once

#include <string>
#include <string_view>

#include "console/bitmap_dlg.h"

class QLabel;
class CSkinButton;

// The console's own message box: borderless, titled "Quillmark", the text
// word-wrapped over the box background, one OK button.
class CMessageDlg : public CBitmapDlg {
  Q_OBJECT

 public:
  explicit CMessageDlg(QWidget* parent = nullptr);
  ~CMessageDlg() override;

  void SetText(std::string_view text);  // Latin-1
  std::string Text() const;

  CSkinButton* OkButton() const { return ok_; }
  QLabel* TextLabel() const { return text_; }

 private:
  QLabel* text_ = nullptr;
  CSkinButton* ok_ = nullptr;
};

// Shows the text in a CMessageDlg over `parent` and returns when OK is
// pressed.
void ShowMessage(QWidget* parent, std::string_view text);

// Static text of the boxes: RGB(80, 80, 80) on a transparent background.
void StyleBoxText(QLabel* label);
