#pragma once

// Resource numbers of the console: dialog templates, bitmaps, icons, the
// cursor, the tray menu, strings, commands and controls.

namespace res {

// Dialog templates.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_MAIN = 102;
inline constexpr int IDD_PRINTERS_PAGE = 130;
inline constexpr int IDD_REPORTS_PAGE = 131;
inline constexpr int IDD_SETTINGS_PAGE = 132;
inline constexpr int IDD_PAGE_PANEL = 134;
inline constexpr int IDD_REPORT_VIEWER = 137;
inline constexpr int IDD_EMAIL_SETTINGS = 139;
inline constexpr int IDD_STATUS_PAGE = 140;
inline constexpr int IDD_MESSAGE = 159;

// Strings.
inline constexpr int IDS_ABOUTBOX = 101;

// Bitmaps.
inline constexpr int IDB_MAIN_BACKGROUND = 151;
inline constexpr int IDB_PANEL_BACKGROUND = 152;
inline constexpr int IDB_HIDE_TO_TRAY = 154;
inline constexpr int IDB_MENU_BUTTON = 166;
inline constexpr int IDB_BOX_BACKGROUND = 210;
inline constexpr int IDB_OK_PRESSED = 211;
inline constexpr int IDB_OK_NORMAL = 212;
inline constexpr int IDB_EMAIL_BACKGROUND = 214;
inline constexpr int IDB_SHOW_NORMAL = 185;
inline constexpr int IDB_SHOW_PRESSED = 186;
inline constexpr int IDB_FIND_PRESSED = 221;
inline constexpr int IDB_FIND_NORMAL = 222;
inline constexpr int IDB_VIEWER_OK_PRESSED = 223;
inline constexpr int IDB_VIEWER_OK_NORMAL = 224;
inline constexpr int IDB_SAVE_PDF_NORMAL = 225;
inline constexpr int IDB_SAVE_PDF_PRESSED = 226;
inline constexpr int IDB_SAVE_CSV_NORMAL = 227;
inline constexpr int IDB_SAVE_CSV_PRESSED = 228;

inline constexpr int IDB_STATUS_PRESSED = 142;
inline constexpr int IDB_STATUS_NORMAL = 143;
inline constexpr int IDB_STATUS_HOVER = 144;
inline constexpr int IDB_SETTINGS_NORMAL = 145;
inline constexpr int IDB_SETTINGS_HOVER = 146;
inline constexpr int IDB_SETTINGS_PRESSED = 147;
inline constexpr int IDB_REPORTS_PRESSED = 168;
inline constexpr int IDB_PRINTERS_NORMAL = 169;
inline constexpr int IDB_PRINTERS_HOVER = 170;
inline constexpr int IDB_PRINTERS_PRESSED = 171;
inline constexpr int IDB_REPORTS_NORMAL = 172;
inline constexpr int IDB_REPORTS_HOVER = 173;

// Buttons of the status, printers and settings pages and the e-mail
// settings dialog.
inline constexpr int IDB_START_NORMAL = 174;
inline constexpr int IDB_START_PRESSED = 175;
inline constexpr int IDB_STOP_PRESSED = 177;
inline constexpr int IDB_STOP_NORMAL = 180;
inline constexpr int IDB_USER_REPORT_NORMAL = 181;
inline constexpr int IDB_USER_REPORT_PRESSED = 182;
inline constexpr int IDB_PRINTER_REPORT_NORMAL = 183;
inline constexpr int IDB_PRINTER_REPORT_PRESSED = 184;
inline constexpr int IDB_ADD_NORMAL = 188;
inline constexpr int IDB_ADD_PRESSED = 189;
inline constexpr int IDB_APPLY_NORMAL = 190;
inline constexpr int IDB_APPLY_PRESSED = 191;
inline constexpr int IDB_REMOVE_NORMAL = 192;
inline constexpr int IDB_REMOVE_PRESSED = 193;
inline constexpr int IDB_RESET_NORMAL = 194;
inline constexpr int IDB_RESET_PRESSED = 195;
inline constexpr int IDB_CONFIGURE_PRESSED = 196;
inline constexpr int IDB_CONFIGURE_NORMAL = 197;
inline constexpr int IDB_TEST_PRESSED = 202;
inline constexpr int IDB_CANCEL_NORMAL = 203;
inline constexpr int IDB_CANCEL_PRESSED = 204;
inline constexpr int IDB_DEFAULT_NORMAL = 205;
inline constexpr int IDB_DEFAULT_PRESSED = 206;
inline constexpr int IDB_SAVE_NORMAL = 207;
inline constexpr int IDB_SAVE_PRESSED = 208;
inline constexpr int IDB_TEST_NORMAL = 209;

// Cursor.
inline constexpr int IDC_HAND = 141;

// Icons.
inline constexpr int IDI_MONITORING = 230;  // also the application icon
inline constexpr int IDI_NOT_MONITORING = 232;

// Menus.
inline constexpr int IDR_TRAY_MENU = 155;

// Controls of the main window and its panel.
inline constexpr int IDC_HIDE_TO_TRAY = 1046;
inline constexpr int IDC_MENU_BUTTON = 1058;
inline constexpr int IDC_PAGE_STATUS = 1110;
inline constexpr int IDC_PAGE_PRINTERS = 1111;
inline constexpr int IDC_PAGE_REPORTS = 1112;
inline constexpr int IDC_PAGE_SETTINGS = 1113;

// Controls of the status page.
inline constexpr int IDC_START = 1047;
inline constexpr int IDC_STOP = 1048;
inline constexpr int IDC_STATUS_TEXT = 1050;
inline constexpr int IDC_USER_TEXT = 1051;
inline constexpr int IDC_PRINTER_TEXT = 1052;
inline constexpr int IDC_PRINTER_REPORT = 1053;
inline constexpr int IDC_USER_REPORT = 1054;

// Controls of the printers page.
inline constexpr int IDC_INSTALLED_PRINTERS = 1009;
inline constexpr int IDC_ADD_PRINTER = 1011;
inline constexpr int IDC_REMOVE_PRINTER = 1012;
inline constexpr int IDC_APPLY_PRINTERS = 1013;
inline constexpr int IDC_RESET_PRINTERS = 1014;
inline constexpr int IDC_CHOSEN_PRINTERS = 1021;

// Controls of the settings page.
inline constexpr int IDC_COST_PRINTER = 1002;
inline constexpr int IDC_EMAIL_SWITCH = 1023;
inline constexpr int IDC_CONFIGURE_EMAIL = 1024;
inline constexpr int IDC_COST = 1044;
inline constexpr int IDC_APPLY_COST = 1045;

// Controls of the e-mail settings dialog.
inline constexpr int IDC_CANCEL = 2;
inline constexpr int IDC_DEFAULT_ACCOUNT = 1025;
inline constexpr int IDC_SEND_TEST = 1026;
inline constexpr int IDC_RECIPIENT = 1027;
inline constexpr int IDC_SENDER_ADDRESS = 1030;
inline constexpr int IDC_ACCOUNT_USER = 1032;
inline constexpr int IDC_ACCOUNT_PASSWORD = 1033;
inline constexpr int IDC_MAIL_SERVER = 1034;
inline constexpr int IDC_PORT = 1035;
inline constexpr int IDC_SENDER_NAME = 1036;
inline constexpr int IDC_AUTH_METHOD = 1037;
inline constexpr int IDC_SAVE = 1038;

// Controls of the About box and the message box.
inline constexpr int IDC_OK = 1;
inline constexpr int IDC_MESSAGE_TEXT = 1056;

// Controls of the reports page.
inline constexpr int IDC_REPORT_PERIOD = 1001;
inline constexpr int IDC_REPORT_PRINTER = 1002;
inline constexpr int IDC_SHOW_PRINTER_REPORT = 1003;
inline constexpr int IDC_REPORT_USER = 1004;
inline constexpr int IDC_SHOW_USER_REPORT = 1005;
inline constexpr int IDC_SHOW_AGGREGATED_REPORT = 1057;

// Controls of the report viewer: find (the OK command), close (the cancel
// command), the browser, the find bar over it and the two exports.
inline constexpr int IDC_FIND_KEYWORD = 1;
inline constexpr int IDC_BROWSER = 1008;
inline constexpr int IDC_FIND_BAR = 1070;
inline constexpr int IDC_SAVE_PDF = 1071;
inline constexpr int IDC_SAVE_CSV = 1072;

// The size grip of a resizable dialog.
inline constexpr int IDC_SIZE_GRIP = 50;

// System commands. Their low four bits are the system's own: compare a
// command masked with kSystemCommandMask.
inline constexpr unsigned kSystemCommandMask = 0xFFF0;
inline constexpr unsigned SC_MINIMIZE = 0xF020;
inline constexpr unsigned SC_CLOSE = 0xF060;
inline constexpr int IDM_ABOUTBOX = 16;

// Commands of the tray menu.
inline constexpr int ID_TRAY_EXIT = 32771;
inline constexpr int ID_TRAY_SHOW = 32772;
inline constexpr int ID_TRAY_HELP_INDEX = 32773;
inline constexpr int ID_TRAY_HELP_CONTENTS = 32774;
inline constexpr int ID_TRAY_HELP_SEARCH = 32775;
inline constexpr int ID_TRAY_TELL_A_FRIEND = 32777;
inline constexpr int ID_TRAY_START_MONITORING = 32778;
inline constexpr int ID_TRAY_STOP_MONITORING = 32779;
inline constexpr int ID_ABOUT = 167;

// Items of the main window's menu button.
inline constexpr int ID_MENU_HELP_CONTENTS = 161;
inline constexpr int ID_MENU_HELP_INDEX = 162;
inline constexpr int ID_MENU_HELP_SEARCH = 163;
inline constexpr int ID_MENU_PRODUCT_PAGE = 164;
inline constexpr int ID_MENU_COMPANY_PAGE = 165;
inline constexpr int ID_MENU_SUPPORT = 166;
inline constexpr int ID_MENU_TELL_A_FRIEND = 168;

// Menu item flags.
inline constexpr unsigned MF_STRING = 0;
inline constexpr unsigned MF_SEPARATOR = 0x800;

}  // namespace res
