#include "console/bitmap_dlg.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "console/resource_table.h"

CBitmapDlg::CBitmapDlg(int templateId, QWidget* parent, Kind kind)
    : QDialog(parent), templateId_(templateId), kind_(kind) {
  if (kind == Kind::kChild) {
    setWindowFlags(Qt::Widget);
  } else {
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  }
  setAutoFillBackground(true);
  if (const res::DialogTemplate* t = res::FindDialogTemplate(templateId)) {
    resize(t->width, t->height);
    setWindowTitle(QString::fromLatin1(t->title));
  }
}

CBitmapDlg::~CBitmapDlg() = default;

bool CBitmapDlg::SetBackground(int bitmapId) { return SetBackground(res::LoadBitmap(bitmapId)); }

bool CBitmapDlg::SetBackground(QPixmap bitmap) {
  bitmap_ = QPixmap();
  width_ = height_ = 0;
  if (bitmap.isNull()) {
    update();
    return false;
  }
  bitmap_ = std::move(bitmap);
  width_ = bitmap_.width();
  height_ = bitmap_.height();
  update();
  return true;
}

void CBitmapDlg::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  if (bitmap_.isNull()) return;
  // Unscaled: bitmap parts beyond the client area are cut, client parts
  // beyond the bitmap keep the brush colour.
  QPainter painter(this);
  painter.drawPixmap(QPoint(0, 0), bitmap_, QRect(0, 0, width(), height()));
}

void CBitmapDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (!bitmap_.isNull()) update();
}

void CBitmapDlg::mousePressEvent(QMouseEvent* event) { event->accept(); }

void CBitmapDlg::keyPressEvent(QKeyEvent* event) {
  if (kind_ == Kind::kChild && event->modifiers() == Qt::NoModifier &&
      (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
    event->ignore();
    return;
  }
  QDialog::keyPressEvent(event);
}
