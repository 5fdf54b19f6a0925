#include "console/message_dlg.h"

#include <QLabel>

#include "console/control_id.h"
#include "console/resources.h"
#include "console/skin_button.h"

void StyleBoxText(QLabel* label) {
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, QColor(80, 80, 80));
  label->setPalette(p);
  label->setAutoFillBackground(false);
  label->setAttribute(Qt::WA_TranslucentBackground);
}

CMessageDlg::CMessageDlg(QWidget* parent) : CBitmapDlg(res::IDD_MESSAGE, parent) {
  setWindowTitle(QStringLiteral("Quillmark"));
  setModal(true);
  SetBackground(res::IDB_BOX_BACKGROUND);

  // 237 x 33 dialog units.
  text_ = new QLabel(this);
  SetControlId(text_, res::IDC_MESSAGE_TEXT);
  text_->setGeometry(11, 44, 356, 54);
  text_->setWordWrap(true);
  text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  StyleBoxText(text_);

  ok_ = new CSkinButton(this);
  SetControlId(ok_, res::IDC_OK);
  ok_->setGeometry(139, 128, 99, 25);
  ok_->LoadImages(res::IDB_OK_NORMAL, res::IDB_OK_PRESSED, res::IDB_OK_NORMAL);
  connect(ok_, &QAbstractButton::clicked, this, &QDialog::accept);
}

CMessageDlg::~CMessageDlg() = default;

void CMessageDlg::SetText(std::string_view text) {
  text_->setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

std::string CMessageDlg::Text() const { return text_->text().toLatin1().toStdString(); }

void ShowMessage(QWidget* parent, std::string_view text) {
  CMessageDlg box(parent);
  box.SetText(text);
  box.exec();
}
