#include "console/main_dlg.h"

#include <QBitmap>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QWindow>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "console/about_dlg.h"
#include "console/console_menu_button.h"
#include "console/console_services.h"
#include "console/control_id.h"
#include "console/page_panel.h"
#include "console/printers_page.h"
#include "console/reports_page.h"
#include "console/resource_table.h"
#include "console/resources.h"
#include "console/settings_page.h"
#include "console/skin_button.h"
#include "console/status_page.h"

namespace {

constexpr QRgb kColourKey = qRgb(229, 27, 255);

constexpr const char* kTipMonitoring = "Quillmark - Monitoring";
constexpr const char* kTipNotMonitoring = "Quillmark - Not monitoring";
constexpr const char* kTipStoppedFromTray = "Quillmark - Not Monitoring";

struct PageRow {
  int buttonId;
  int normal;
  int pressed;
  int hover;
  int disabled;
};

constexpr std::array<PageRow, 4> kPageRows{{
    {res::IDC_PAGE_STATUS, res::IDB_STATUS_NORMAL, res::IDB_STATUS_PRESSED, res::IDB_STATUS_HOVER,
     res::IDB_STATUS_PRESSED},
    {res::IDC_PAGE_PRINTERS, res::IDB_PRINTERS_NORMAL, res::IDB_PRINTERS_PRESSED, res::IDB_PRINTERS_HOVER,
     res::IDB_PRINTERS_PRESSED},
    {res::IDC_PAGE_REPORTS, res::IDB_REPORTS_NORMAL, res::IDB_REPORTS_PRESSED, res::IDB_REPORTS_HOVER,
     res::IDB_REPORTS_PRESSED},
    {res::IDC_PAGE_SETTINGS, res::IDB_SETTINGS_NORMAL, res::IDB_SETTINGS_PRESSED, res::IDB_SETTINGS_HOVER,
     res::IDB_SETTINGS_PRESSED},
}};

std::uint32_t ReadMonitoring() {
  CRegDword monitoring(common::QuillmarkValue("Monitoring"));
  return monitoring.Get();
}

}  // namespace

CMainDlg::CMainDlg(CConsoleServices& services)
    : CTrayDlg(services.Tray(), res::IDD_MAIN), services_(services) {
  // A window of its own in the task bar, without a frame.
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  OnInitDialog();
}

CMainDlg::~CMainDlg() = default;

bool CMainDlg::AppendAboutItem(QMenu& menu, const std::string& text) {
  if (text.empty()) return false;
  menu.addSeparator();
  menu.addAction(QString::fromLatin1(text))->setData(res::IDM_ABOUTBOX);
  return true;
}

QRegion CMainDlg::ColourKeyRegion(const QImage& image) {
  QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  QBitmap mask = QBitmap::fromImage(rgb.createMaskFromColor(kColourKey, Qt::MaskInColor));
  return QRegion(mask);
}

void CMainDlg::OnInitDialog() {
  // The system menu of a borderless window: opened from any free spot with
  // the right button, or with Alt+Space.
  systemMenu_ = std::make_unique<QMenu>();
  systemMenu_->addAction(QStringLiteral("Mi&nimize"))->setData(res::SC_MINIMIZE);
  systemMenu_->addAction(QStringLiteral("&Close\tAlt+F4"))->setData(res::SC_CLOSE);
  AppendAboutItem(*systemMenu_, res::LoadString(res::IDS_ABOUTBOX));

  QIcon icon = res::LoadIcon(res::IDI_MONITORING);
  setWindowIcon(icon);
  setWindowTitle(QStringLiteral("Quillmark"));

  panel_ = new CPagePanel(this);
  panel_->SetEnabledFlag(true);

  if (CreatePages()) {
    panel_->move(10, 90);
    panel_->show();
  }

  panel_->SetBackground(res::IDB_PANEL_BACKGROUND);
  SetBackground(res::IDB_MAIN_BACKGROUND);

  hide_ = new CSkinButton(this);
  SetControlId(hide_, res::IDC_HIDE_TO_TRAY);
  hide_->setGeometry(556, 36, 20, 20);
  hide_->setToolTip(QStringLiteral("Hide to the notification area"));
  hide_->LoadImages(res::IDB_HIDE_TO_TRAY, res::IDB_HIDE_TO_TRAY);
  connect(hide_, &QAbstractButton::clicked, this, [this] { OnCommand(res::IDC_HIDE_TO_TRAY); });

  SetTrayMenu(res::IDR_TRAY_MENU);
  SetTrayIcon(res::IDI_MONITORING);
  SetTrayFromMonitoring();
  UpdateTrayIcon();

  // The background's colour-key areas are not part of the window.
  if (!Background().isNull()) setMask(ColourKeyRegion(Background().toImage()));

  menu_ = new CConsoleMenuButton(services_, this);
  connect(menu_, &CConsoleMenuButton::AboutRequested, this, &CMainDlg::ShowAbout);
  SetControlId(menu_, res::IDC_MENU_BUTTON);
  menu_->setGeometry(530, 36, 20, 20);
  menu_->setToolTip(QStringLiteral("Help and more"));
  menu_->LoadImages(res::IDB_MENU_BUTTON, res::IDB_MENU_BUTTON);
  menu_->AppendEntries();
}

bool CMainDlg::CreatePages() {
  for (int i = 0; i < static_cast<int>(kPageRows.size()); ++i) {
    const PageRow& row = kPageRows[static_cast<std::size_t>(i)];
    auto* button = new CSkinButton(panel_);
    SetControlId(button, row.buttonId);
    button->setGeometry(15, 3 + 50 * i, 100, 25);
    button->LoadImages(row.normal, row.pressed, row.hover, row.disabled);

    CConsolePage* page = nullptr;
    switch (i) {
      case 0: page = status_ = new CStatusPage(panel_, this); break;
      case 1: page = new CPrintersPage(panel_, this); break;
      case 2: page = new CReportsPage(panel_, this); break;
      default: page = new CSettingsPage(panel_, this); break;
    }
    page->setGeometry(160, 80, 420, 300);
    page->setVisible(i == 0);
    pages_[static_cast<std::size_t>(i)] = page;
    panel_->AddPage(page, button);
    if (i == 0) button->setEnabled(false);
  }
  return true;
}

CConsolePage* CMainDlg::Page(int index) const {
  if (index < 0 || index >= static_cast<int>(pages_.size())) return nullptr;
  return pages_[static_cast<std::size_t>(index)];
}

void CMainDlg::SetTrayFromMonitoring() {
  if (ReadMonitoring() == 1) {
    SetTrayIcon(res::IDI_MONITORING);
    SetTrayTip(kTipMonitoring);
  } else {
    SetTrayIcon(res::IDI_NOT_MONITORING);
    SetTrayTip(kTipNotMonitoring);
  }
}

void CMainDlg::HideToTray() {
  SetTrayFromMonitoring();
  UpdateTrayIcon();
  // The window hides even when the area refuses the icon.
  AddTrayIcon();
  hide();
}

void CMainDlg::ShowAbout() {
  CAboutDlg about(isVisible() ? this : nullptr);
  about.exec();
}

void CMainDlg::StartMonitoringFromTray() {
  if (ReadMonitoring() != 0) return;
  status_->SetMonitoring(true);
  SetTrayIcon(res::IDI_MONITORING);
  SetTrayTip(kTipMonitoring);
  UpdateTrayIcon();
}

void CMainDlg::StopMonitoringFromTray() {
  if (ReadMonitoring() != 1) return;
  status_->SetMonitoring(false);
  SetTrayIcon(res::IDI_NOT_MONITORING);
  SetTrayTip(kTipStoppedFromTray);
  UpdateTrayIcon();
}

void CMainDlg::OnCommand(int id) {
  switch (id) {
    case res::IDM_ABOUTBOX:
    case res::ID_ABOUT: ShowAbout(); break;
    case res::IDC_HIDE_TO_TRAY: HideToTray(); break;
    case res::ID_TRAY_EXIT:
      RemoveTrayIcon();
      done(0);
      break;
    case res::ID_TRAY_SHOW:
      RemoveTrayIcon();
      show();
      raise();
      activateWindow();
      break;
    case res::ID_TRAY_HELP_CONTENTS: services_.ShowHelp(HelpCommand::kContents, ""); break;
    case res::ID_TRAY_HELP_INDEX: services_.ShowHelp(HelpCommand::kIndex, ""); break;
    case res::ID_TRAY_HELP_SEARCH: services_.ShowHelp(HelpCommand::kSearch, "lesson"); break;
    case res::ID_TRAY_TELL_A_FRIEND: services_.OpenWebPage(WebPage::kTellAFriend); break;
    case res::ID_TRAY_START_MONITORING: StartMonitoringFromTray(); break;
    case res::ID_TRAY_STOP_MONITORING: StopMonitoringFromTray(); break;
    default: break;
  }
}

void CMainDlg::OnSysCommand(unsigned command) {
  if ((command & res::kSystemCommandMask) == res::IDM_ABOUTBOX) {
    ShowAbout();
    return;
  }
  CTrayDlg::OnSysCommand(command);
}

void CMainDlg::reject() { HideToTray(); }

void CMainDlg::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  // A press on a free spot drags the window, as a press on a title bar.
  event->accept();
  if (QWindow* window = windowHandle(); window != nullptr && window->startSystemMove()) return;
  dragging_ = true;
  dragOffset_ = event->globalPosition().toPoint() - pos();
}

void CMainDlg::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_ && (event->buttons() & Qt::LeftButton)) {
    move(event->globalPosition().toPoint() - dragOffset_);
    event->accept();
    return;
  }
  CTrayDlg::mouseMoveEvent(event);
}

void CMainDlg::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragging_ = false;
  CTrayDlg::mouseReleaseEvent(event);
}

void CMainDlg::contextMenuEvent(QContextMenuEvent* event) {
  QAction* chosen = systemMenu_->exec(event->globalPos());
  if (chosen != nullptr) OnSysCommand(chosen->data().toUInt());
}

void CMainDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && (event->modifiers() & Qt::AltModifier)) {
    QAction* chosen = systemMenu_->exec(mapToGlobal(QPoint(0, 0)));
    if (chosen != nullptr) OnSysCommand(chosen->data().toUInt());
    return;
  }
  CTrayDlg::keyPressEvent(event);
}
