#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPixmap>

// A push button whose face is a bitmap: normal, pressed, hover and disabled
// images, copied unscaled from their top-left corner; the button-face
// colour where an image is absent. It shows a hand cursor. Pressing,
// moving off while holding and releasing outside gives no click; the
// pushed look follows the cursor while the button is held.
class CSkinButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit CSkinButton(QWidget* parent = nullptr);
  ~CSkinButton() override;

  // Resource numbers, 0 for none; every previous image is dropped first.
  // The disabled image is the normal one when 0.
  void LoadImages(int normal, int pressed, int hover = 0, int disabled = 0);

  // Which face painting uses now, as the resource number of its image
  // (0: the button-face colour).
  int CurrentImageId() const;

  bool Hovering() const { return hover_; }
  bool Held() const { return held_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  struct Image {
    int id = 0;
    QPixmap pixmap;
  };
  static Image Load(int id);
  const Image& CurrentImage() const;

  bool hover_ = false;
  bool held_ = false;
  Image normal_, pressed_, hoverImage_, disabled_;
  QColor textColour_;
};
