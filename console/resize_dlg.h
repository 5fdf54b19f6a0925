#pragma once

#include <QDialog>

#include "console/anchor_layout.h"

class QSizeGrip;

// A dialog the user can resize: registered controls follow the window
// edges by their anchor modes, a size grip sits in the lower-right corner,
// and the dialog never becomes smaller than it opened.
class CResizeDlg : public QDialog {
  Q_OBJECT

 public:
  CResizeDlg(int templateId, QWidget* parent = nullptr);
  ~CResizeDlg() override;

  // Registers the control with this id (see CAnchorLayout::AddAnchor); false
  // when there is no such control. Anchors apply from the next resize.
  bool AddAnchor(int id, AnchorMode left, AnchorMode right, AnchorMode top, AnchorMode bottom,
                 bool excludeFromErase);

  void AllowGrowth(bool horizontal, bool vertical);

  QSizeGrip* SizeGrip() const { return grip_; }
  const CAnchorLayout& Layout() const { return layout_; }
  bool Initialised() const { return initialised_; }

 protected:
  // Runs once, when the dialog is first shown: records the client
  // rectangle and the minimum size and places the size grip. Derived
  // dialogs register their anchors after calling it.
  virtual void OnInitDialog();

  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  AnchorRect ClientOnScreen() const;
  void ApplyGrowthLimits();

  CAnchorLayout layout_;
  QSizeGrip* grip_ = nullptr;
  QSize minimum_;
  bool growHorizontally_ = true;
  bool growVertically_ = true;
  bool initialised_ = false;
};
