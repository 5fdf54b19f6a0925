#pragma once

// Pages under test run on an application folder, a registry and a
// simulated print spooler of their own, and every box they show is
// answered and recorded.

#include <QMessageBox>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/scramble.h"
#include "console/message_dlg.h"
#include "console_test_support.h"
#include "platform/sim/sim_spooler.h"
#include "platform/spooler.h"
#include "tests/support/read_file.h"

// Closes every modal box while alive and keeps its text.
class BoxRecorder {
 public:
  BoxRecorder() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Answer(); });
    timer_.start();
  }
  const std::vector<std::string>& Texts() const { return texts_; }
  void Clear() { texts_.clear(); }

 private:
  void Answer() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<CMessageDlg*>(modal)) {
      texts_.push_back(box->Text());
      box->accept();
    } else if (auto* standard = qobject_cast<QMessageBox*>(modal)) {
      texts_.push_back("[standard] " + standard->text().toStdString());
      standard->accept();
    }
  }
  QTimer timer_;
  std::vector<std::string> texts_;
};

using testing_support::ReadWholeFile;

inline void WriteBytes(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

// A registry text as the mailer reads it.
inline std::string StoredPlain(const char* name) {
  return common::Descramble(CRegString(common::QuillmarkValue(name)).Get());
}

class PageFixture : public ConsoleFixture {
 protected:
  void SetUp() override {
    ConsoleFixture::SetUp();
    appDir_ = registry_.Folder() / "app";
    std::filesystem::create_directories(appDir_ / "Logs");
    SetText("AppPath", appDir_.string());
    spooler_ = std::make_unique<platform::sim::SimSpooler>(registry_.Folder() / "spool");
    previousSpooler_ = platform::Spooler::SetDefault(spooler_.get());
    App();
  }
  void TearDown() override {
    ConsoleFixture::TearDown();
    platform::Spooler::SetDefault(previousSpooler_);
  }

  std::filesystem::path Catalogue() const { return appDir_ / "settings.xml"; }
  void WriteCatalogue(const std::string& text) { WriteBytes(Catalogue(), text); }
  std::string CatalogueText() const { return ReadWholeFile(Catalogue()); }

  std::filesystem::path appDir_;
  std::unique_ptr<platform::sim::SimSpooler> spooler_;
  platform::Spooler* previousSpooler_ = nullptr;
  BoxRecorder boxes_;
};

inline void ClickButton(QWidget* button) {
  QPoint c = button->rect().center();
  Press(button, c);
  Release(button, c);
}
