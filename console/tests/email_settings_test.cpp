#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>
#include <cstdlib>

#include "console/email_settings_dlg.h"
#include "console/resources.h"
#include "console/skin_button.h"
#include "page_test_support.h"

namespace {

namespace fs = std::filesystem;

class EmailSettingsTest : public PageFixture {
 protected:
  CEmailSettingsDlg& Dialog() {
    if (!dialog_) {
      dialog_ = std::make_unique<CEmailSettingsDlg>();
      dialog_->SetMailerFolder(mailerFolder_.empty() ? appDir_.string() : mailerFolder_);
      dialog_->show();
    }
    return *dialog_;
  }
  void Type(int id, const QString& text) { Dialog().Field(id)->setText(text); }
  std::string Shown(int id) { return Dialog().Field(id)->text().toStdString(); }
  bool NothingStored() {
    auto key = registry_.Registry()
                   .OpenKey(platform::Hive::kLocalMachine, common::kQuillmarkKey, platform::kKeyRead)
                   .Value();
    for (const auto& v : key->Values()) {
      if (v.name != "AppPath") return false;
    }
    return true;
  }
  // A program in the application folder's place of the mailer.
  void StandIn(const std::string& script) {
    const fs::path program = appDir_ / "Postrider";
    WriteBytes(program, "#!/bin/sh\n" + script);
    fs::permissions(program, fs::perms::owner_all);
  }
  void InstallTestFile() {
    fs::copy_file(fs::path(QM_SOURCE_DIR) / "data/TestEmail.xml", appDir_ / "Logs/TestEmail.xml");
  }
  // Runs the test message and waits for its outcome.
  bool SendTest() {
    QSignalSpy finished(&Dialog(), &CEmailSettingsDlg::TestFinished);
    ClickButton(Dialog().TestButton());
    if (finished.isEmpty() && !finished.wait(120000)) return false;
    return finished.front().front().toBool();
  }
  std::unique_ptr<CEmailSettingsDlg> dialog_;
  std::string mailerFolder_;  // empty: the application folder's stand-in
};

}  // namespace

TEST_F(EmailSettingsTest, NothingSavedYetShowsEmptyFields) {
  CEmailSettingsDlg& dialog = Dialog();
  for (int id : {res::IDC_RECIPIENT, res::IDC_SENDER_NAME, res::IDC_SENDER_ADDRESS, res::IDC_ACCOUNT_USER,
                 res::IDC_ACCOUNT_PASSWORD, res::IDC_MAIL_SERVER}) {
    EXPECT_EQ(Shown(id), "") << id;
  }
  EXPECT_EQ(Shown(res::IDC_PORT), "0");
  EXPECT_EQ(dialog.MethodBox()->currentText().toStdString(), "");
  QStringList items;
  for (int i = 0; i < dialog.MethodBox()->count(); ++i) items << dialog.MethodBox()->itemText(i);
  EXPECT_EQ(items.join('|').toStdString(), "AUTH LOGIN|AUTH PLAIN|CRAM MD5|None|NTLM");
  EXPECT_TRUE(dialog.MethodBox()->isEditable());
  EXPECT_EQ(dialog.Field(res::IDC_ACCOUNT_PASSWORD)->echoMode(), QLineEdit::Password);
  EXPECT_EQ(dialog.size(), QSize(285, 430));
}

TEST_F(EmailSettingsTest, SaveStoresEveryFieldScrambled) {
  SetDword("EmailAlert", 1);
  CountingRegistry counting(registry_.Registry());
  CEmailSettingsDlg& dialog = Dialog();
  bool saved = false;
  QObject::connect(&dialog, &CEmailSettingsDlg::Saved, [&] { saved = true; });
  Type(res::IDC_RECIPIENT, "boss@");  // only the "@" is looked for
  Type(res::IDC_SENDER_NAME, QString::fromLatin1("Print R\xF6om"));
  Type(res::IDC_SENDER_ADDRESS, "print@x.test");
  dialog.MethodBox()->setEditText("AUTH PLAIN");
  Type(res::IDC_ACCOUNT_USER, "printer");
  Type(res::IDC_ACCOUNT_PASSWORD, QString::fromLatin1("s3cr\xE9t~\xFF"));
  Type(res::IDC_MAIL_SERVER, "mail.x.test");
  Type(res::IDC_PORT, "587");
  ClickButton(dialog.SaveButton());
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Changes have been saved!"});
  EXPECT_TRUE(saved);

  EXPECT_EQ(StoredPlain("EmailAddress"), "boss@");
  EXPECT_EQ(StoredPlain("SMTPName"), "Print R\xF6om");
  EXPECT_EQ(StoredPlain("SMTPEmailAddress"), "print@x.test");
  EXPECT_EQ(StoredPlain("SMTPAUTH"), "AUTH PLAIN");
  EXPECT_EQ(StoredPlain("SMTPEmailAddress4Server"), "printer");
  EXPECT_EQ(StoredPlain("SMTPSRV"), "mail.x.test");
  EXPECT_EQ(StoredDword(registry_.Registry(), "SMTPPORT"), 587u);
  const std::string password = "s3cr\xE9t~\xFF";
  const std::string stored = CRegString(common::QuillmarkValue("SMTPPass4MailServer")).Get();
  EXPECT_EQ(common::Descramble(stored), password);
  ASSERT_EQ(stored.size(), password.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    EXPECT_NE(stored[i], password[i]) << i;
    EXPECT_NE(stored[i], '\0') << i;
  }
  // Switched on, written although it already was.
  EXPECT_EQ(counting.Writes("EmailAlert"), 1);

  // Saved again unchanged: the texts are not written again.
  ClickButton(dialog.SaveButton());
  EXPECT_EQ(counting.Writes("SMTPSRV"), 1);
  EXPECT_EQ(counting.Writes("EmailAlert"), 2);

  // Opened again, the dialog shows what was stored.
  dialog_.reset();
  EXPECT_EQ(Shown(res::IDC_ACCOUNT_PASSWORD), QString::fromLatin1(password.c_str()).toStdString());
  EXPECT_EQ(Dialog().MethodBox()->currentText().toStdString(), "AUTH PLAIN");
  EXPECT_EQ(Shown(res::IDC_PORT), "587");
}

TEST_F(EmailSettingsTest, TheRecipientIsCheckedBeforeAnythingIsStored) {
  Type(res::IDC_MAIL_SERVER, "mail.x.test");
  ClickButton(Dialog().SaveButton());
  Type(res::IDC_RECIPIENT, "boss.example.org");
  ClickButton(Dialog().SaveButton());
  EXPECT_EQ(boxes_.Texts(),
            (std::vector<std::string>{"The Email Address is Empty", "Invalid Email Address"}));
  EXPECT_TRUE(NothingStored());
  EXPECT_TRUE(Dialog().isVisible());  // the dialog stays open
}

TEST_F(EmailSettingsTest, TextsThatCannotBeStoredWholeAreRefused) {
  struct Case {
    int id;
    QString text;
    const char* label;
  };
  const Case cases[] = {
      {res::IDC_ACCOUNT_PASSWORD, QStringLiteral("pa\u20ACss"), "\"Password\""},  // the euro sign
      {res::IDC_SENDER_NAME, QStringLiteral("Dru\u0107k"), "\"Name\""},
      {res::IDC_MAIL_SERVER, QString("mail") + QChar(0) + "x", "\"Mail Server\""},  // would cut it short
      {res::IDC_RECIPIENT, QStringLiteral("\u0436@x.test"), "\"Email Address\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dialog_.reset();
    boxes_.Clear();
    Type(res::IDC_RECIPIENT, "boss@x.test");
    Type(res::IDC_SENDER_ADDRESS, "print@x.test");
    Type(res::IDC_PORT, "25");
    Type(c.id, c.text);
    ClickButton(Dialog().SaveButton());
    ASSERT_EQ(boxes_.Texts().size(), 1u);
    EXPECT_NE(boxes_.Texts()[0].find(c.label), std::string::npos) << boxes_.Texts()[0];
    EXPECT_NE(boxes_.Texts()[0].find("Nothing was saved"), std::string::npos);
    EXPECT_TRUE(NothingStored());
  }
}

TEST_F(EmailSettingsTest, ABadPortIsReportedAndTheSaveGoesOn) {
  SetDword("SMTPPORT", 25);
  Type(res::IDC_RECIPIENT, "boss@x.test");
  Type(res::IDC_PORT, "twenty-five");
  ClickButton(Dialog().SaveButton());
  Type(res::IDC_PORT, "70000");
  ClickButton(Dialog().SaveButton());
  EXPECT_EQ(boxes_.Texts(),
            (std::vector<std::string>{"[standard] Please enter an integer.", "Changes have been saved!",
                                      "[standard] Please enter an integer between 0 and 65535.",
                                      "Changes have been saved!"}));
  EXPECT_EQ(StoredPlain("EmailAddress"), "boss@x.test");
  EXPECT_EQ(StoredDword(registry_.Registry(), "SMTPPORT"), 25u);
}

TEST_F(EmailSettingsTest, TheDefaultAccountKeepsTheRecipientAndStoresNothing) {
  Type(res::IDC_RECIPIENT, "boss@x.test");
  Type(res::IDC_ACCOUNT_PASSWORD, "mine");
  ClickButton(Dialog().DefaultButton());
  EXPECT_EQ(Shown(res::IDC_RECIPIENT), "boss@x.test");
  EXPECT_EQ(Shown(res::IDC_SENDER_ADDRESS), kDefaultSenderAddress);
  EXPECT_EQ(Shown(res::IDC_ACCOUNT_USER), kDefaultSenderAddress);
  EXPECT_EQ(Shown(res::IDC_ACCOUNT_PASSWORD), kDefaultPassword);
  EXPECT_EQ(Shown(res::IDC_SENDER_NAME), "Quillcore");
  EXPECT_EQ(Shown(res::IDC_MAIL_SERVER), kDefaultMailServer);
  EXPECT_EQ(Shown(res::IDC_PORT), "25");
  EXPECT_EQ(Dialog().MethodBox()->currentText().toStdString(), "AUTH LOGIN");
  EXPECT_EQ(std::string(kDefaultPassword).size(), 3u);
  EXPECT_TRUE(NothingStored());
  EXPECT_TRUE(boxes_.Texts().empty());
}

TEST_F(EmailSettingsTest, WithoutTheTestFileNothingIsStarted) {
  StandIn("touch \"$0.ran\"\n");
  Type(res::IDC_RECIPIENT, "boss@x.test");
  ClickButton(Dialog().TestButton());
  EXPECT_EQ(boxes_.Texts(),
            (std::vector<std::string>{"Changes have been saved!", "Cannot find the test file to send!"}));
  EXPECT_FALSE(Dialog().Sending());
  EXPECT_FALSE(fs::exists(appDir_ / "Postrider.ran"));
}

TEST_F(EmailSettingsTest, AFailingMailerIsReportedWithItsDiagnostic) {
  InstallTestFile();
  // Holds on until told, so that the waiting window can be looked at.
  StandIn(
      "while [ ! -e \"$0.go\" ]; do sleep 0.02; done\n"
      "echo 'Postrider: error 535: 535 5.7.8 Authentication credentials invalid' >&2\n"
      "exit 1\n");
  Type(res::IDC_RECIPIENT, "boss@x.test");
  QSignalSpy finished(&Dialog(), &CEmailSettingsDlg::TestFinished);
  ClickButton(Dialog().TestButton());
  EXPECT_TRUE(Dialog().Sending());
  EXPECT_FALSE(Dialog().TestButton()->isEnabled());
  EXPECT_FALSE(Dialog().SaveButton()->isEnabled());
  EXPECT_FALSE(Dialog().ProgressNote()->text().isEmpty());
  EXPECT_EQ(QApplication::overrideCursor() ? QApplication::overrideCursor()->shape() : Qt::ArrowCursor,
            Qt::BusyCursor);
  EXPECT_EQ(CRegString(common::QuillmarkValue("ToSendFile")).Get(),
            (appDir_ / "Logs/TestEmail.xml").string());

  WriteBytes(appDir_ / "Postrider.go", "");
  ASSERT_TRUE(finished.wait(30000));
  EXPECT_FALSE(finished.front().front().toBool());
  EXPECT_EQ(boxes_.Texts(),
            (std::vector<std::string>{"Changes have been saved!",
                                      "The test message could not be sent.\n"
                                      "Postrider: error 535: 535 5.7.8 Authentication credentials invalid"}));
  EXPECT_FALSE(Dialog().Sending());
  EXPECT_TRUE(Dialog().TestButton()->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(Dialog().ProgressNote()->text().isEmpty());
}

TEST_F(EmailSettingsTest, OnlyACleanExitIsASuccess) {
  InstallTestFile();
  Type(res::IDC_RECIPIENT, "boss@x.test");
  StandIn("exit 0\n");
  EXPECT_TRUE(SendTest());
  StandIn("exit 3\n");  // silent failure
  EXPECT_FALSE(SendTest());
  StandIn("sleep 30\n");  // hangs past the limit
  Dialog().SetMailerLimit(std::chrono::milliseconds(300));
  EXPECT_FALSE(SendTest());
  fs::remove(appDir_ / "Postrider");  // nothing to start
  EXPECT_FALSE(SendTest());
  const auto& texts = boxes_.Texts();
  ASSERT_EQ(texts.size(), 8u);
  EXPECT_EQ(texts[1], kTestSent);
  EXPECT_EQ(texts[3], "The test message could not be sent.\nThe mailer ended with status 3.");
  EXPECT_EQ(texts[5],
            "The test message could not be sent.\nThe mailer did not finish in time and was ended.");
  EXPECT_EQ(texts[7].rfind("The test message could not be sent.\nThe mailer ", 0), 0u) << texts[7];
}

TEST_F(EmailSettingsTest, AnEmptyRecipientStillTriesTheStoredSettings) {
  InstallTestFile();
  StandIn("exit 0\n");
  EXPECT_TRUE(SendTest());
  EXPECT_EQ(boxes_.Texts(), (std::vector<std::string>{"The Email Address is Empty", kTestSent}));
}

// The real mailer sends the test file to a local SMTP server.
class EmailTestMessageEndToEnd : public EmailSettingsTest {
 protected:
  void SetUp() override {
    EmailSettingsTest::SetUp();
    mail_ = registry_.Folder() / "mail";
    fs::create_directories(mail_);
    mailerFolder_ = QM_APP_DIR;  // the real mailer, from its build folder
    InstallTestFile();
    // The mailer reads the registry this test writes.
    previous_ = qgetenv("QUILLMARK_REGISTRY");
    qputenv("QUILLMARK_REGISTRY", QByteArray::fromStdString(registry_.RegistryRoot().string()));
  }
  void TearDown() override {
    if (previous_.isEmpty()) {
      qunsetenv("QUILLMARK_REGISTRY");
    } else {
      qputenv("QUILLMARK_REGISTRY", previous_);
    }
    if (sink_.state() != QProcess::NotRunning) {
      sink_.terminate();
      if (!sink_.waitForFinished(5000)) sink_.kill();
      sink_.waitForFinished(5000);
    }
    EmailSettingsTest::TearDown();
  }
  int StartSink() {
    sink_.start("/usr/bin/python3",
                {QString::fromStdString(std::string(QM_SOURCE_DIR) + "/tests/report_e2e/smtp_sink.py"),
                 QString::fromStdString(mail_.string())});
    if (!sink_.waitForReadyRead(20000)) return -1;
    QByteArray line = sink_.readLine().trimmed();
    return line.startsWith("PORT ") ? line.mid(5).toInt() : -1;
  }
  void FillAccount(int port) {
    Type(res::IDC_RECIPIENT, "boss@x.test");
    Type(res::IDC_SENDER_NAME, "Print Room");
    Type(res::IDC_SENDER_ADDRESS, "print@x.test");
    Dialog().MethodBox()->setEditText("None");
    Type(res::IDC_MAIL_SERVER, "127.0.0.1");
    Type(res::IDC_PORT, QString::number(port));
  }

  fs::path mail_;
  QProcess sink_;
  QByteArray previous_;
};

TEST_F(EmailTestMessageEndToEnd, TheTestFileArrivesByteForByte) {
  const int port = StartSink();
  ASSERT_GT(port, 0);
  FillAccount(port);
  EXPECT_TRUE(SendTest());
  EXPECT_EQ(boxes_.Texts(), (std::vector<std::string>{"Changes have been saved!", kTestSent}));
  ASSERT_TRUE(fs::exists(mail_ / "msg-1.eml"));

  QProcess reader;
  reader.start("/usr/bin/python3",
               {QString::fromStdString(std::string(QM_SOURCE_DIR) + "/tests/report_e2e/read_message.py"),
                QString::fromStdString((mail_ / "msg-1.eml").string())});
  ASSERT_TRUE(reader.waitForFinished(20000));
  const std::string parsed = reader.readAllStandardOutput().toStdString();
  const std::string file = ReadWholeFile(appDir_ / "Logs/TestEmail.xml");
  EXPECT_NE(parsed.find("TO boss@x.test"), std::string::npos) << parsed;
  EXPECT_NE(
      parsed.find("ATTACHMENT TestEmail.xml " + QByteArray::fromStdString(file).toHex().toStdString() + "\n"),
      std::string::npos)
      << parsed;
  EXPECT_FALSE(fs::exists(mail_ / "msg-2.eml"));
}

TEST_F(EmailTestMessageEndToEnd, NoServerIsAFailureNotASuccess) {
  // A port nobody listens on: one the sink held and gave back.
  const int port = StartSink();
  ASSERT_GT(port, 0);
  sink_.terminate();
  sink_.waitForFinished(5000);
  FillAccount(port);
  EXPECT_FALSE(SendTest());
  ASSERT_EQ(boxes_.Texts().size(), 2u);
  EXPECT_EQ(boxes_.Texts()[1].rfind("The test message could not be sent.\n", 0), 0u) << boxes_.Texts()[1];
}
