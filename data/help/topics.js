// The help topics: the contents in order, the index keywords and the words
// the search looks through.
window.QUILLMARK_TOPICS = [
  { file: "1_0_Introduction.htm", title: "Introduction", level: 1,
    keywords: ["overview", "main window", "pages", "engine", "console", "mailer"],
    text: "Quillmark counts what your printers print: jobs, documents, pages, cost, printer and user, per day, week, month, quarter, semester and year. Twelve report periods from Today to Last year; daily report by e-mail. Main window with four pages; drag by any free spot; hide button; menu button with help, web pages and About." },
  { file: "2_0_Quick_Start_Lesson.htm", title: "Quick start lesson", level: 1,
    keywords: ["lesson", "getting started", "first report", "tutorial"],
    text: "A lesson in five steps: choose the printers, set the cost per page, start monitoring, print something, look at the report. Receive the report every morning by e-mail." },
  { file: "3_0_Status.htm", title: "The Status page", level: 2,
    keywords: ["status", "start", "stop", "monitoring", "default printer", "current user"],
    text: "Whether monitoring is on, the user logged on and the default printer. Start and Stop switch monitoring; Printer report and User report show today's report." },
  { file: "4_0_Printers.htm", title: "The Printers page", level: 2,
    keywords: ["printers", "add printer", "remove printer", "apply", "reset", "three printers"],
    text: "All Printers installed and Selected Printers monitored with their cost. Add, Remove, Apply, Reset. At most three printers can be monitored." },
  { file: "5_0_Reports.htm", title: "The Reports page", level: 2,
    keywords: ["reports", "periods", "today", "last year", "find keyword", "aggregated report"],
    text: "A report covers one period for one printer, one user or all printing. Periods Today, Yesterday, This week, Last week, This month, Last month, This quarter, Last quarter, This semester, Last semester, This year, Last year. Find keyword searches the report." },
  { file: "6_0_Settings.htm", title: "The Settings page", level: 2,
    keywords: ["settings", "cost per page", "e-mail notification", "cents"],
    text: "Enable Email Notification mails yesterday's report every day; Configure opens the e-mail settings. Cost Management sets the cost per page in cents, 0 to 2000, for jobs printed from now on." },
  { file: "7_0_Email.htm", title: "E-mail reports", level: 2,
    keywords: ["e-mail", "mail server", "authentication", "test message", "port", "password"],
    text: "Email Address receiving the reports, sender Name and Email, Authentication Method AUTH LOGIN, AUTH PLAIN, CRAM MD5, NTLM or None, User Name, Password, Mail Server and Port. Save, Test, Default." },
  { file: "8_0_Tray.htm", title: "The notification area icon", level: 1,
    keywords: ["notification area", "tray icon", "hide", "show", "exit", "tip"],
    text: "Escape, the hide button, Close and Minimise hide the window into the notification area. Double-click the icon to bring it back; right-click for Show, Start monitoring, Stop monitoring, Help, About, Tell a friend and Exit. Starting Quillmark again brings the running window forward." }
];
