#pragma once

#include <QString>
#include <chrono>
#include <string>

#include "console/bitmap_dlg.h"
#include "console/mailer_run.h"
#include "platform/program_folder.h"

class CSkinButton;
class QComboBox;
class QLabel;
class QLineEdit;

// The e-mail settings dialog: the recipient of the reports and the mail
// account the mailer sends them with, stored scrambled in the registry;
// a default account; and a test message sent by the mailer on the
// installed test file.
class CEmailSettingsDlg : public CBitmapDlg {
  Q_OBJECT

 public:
  explicit CEmailSettingsDlg(QWidget* parent = nullptr);
  ~CEmailSettingsDlg() override;

  // Stores the fields (after the checks and their messages); true when
  // they were stored.
  bool Save();
  // Fills in the default account; stores nothing.
  void FillDefaultAccount();
  // Saves, then starts the mailer on the test file. The outcome is shown
  // once the mailer has ended; the window stays responsive meanwhile.
  void SendTestMessage();
  bool Sending() const { return run_.Running(); }

  QLineEdit* Field(int controlId) const;
  QComboBox* MethodBox() const { return method_; }
  CSkinButton* SaveButton() const { return save_; }
  CSkinButton* CancelButton() const { return cancel_; }
  CSkinButton* DefaultButton() const { return default_; }
  CSkinButton* TestButton() const { return test_; }
  QLabel* ProgressNote() const { return note_; }

  // The longest the test message may take before the mailer is ended.
  void SetMailerLimit(std::chrono::milliseconds limit) { mailerLimit_ = limit; }
  // The folder the mailer is started from: the console's own program
  // folder unless a test says otherwise. Never a folder a setting names.
  void SetMailerFolder(std::string folder) { mailerFolder_ = std::move(folder); }

 signals:
  // The settings were stored (and the e-mail reports switched on).
  void Saved();
  // A test message run ended and its outcome was shown.
  void TestFinished(bool sent);

 public:
  void done(int result) override;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  // Enter saves: Save is the default button.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void LoadFields();
  void ShowFields();
  void TakeFields();
  void OnMailerFinished(const CMailerRun::Outcome& outcome);
  void SetBusy(bool busy);

  QLineEdit* recipient_ = nullptr;
  QLineEdit* senderName_ = nullptr;
  QLineEdit* senderAddress_ = nullptr;
  QComboBox* method_ = nullptr;
  QLineEdit* user_ = nullptr;
  QLineEdit* password_ = nullptr;
  QLineEdit* host_ = nullptr;
  QLineEdit* port_ = nullptr;
  QLabel* note_ = nullptr;
  CSkinButton* save_ = nullptr;
  CSkinButton* cancel_ = nullptr;
  CSkinButton* default_ = nullptr;
  CSkinButton* test_ = nullptr;

  // Dialog data.
  QString recipientText_, senderNameText_, senderAddressText_, methodText_, userText_, passwordText_,
      hostText_;
  int portNumber_ = 0;

  CMailerRun run_;
  std::chrono::milliseconds mailerLimit_;
  std::string mailerFolder_ = platform::ProgramFolder();
  bool busy_ = false;
};

inline constexpr const char* kEmailEmpty = "The Email Address is Empty";
inline constexpr const char* kEmailInvalid = "Invalid Email Address";
inline constexpr const char* kChangesSaved = "Changes have been saved!";
inline constexpr const char* kNoTestFile = "Cannot find the test file to send!";
inline constexpr const char* kTestSent =
    "An email has been sent to your email address. Please check your inbox.";
inline constexpr const char* kTestNotSent = "The test message could not be sent.";

// The default account, fixed texts of the build.
inline constexpr const char* kDefaultSenderAddress = "reports@quillmark.example";
inline constexpr const char* kDefaultPassword = "qmk";
inline constexpr const char* kDefaultSenderName = "Quillcore";
inline constexpr const char* kDefaultMailServer = "mail.quillmark.example";
inline constexpr int kDefaultPort = 25;
inline constexpr const char* kDefaultMethod = "AUTH LOGIN";
