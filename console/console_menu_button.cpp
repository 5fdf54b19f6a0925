#include "console/console_menu_button.h"

#include "console/console_services.h"
#include "console/resources.h"

CConsoleMenuButton::CConsoleMenuButton(CConsoleServices& services, QWidget* parent)
    : CMenuButton(parent), services_(services) {}

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
    case res::ID_MENU_HELP_CONTENTS: services_.ShowHelp(HelpCommand::kContents, ""); break;
    case res::ID_MENU_HELP_INDEX: services_.ShowHelp(HelpCommand::kIndex, ""); break;
    case res::ID_MENU_HELP_SEARCH: services_.ShowHelp(HelpCommand::kSearch, ""); break;
    case res::ID_MENU_PRODUCT_PAGE: services_.OpenWebPage(WebPage::kProduct); break;
    case res::ID_MENU_COMPANY_PAGE: services_.OpenWebPage(WebPage::kCompany); break;
    case res::ID_MENU_SUPPORT: services_.OpenWebPage(WebPage::kSupport); break;
    case res::ID_MENU_TELL_A_FRIEND: services_.OpenWebPage(WebPage::kTellAFriend); break;
    case res::ID_ABOUT: emit AboutRequested(); break;
    default: break;
  }
}
