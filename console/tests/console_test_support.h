#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "console/default_printer.h"
#include "console/quillmark_app.h"
#include "platform/desktop.h"
#include "platform/sim/tray_sim.h"
#include "tests/foundation/test_support.h"

// The entries a menu should have, in order: command id and text, or
// {0, nullptr} for a separator.
using MenuEntries = std::vector<std::pair<int, const char*>>;

inline void ExpectMenuEntries(const QList<QAction*>& actions, const MenuEntries& expected) {
  ASSERT_EQ(actions.size(), static_cast<qsizetype>(expected.size()));
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const auto& [id, text] = expected[i];
    const QAction* action = actions[static_cast<qsizetype>(i)];
    if (id == 0) {
      EXPECT_TRUE(action->isSeparator()) << i;
    } else {
      EXPECT_EQ(action->data().toInt(), id) << i;
      EXPECT_EQ(action->text().toStdString(), text) << i;
    }
  }
}

// Remembers what it was asked to open instead of starting anything.
class RecordingOpener : public platform::DesktopOpener {
 public:
  platform::Status Open(const std::string& target) override {
    opened.push_back(target);
    return platform::Status::Ok();
  }
  std::vector<std::string> opened;
};

class FixedPrinter : public CDefaultPrinterSource {
 public:
  std::optional<std::string> DefaultPrinterName() override { return name; }
  std::optional<std::string> name;
};

inline void SetDword(const char* name, std::uint32_t value) {
  CRegDword v(common::QuillmarkValue(name));
  v.Set(value);
  v.Write();
}

inline std::optional<std::uint32_t> StoredDword(platform::Registry& registry, const char* name) {
  auto key = registry.OpenKey(platform::Hive::kLocalMachine, common::kQuillmarkKey, platform::kKeyRead);
  if (!key) return std::nullopt;
  std::uint32_t value = 0;
  std::uint32_t size = sizeof value;
  platform::RegType type{};
  if (!(*key)->QueryValue(name, &type, &value, &size)) return std::nullopt;
  return value;
}

inline void SetText(const char* name, const std::string& value) {
  CRegString v(common::QuillmarkValue(name));
  v.Set(value);
  v.Write();
}

// A console with a scratch registry whose "AppPath" is the build's
// application folder, an in-memory notification area and a recording
// opener.
class ConsoleFixture : public ::testing::Test {
 protected:
  void SetUp() override { SetText("AppPath", QM_APP_DIR); }
  void TearDown() override {
    app_.reset();
    QApplication::processEvents();
  }

  CQuillmarkApp& App() {
    if (!app_) app_ = std::make_unique<CQuillmarkApp>(CQuillmarkApp::Services{&tray_, &opener_, &printer_});
    return *app_;
  }

  ScratchRegistry registry_;
  platform::SimTrayArea tray_;
  RecordingOpener opener_;
  FixedPrinter printer_;
  std::unique_ptr<CQuillmarkApp> app_;
};

// Sends one mouse event to the widget at a position in its coordinates.
inline void SendMouse(QWidget* widget, QEvent::Type type, QPoint pos, Qt::MouseButton button,
                      Qt::MouseButtons buttons) {
  QPointF local(pos);
  QPointF global(widget->mapToGlobal(pos));
  QMouseEvent event(type, local, local, global, button, buttons, Qt::NoModifier);
  QApplication::sendEvent(widget, &event);
}

inline void Press(QWidget* w, QPoint p) {
  SendMouse(w, QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton);
}
inline void DragTo(QWidget* w, QPoint p) { SendMouse(w, QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton); }
inline void Hover(QWidget* w, QPoint p) { SendMouse(w, QEvent::MouseMove, p, Qt::NoButton, Qt::NoButton); }
inline void Release(QWidget* w, QPoint p) {
  SendMouse(w, QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
}

// Runs `inside` on the next modal window that opens (then closes it if it
// is still open); returns at once.
inline void OnNextModal(std::function<void(QWidget*)> inside) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, inside] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    timer->stop();
    timer->deleteLater();
    inside(modal);
    if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && dialog->isVisible()) dialog->reject();
  });
  timer->start();
}

// Counts the writes of each value name passing through to another
// registry; made the process-wide registry for its life.
class CountingRegistry : public platform::Registry {
 public:
  explicit CountingRegistry(platform::Registry& inner)
      : inner_(inner), previous_(platform::Registry::SetDefault(this)) {}
  ~CountingRegistry() override { platform::Registry::SetDefault(previous_); }

  platform::Result<std::unique_ptr<platform::RegistryKey>> OpenKey(platform::Hive hive, std::string_view path,
                                                                   std::uint32_t access) override {
    return Wrap(inner_.OpenKey(hive, path, access));
  }
  platform::Result<std::unique_ptr<platform::RegistryKey>> CreateKey(platform::Hive hive,
                                                                     std::string_view path,
                                                                     std::uint32_t access) override {
    return Wrap(inner_.CreateKey(hive, path, access));
  }
  platform::Status DeleteKey(platform::Hive hive, std::string_view path) override {
    return inner_.DeleteKey(hive, path);
  }

  int Writes(const std::string& name) const {
    int n = 0;
    for (const auto& w : writes_) n += w == name ? 1 : 0;
    return n;
  }

 private:
  class Key : public platform::RegistryKey {
   public:
    Key(std::unique_ptr<platform::RegistryKey> inner, std::vector<std::string>& writes)
        : inner_(std::move(inner)), writes_(writes) {}
    platform::Status QueryValue(std::string_view name, platform::RegType* type, void* data,
                                std::uint32_t* size) override {
      return inner_->QueryValue(name, type, data, size);
    }
    platform::Status SetValue(std::string_view name, platform::RegType type, const void* data,
                              std::uint32_t size) override {
      writes_.emplace_back(name);
      return inner_->SetValue(name, type, data, size);
    }
    platform::Status DeleteValue(std::string_view name) override { return inner_->DeleteValue(name); }
    std::vector<platform::RegValueInfo> Values() override { return inner_->Values(); }
    std::vector<std::string> SubKeys() override { return inner_->SubKeys(); }

   private:
    std::unique_ptr<platform::RegistryKey> inner_;
    std::vector<std::string>& writes_;
  };

  platform::Result<std::unique_ptr<platform::RegistryKey>> Wrap(
      platform::Result<std::unique_ptr<platform::RegistryKey>> key) {
    if (!key) return key;
    return std::unique_ptr<platform::RegistryKey>(std::make_unique<Key>(std::move(*key), writes_));
  }

  platform::Registry& inner_;
  platform::Registry* previous_;
  std::vector<std::string> writes_;
};

inline void DeleteValue(platform::Registry& registry, const char* name) {
  if (auto key =
          registry.OpenKey(platform::Hive::kLocalMachine, common::kQuillmarkKey, platform::kKeyWrite)) {
    (*key)->DeleteValue(name);
  }
}
