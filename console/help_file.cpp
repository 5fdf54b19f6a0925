#include "console/help_file.h"

#include <QString>
#include <QUrl>

#include "common/text_file.h"

std::string HelpFilePath(const std::string& appPath) {
  return common::NativePath(appPath + "\\help\\Quillmark.htm");
}

std::string HelpUrl(const std::string& appPath, HelpCommand command, std::string_view query) {
  QUrl url = QUrl::fromLocalFile(QString::fromLocal8Bit(HelpFilePath(appPath)));
  QString pane;
  switch (command) {
    case HelpCommand::kContents: pane = QStringLiteral("contents"); break;
    case HelpCommand::kIndex: pane = QStringLiteral("index"); break;
    case HelpCommand::kSearch: pane = QStringLiteral("search"); break;
  }
  QString text = QString::fromLatin1(query.data(), static_cast<qsizetype>(query.size()));
  QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(text));
  QString items = QStringLiteral("pane=%1&topic=%2").arg(pane, QLatin1String(kHelpFirstTopic));
  // The pane and query are also carried by the fragment, which openers
  // that drop the query of a file address still pass on.
  QString fragment = pane;
  if (command == HelpCommand::kSearch && !text.isEmpty()) {
    items += QStringLiteral("&q=") + encoded;
    fragment += QStringLiteral("=") + encoded;
  }
  url.setQuery(items, QUrl::TolerantMode);
  url.setFragment(fragment, QUrl::TolerantMode);
  return url.toString(QUrl::FullyEncoded).toStdString();
}
