#include "console/skin_button.h"

#include <QMouseEvent>
#include <QPainter>

#include "console/resource_table.h"

CSkinButton::CSkinButton(QWidget* parent) : QAbstractButton(parent) {
  setCursor(Qt::PointingHandCursor);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  textColour_ = palette().color(QPalette::ButtonText);
}

CSkinButton::~CSkinButton() = default;

CSkinButton::Image CSkinButton::Load(int id) {
  Image image;
  if (id == 0) return image;
  image.pixmap = res::LoadBitmap(id);
  if (!image.pixmap.isNull()) image.id = id;
  return image;
}

void CSkinButton::LoadImages(int normal, int pressed, int hover, int disabled) {
  normal_ = Load(normal);
  pressed_ = Load(pressed);
  hoverImage_ = Load(hover);
  disabled_ = Load(disabled != 0 ? disabled : normal);
  update();
}

const CSkinButton::Image& CSkinButton::CurrentImage() const {
  if (!isEnabled()) return disabled_;
  if (isDown()) return pressed_;
  if (hover_ && hoverImage_.id != 0) return hoverImage_;
  return normal_;
}

int CSkinButton::CurrentImageId() const { return CurrentImage().id; }

QSize CSkinButton::sizeHint() const {
  if (!normal_.pixmap.isNull()) return normal_.pixmap.size();
  return {99, 25};
}

void CSkinButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const Image& image = CurrentImage();
  if (image.id != 0) {
    painter.drawPixmap(QPoint(0, 0), image.pixmap, QRect(QPoint(0, 0), size()));
  } else {
    painter.fillRect(rect(), palette().color(QPalette::Button));
  }
  QString caption = text();
  if (caption.isEmpty()) return;
  QRect box = rect();
  if (!isEnabled()) {
    // Embossed: highlight, then grey text one pixel up and left.
    painter.setPen(palette().color(QPalette::Light));
    painter.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, caption);
    painter.setPen(palette().color(QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(box.translated(-1, -1), Qt::AlignCenter | Qt::TextSingleLine, caption);
    return;
  }
  if (isDown()) box.translate(1, 1);
  painter.setPen(textColour_);
  painter.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, caption);
}

void CSkinButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    if (hover_) {
      hover_ = false;
      update();
    }
    QAbstractButton::mousePressEvent(event);
    held_ = true;
    return;
  }
  QAbstractButton::mousePressEvent(event);
}

void CSkinButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) held_ = false;
  // A release over the button gives the click.
  QAbstractButton::mouseReleaseEvent(event);
}

void CSkinButton::mouseMoveEvent(QMouseEvent* event) {
  if (held_ && (event->buttons() & Qt::LeftButton)) {
    // The pushed look follows the cursor (the base class sets it).
    QAbstractButton::mouseMoveEvent(event);
    return;
  }
  if (!hover_ && rect().contains(event->position().toPoint())) {
    hover_ = true;
    update();
  }
  QAbstractButton::mouseMoveEvent(event);
}

void CSkinButton::leaveEvent(QEvent* event) {
  hover_ = false;
  update();
  QAbstractButton::leaveEvent(event);
}

void CSkinButton::focusOutEvent(QFocusEvent* event) {
  held_ = false;
  QAbstractButton::focusOutEvent(event);
}
