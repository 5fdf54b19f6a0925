#include "console/quillmark_app.h"

#include <QApplication>
#include <QWidget>

#include "common/registry_keys.h"
#include "console/default_printer.h"
#include "console/main_dlg.h"
#include "console/single_instance.h"
#include "platform/desktop.h"
#include "platform/file_system.h"
#include "platform/log.h"
#include "platform/program_folder.h"

namespace {

const QString kTitle = QStringLiteral("Quillmark");

}  // namespace

CQuillmarkApp::CQuillmarkApp(Services services)
    : services_(services), appPath_(common::QuillmarkValue("AppPath")) {
  appPathText_ = appPath_.Get();
}

CQuillmarkApp::~CQuillmarkApp() { main_.reset(); }

platform::DesktopOpener& CQuillmarkApp::Opener() {
  return services_.opener != nullptr ? *services_.opener : platform::DesktopOpener::Default();
}

CMainDlg& CQuillmarkApp::CreateMainWindow() {
  if (!main_) main_ = std::make_unique<CMainDlg>(*this);
  return *main_;
}

int CQuillmarkApp::Run(const QString& instanceName) {
  CSingleInstance instance(instanceName);
  if (instance.ForwardToRunning()) return 0;
  instance.Listen([this] { return BringForward() != nullptr; });

  CMainDlg& window = CreateMainWindow();
  QObject::connect(&window, &QDialog::finished, qApp, [] { QCoreApplication::exit(0); });
  window.show();
  QApplication::exec();
  main_.reset();
  return 0;
}

std::string CQuillmarkApp::GetDefaultPrinterName() {
  std::string name = kNoDefaultPrinter;
  if (services_.printers != nullptr) {
    std::optional<std::string> found = services_.printers->DefaultPrinterName();
    if (found && !found->empty()) name = *found;
  }
  return name;
}

void CQuillmarkApp::ShowHelp(HelpCommand command, std::string_view query) {
  // The help pages are installed with the programs; a build or an older
  // install keeps them in the application folder. A missing help file is
  // the browser's to report.
  const std::string& programs = platform::ProgramFolder();
  const bool beside = !programs.empty() && platform::FileExists(programs + "/help/Quillmark.htm");
  if (platform::Status opened = Opener().Open(HelpUrl(beside ? programs : appPathText_, command, query));
      !opened)
    platform::LogWarning("help not shown", opened);
}

void CQuillmarkApp::OpenWebPage(WebPage page) {
  // A browser that does not start is not reported to the user.
  if (platform::Status opened = Opener().Open(WebPageUrl(page)); !opened)
    platform::LogWarning("web page not shown", opened);
}

QWidget* CQuillmarkApp::BringForward() {
  QWidget* found = nullptr;
  // A box open over the main window lies above it and is found first.
  if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->windowTitle() == kTitle) {
    found = modal;
  }
  const auto windows = QApplication::topLevelWidgets();
  for (QWidget* w : windows) {
    if (found != nullptr) break;
    if (w->isVisible() && w->windowTitle() == kTitle) found = w;
  }
  for (QWidget* w : windows) {
    if (found != nullptr) break;
    if (w->windowTitle() == kTitle && (w->windowFlags() & Qt::Window)) found = w;
  }
  if (found == nullptr) return nullptr;
  found->show();
  found->raise();
  found->activateWindow();
  return found;
}
