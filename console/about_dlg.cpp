#include "console/about_dlg.h"

#include <QLabel>

#include "console/control_id.h"
#include "console/message_dlg.h"
#include "console/resources.h"
#include "console/skin_button.h"

CAboutDlg::CAboutDlg(QWidget* parent) : CBitmapDlg(res::IDD_ABOUTBOX, parent) {
  setModal(true);
  SetBackground(res::IDB_BOX_BACKGROUND);

  auto* product = new QLabel(QStringLiteral("Quillmark Version 2.0"), this);
  product->setGeometry(20, 50, 340, 20);
  StyleBoxText(product);
  auto* line = new QLabel(QStringLiteral("Counts every page your printers print, and what it costs."), this);
  line->setGeometry(20, 76, 340, 36);
  line->setWordWrap(true);
  StyleBoxText(line);

  ok_ = new CSkinButton(this);
  SetControlId(ok_, res::IDC_OK);
  ok_->setGeometry(139, 128, 99, 25);
  ok_->LoadImages(res::IDB_OK_NORMAL, res::IDB_OK_PRESSED, res::IDB_OK_NORMAL);
  connect(ok_, &QAbstractButton::clicked, this, &QDialog::accept);
}

CAboutDlg::~CAboutDlg() = default;
