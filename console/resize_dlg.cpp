#include "console/resize_dlg.h"

#include <QMoveEvent>
#include <QResizeEvent>
#include <QShowEvent>
#include <QSizeGrip>

#include "console/control_id.h"
#include "console/resource_table.h"
#include "console/resources.h"

namespace {

AnchorRect ToAnchor(const QRect& r) { return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()}; }

QRect ToQRect(const AnchorRect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

}  // namespace

CResizeDlg::CResizeDlg(int templateId, QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint);
  if (const res::DialogTemplate* t = res::FindDialogTemplate(templateId)) {
    resize(t->width, t->height);
    setWindowTitle(QString::fromLatin1(t->title));
  }
}

CResizeDlg::~CResizeDlg() = default;

AnchorRect CResizeDlg::ClientOnScreen() const { return ToAnchor(QRect(mapToGlobal(QPoint(0, 0)), size())); }

void CResizeDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!initialised_) {
    initialised_ = true;
    OnInitDialog();
  }
}

void CResizeDlg::OnInitDialog() {
  layout_.Start(ClientOnScreen());
  grip_ = new QSizeGrip(this);
  SetControlId(grip_, res::IDC_SIZE_GRIP);
  QSize g = grip_->sizeHint();
  grip_->setGeometry(width() - g.width(), height() - g.height(), g.width(), g.height());
  grip_->show();
  AddAnchor(res::IDC_SIZE_GRIP, kAnchorMove, kAnchorMove, kAnchorMove, kAnchorMove, false);
  minimum_ = size();
  setMinimumSize(minimum_);
  ApplyGrowthLimits();
}

bool CResizeDlg::AddAnchor(int id, AnchorMode left, AnchorMode right, AnchorMode top, AnchorMode bottom,
                           bool excludeFromErase) {
  QWidget* control = FindControl(this, id);
  if (control == nullptr) return false;
  layout_.AddAnchor(id, ToAnchor(control->geometry()), left, right, top, bottom, excludeFromErase);
  return true;
}

void CResizeDlg::AllowGrowth(bool horizontal, bool vertical) {
  growHorizontally_ = horizontal;
  growVertically_ = vertical;
  ApplyGrowthLimits();
}

void CResizeDlg::ApplyGrowthLimits() {
  if (grip_ == nullptr) return;
  setMaximumSize(growHorizontally_ ? QWIDGETSIZE_MAX : minimum_.width(),
                 growVertically_ ? QWIDGETSIZE_MAX : minimum_.height());
}

void CResizeDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (!initialised_ || layout_.Anchors().empty()) return;
  AnchorRect now = ClientOnScreen();
  // The toolkit reports the new geometry, not the edge dragged; the edge
  // is the one whose position changed.
  layout_.SetSizingEdge(CAnchorLayout::EdgeBetween(layout_.LastClient(), now));
  const auto placements = layout_.Resize(now);
  // Every control moves before the next paint.
  setUpdatesEnabled(false);
  for (const auto& p : placements) {
    if (QWidget* control = FindControl(this, p.id)) control->setGeometry(ToQRect(p.rect));
  }
  setUpdatesEnabled(true);
}

void CResizeDlg::moveEvent(QMoveEvent* event) {
  QDialog::moveEvent(event);
  if (!initialised_) return;
  AnchorRect now = ClientOnScreen();
  const AnchorRect& last = layout_.LastClient();
  // A move that is not part of a resize only shifts the reference.
  if (now.Width() == last.Width() && now.Height() == last.Height()) {
    layout_.SetSizingEdge(kEdgeNone);
    layout_.Resize(now);
  }
}
