#include "console/console_menu_button.h"

#include "console/main_dlg.h"
#include "console/quillmark_app.h"
#include "console/resources.h"

CConsoleMenuButton::CConsoleMenuButton(CQuillmarkApp& app, QWidget* parent)
    : CMenuButton(parent), app_(app) {}

CConsoleMenuButton::~CConsoleMenuButton() = default;

void CConsoleMenuButton::AppendEntries() {
  struct Entry {
    int id;
    const char* text;
    unsigned flags;
  };
  static constexpr Entry kEntries[] = {
      {res::ID_MENU_HELP_CONTENTS, "Help &Contents", res::MF_STRING},
      {res::ID_MENU_HELP_INDEX, "Help &Index", res::MF_STRING},
      {res::ID_MENU_HELP_SEARCH, "Help &Search", res::MF_STRING},
      {-1, "", res::MF_SEPARATOR},
      {res::ID_MENU_PRODUCT_PAGE, "&Product Page", res::MF_STRING},
      {res::ID_MENU_COMPANY_PAGE, "C&ompany Page", res::MF_STRING},
      {-1, "", res::MF_SEPARATOR},
      {res::ID_MENU_SUPPORT, "&Get Support", res::MF_STRING},
      {res::ID_MENU_TELL_A_FRIEND, "&Tell a Friend", res::MF_STRING},
      {-1, "", res::MF_SEPARATOR},
      {res::ID_ABOUT, "&About", res::MF_STRING},
  };
  for (const Entry& e : kEntries) AppendItem(e.id, e.text, e.flags);
}

void CConsoleMenuButton::OnMenuCommand(int id) {
  switch (id) {
    case res::ID_MENU_HELP_CONTENTS: app_.ShowHelp(HelpCommand::Contents, ""); break;
    case res::ID_MENU_HELP_INDEX: app_.ShowHelp(HelpCommand::Index, ""); break;
    case res::ID_MENU_HELP_SEARCH: app_.ShowHelp(HelpCommand::Search, ""); break;
    case res::ID_MENU_PRODUCT_PAGE: app_.OpenWebPage(WebPage::Product); break;
    case res::ID_MENU_COMPANY_PAGE: app_.OpenWebPage(WebPage::Company); break;
    case res::ID_MENU_SUPPORT: app_.OpenWebPage(WebPage::Support); break;
    case res::ID_MENU_TELL_A_FRIEND: app_.OpenWebPage(WebPage::TellAFriend); break;
    case res::ID_ABOUT:
      if (CMainDlg* main = app_.MainWnd()) main->ShowAbout();
      break;
    default: break;
  }
}
