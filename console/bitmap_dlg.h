#pragma once

#include <QDialog>
#include <QPixmap>

// A dialog that paints a bitmap as its background: unscaled, from its
// top-left corner, over the brush-filled client area. Top-level ones are
// borderless; child ones are plain child windows (the console's pages).
class CBitmapDlg : public QDialog {
  Q_OBJECT

 public:
  enum class Kind { kTopLevel, kChild };

  // Takes its size and title from the dialog template `templateId`.
  CBitmapDlg(int templateId, QWidget* parent, Kind kind = Kind::kTopLevel);
  ~CBitmapDlg() override;

  int TemplateId() const { return templateId_; }

  // Loads the bitmap resource; false when it does not load (the background
  // is then the brush colour alone).
  bool SetBackground(int bitmapId);
  // Takes the bitmap (a null one clears the background).
  bool SetBackground(QPixmap bitmap);

  const QPixmap& Background() const { return bitmap_; }
  int BitmapWidth() const { return width_; }
  int BitmapHeight() const { return height_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // Presses on a dialog's own free area stay with it.
  void mousePressEvent(QMouseEvent* event) override;
  // A child dialog leaves Escape and Enter to the window it is part of.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  int templateId_;
  Kind kind_;
  QPixmap bitmap_;
  int width_ = 0;
  int height_ = 0;
};
