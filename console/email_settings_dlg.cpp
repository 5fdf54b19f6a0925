#include "console/email_settings_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QWindow>
#include <array>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/scramble.h"
#include "console/app_folder_file.h"
#include "console/control_id.h"
#include "console/integer_field.h"
#include "console/message_dlg.h"
#include "console/resources.h"
#include "console/skin_button.h"
#include "platform/file_system.h"
#include "platform/log.h"
#include "platform/process.h"

namespace {

// The mailer gives up on its own after its connect and reply time-outs
// (a minute per reply); this only ends one that hangs beyond them.
constexpr std::chrono::minutes kMailerLimit{5};

constexpr int kMaxPort = 65535;
constexpr std::size_t kMaxDiagnostic = 120;

const QColor kText(80, 80, 80);

std::string StoredText(const char* name) {
  return common::Descramble(CRegString(common::QuillmarkValue(name)).Get());
}

void StoreText(const char* name, const QString& text) {
  CRegString(common::QuillmarkValue(name)).Set(common::Scramble(text.toLatin1().toStdString()));
}

// A stored text is 8-bit Latin-1 and ends at its first zero byte: any
// other character would be lost or cut.
bool Storable(const QString& text) {
  for (QChar c : text) {
    if (c.unicode() == 0 || c.unicode() > 0xFF) return false;
  }
  return true;
}

QLabel* AddText(QWidget* parent, const char* text, QRect geometry) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, kText);
  label->setPalette(p);
  label->setAutoFillBackground(false);
  label->setGeometry(geometry);
  return label;
}

void AddGroup(QWidget* parent, const char* title, QRect geometry) {
  auto* group = new QGroupBox(QString::fromLatin1(title), parent);
  QPalette p = group->palette();
  p.setColor(QPalette::WindowText, kText);
  group->setPalette(p);
  group->setGeometry(geometry);
}

// Label column and field column of one row.
constexpr int kLabelX = 18;
constexpr int kLabelW = 94;
constexpr int kFieldX = 112;
constexpr int kFieldW = 156;

QLineEdit* AddField(QWidget* parent, int id, const char* label, int y) {
  AddText(parent, label, QRect(kLabelX, y + 3, kLabelW, 18));
  auto* field = new QLineEdit(parent);
  SetControlId(field, id);
  field->setGeometry(kFieldX, y, kFieldW, 24);
  return field;
}

CSkinButton* AddButton(QWidget* parent, int id, QRect geometry, int normal, int pressed) {
  auto* button = new CSkinButton(parent);
  SetControlId(button, id);
  button->setGeometry(geometry);
  button->LoadImages(normal, pressed, normal);
  return button;
}

}  // namespace

CEmailSettingsDlg::CEmailSettingsDlg(QWidget* parent)
    : CBitmapDlg(res::IDD_EMAIL_SETTINGS, parent), mailerLimit_(kMailerLimit) {
  setModal(true);
  SetBackground(res::IDB_EMAIL_BACKGROUND);

  AddGroup(this, "Personal Information", QRect(10, 36, 265, 54));
  recipient_ = AddField(this, res::IDC_RECIPIENT, "Email Address", 56);

  AddGroup(this, "Sender Infomation", QRect(10, 96, 265, 150));
  senderName_ = AddField(this, res::IDC_SENDER_NAME, "Name", 116);
  senderAddress_ = AddField(this, res::IDC_SENDER_ADDRESS, "Email", 142);
  // The one long label takes two lines.
  QLabel* methodLabel = AddText(this, "Authentication Method", QRect(kLabelX, 164, kLabelW, 32));
  methodLabel->setWordWrap(true);
  method_ = new QComboBox(this);
  SetControlId(method_, res::IDC_AUTH_METHOD);
  method_->setGeometry(kFieldX, 168, kFieldW, 24);
  method_->setEditable(true);
  method_->setInsertPolicy(QComboBox::NoInsert);
  user_ = AddField(this, res::IDC_ACCOUNT_USER, "User Name", 194);
  password_ = AddField(this, res::IDC_ACCOUNT_PASSWORD, "Password", 220);
  password_->setEchoMode(QLineEdit::Password);

  AddGroup(this, "Server Information", QRect(10, 252, 265, 80));
  host_ = AddField(this, res::IDC_MAIL_SERVER, "Mail Server", 272);
  port_ = AddField(this, res::IDC_PORT, "Port", 298);

  note_ = AddText(this, "", QRect(12, 336, 261, 16));
  note_->setAlignment(Qt::AlignCenter);

  default_ = AddButton(this, res::IDC_DEFAULT_ACCOUNT, QRect(28, 358, 99, 25), res::IDB_DEFAULT_NORMAL,
                       res::IDB_DEFAULT_PRESSED);
  test_ = AddButton(this, res::IDC_SEND_TEST, QRect(158, 358, 99, 25), res::IDB_TEST_NORMAL,
                    res::IDB_TEST_PRESSED);
  save_ = AddButton(this, res::IDC_SAVE, QRect(28, 394, 99, 25), res::IDB_SAVE_NORMAL, res::IDB_SAVE_PRESSED);
  cancel_ = AddButton(this, res::IDC_CANCEL, QRect(158, 394, 99, 25), res::IDB_CANCEL_NORMAL,
                      res::IDB_CANCEL_PRESSED);
  default_->setToolTip(QStringLiteral("Fill in the default account"));
  test_->setToolTip(QStringLiteral("Save and send a test message"));

  connect(save_, &QAbstractButton::clicked, this, [this] { Save(); });
  connect(cancel_, &QAbstractButton::clicked, this, &QDialog::reject);
  connect(default_, &QAbstractButton::clicked, this, &CEmailSettingsDlg::FillDefaultAccount);
  connect(test_, &QAbstractButton::clicked, this, &CEmailSettingsDlg::SendTestMessage);
  connect(&run_, &CMailerRun::Finished, this, &CEmailSettingsDlg::OnMailerFinished);

  // The list reads AUTH LOGIN, AUTH PLAIN, CRAM MD5, None, NTLM.
  QStringList methods{QStringLiteral("None"), QStringLiteral("CRAM MD5"), QStringLiteral("AUTH LOGIN"),
                      QStringLiteral("AUTH PLAIN"), QStringLiteral("NTLM")};
  methods.sort(Qt::CaseInsensitive);
  method_->addItems(methods);
  method_->setEditText(QString::fromLatin1(kDefaultMethod));

  LoadFields();
  ShowFields();
  recipient_->setFocus();
}

CEmailSettingsDlg::~CEmailSettingsDlg() { SetBusy(false); }

QLineEdit* CEmailSettingsDlg::Field(int controlId) const {
  return qobject_cast<QLineEdit*>(FindControl(this, controlId));
}

void CEmailSettingsDlg::LoadFields() {
  auto load = [](const char* name) { return QString::fromLatin1(StoredText(name)); };
  recipientText_ = load("EmailAddress");
  senderNameText_ = load("SMTPName");
  senderAddressText_ = load("SMTPEmailAddress");
  userText_ = load("SMTPEmailAddress4Server");
  passwordText_ = load("SMTPPass4MailServer");
  // Also when empty: nothing saved yet shows no method.
  methodText_ = load("SMTPAUTH");
  hostText_ = load("SMTPSRV");
  portNumber_ = static_cast<int>(CRegDword(common::QuillmarkValue("SMTPPORT")).Get());
}

void CEmailSettingsDlg::ShowFields() {
  recipient_->setText(recipientText_);
  senderName_->setText(senderNameText_);
  senderAddress_->setText(senderAddressText_);
  method_->setEditText(methodText_);
  user_->setText(userText_);
  password_->setText(passwordText_);
  host_->setText(hostText_);
  port_->setText(QString::number(portNumber_));
  // Long addresses show from their start.
  for (QLineEdit* field : {recipient_, senderName_, senderAddress_, user_, host_}) {
    field->setCursorPosition(0);
  }
}

void CEmailSettingsDlg::TakeFields() {
  recipientText_ = recipient_->text();
  senderNameText_ = senderName_->text();
  senderAddressText_ = senderAddress_->text();
  methodText_ = method_->currentText();
  userText_ = user_->text();
  passwordText_ = password_->text();
  hostText_ = host_->text();
  // A port that does not pass keeps its previous value.
  if (std::optional<int> port = TakeInteger(this, port_, 0, kMaxPort)) portNumber_ = *port;
}

bool CEmailSettingsDlg::Save() {
  TakeFields();
  if (recipientText_.isEmpty()) {
    ShowMessage(this, kEmailEmpty);
    return false;
  }
  if (!recipientText_.contains(QLatin1Char('@'))) {
    ShowMessage(this, kEmailInvalid);
    return false;
  }
  struct Text {
    const char* value;
    const char* label;
    const QString& text;
  };
  const std::array<Text, 7> texts{{
      {"EmailAddress", "Email Address", recipientText_},
      {"SMTPName", "Name", senderNameText_},
      {"SMTPEmailAddress", "Email", senderAddressText_},
      {"SMTPEmailAddress4Server", "User Name", userText_},
      {"SMTPPass4MailServer", "Password", passwordText_},
      {"SMTPAUTH", "Authentication Method", methodText_},
      {"SMTPSRV", "Mail Server", hostText_},
  }};
  // All or nothing: a text that cannot be stored whole stops the save
  // before anything is written.
  for (const Text& t : texts) {
    if (!Storable(t.text)) {
      ShowMessage(this, std::string("The field \"") + t.label +
                            "\" holds a character that cannot be stored (only Latin-1 characters "
                            "can). Nothing was saved.");
      return false;
    }
  }
  for (const Text& t : texts) StoreText(t.value, t.text);
  CRegDword(common::QuillmarkValue("SMTPPORT")).Set(static_cast<std::uint32_t>(portNumber_));

  CRegDword alert(common::QuillmarkValue("EmailAlert"));
  alert.Set(1);
  alert.Write();
  emit Saved();
  ShowMessage(this, kChangesSaved);
  return true;
}

void CEmailSettingsDlg::FillDefaultAccount() {
  TakeFields();
  senderAddressText_ = QString::fromLatin1(kDefaultSenderAddress);
  passwordText_ = QString::fromLatin1(kDefaultPassword);
  senderNameText_ = QString::fromLatin1(kDefaultSenderName);
  userText_ = QString::fromLatin1(kDefaultSenderAddress);
  portNumber_ = kDefaultPort;
  hostText_ = QString::fromLatin1(kDefaultMailServer);
  methodText_ = QString::fromLatin1(kDefaultMethod);
  ShowFields();
}

void CEmailSettingsDlg::SendTestMessage() {
  if (busy_) return;
  // A refused save leaves the stored settings to be tried.
  Save();
  const std::string file = AppFolderFile("\\Logs\\TestEmail.xml");
  if (!platform::FileExists(file)) {
    ShowMessage(this, kNoTestFile);
    return;
  }
  CRegString(common::QuillmarkValue("ToSendFile")).Set(file);
  // The mailer comes from the console's own install folder, and only when
  // nobody but root or this account can have changed it.
  const std::string name = platform::ExecutableName("Postrider");
  const platform::Result<std::string> mailer = platform::TrustedProgramFile(mailerFolder_, name);
  const platform::Status started = mailer ? run_.Start(*mailer, mailerLimit_) : mailer.Status();
  if (!started) {
    platform::LogWarning("test message not sent", started);
    ShowMessage(this, std::string(kTestNotSent) + "\nThe mailer " + mailerFolder_ + "/" + name +
                          " could not be started.");
    emit TestFinished(false);
    return;
  }
  SetBusy(true);
}

void CEmailSettingsDlg::OnMailerFinished(const CMailerRun::Outcome& outcome) {
  SetBusy(false);
  if (outcome.Succeeded()) {
    ShowMessage(this, kTestSent);
  } else {
    std::string text = kTestNotSent;
    if (outcome.timedOut) {
      text += "\nThe mailer did not finish in time and was ended.";
    } else if (!outcome.diagnostic.empty()) {
      // One line of the mailer's, short enough for the box.
      std::string line = outcome.diagnostic;
      if (line.size() > kMaxDiagnostic) line = line.substr(0, kMaxDiagnostic - 3) + "...";
      text += "\n" + line;
    } else {
      text += "\nThe mailer ended with status " + std::to_string(outcome.status) + ".";
    }
    ShowMessage(this, text);
  }
  emit TestFinished(outcome.Succeeded());
}

void CEmailSettingsDlg::SetBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::BusyCursor);
    note_->setText(QStringLiteral("Sending the test message..."));
  } else {
    QApplication::restoreOverrideCursor();
    note_->clear();
  }
  save_->setEnabled(!busy);
  default_->setEnabled(!busy);
  test_->setEnabled(!busy);
}

void CEmailSettingsDlg::done(int result) {
  // Closing while the mailer runs leaves it to finish on its own.
  run_.Abandon();
  SetBusy(false);
  CBitmapDlg::done(result);
}

void CEmailSettingsDlg::mousePressEvent(QMouseEvent* event) {
  // A borderless window moves by any free spot.
  if (event->button() == Qt::LeftButton) {
    if (QWindow* window = windowHandle(); window != nullptr) window->startSystemMove();
  }
  event->accept();
}

void CEmailSettingsDlg::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      event->modifiers() == Qt::NoModifier) {
    if (save_->isEnabled()) Save();
    event->accept();
    return;
  }
  CBitmapDlg::keyPressEvent(event);
}
