#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QString>
#include <QUrl>
#include <QUrlQuery>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "console/help_file.h"
#include "tests/support/read_file.h"

namespace {

namespace fs = std::filesystem;

const fs::path kHelp = fs::path(QM_APP_DIR) / "help";

QString Read(const fs::path& p) { return QString::fromStdString(testing_support::ReadWholeFile(p)); }

}  // namespace

TEST(HelpFile, AddressesOfTheThreePanes) {
  const std::string app = "/opt/quill mark";
  QUrl contents(QString::fromStdString(HelpUrl(app, HelpCommand::kContents, "")));
  EXPECT_EQ(contents.scheme(), "file");
  EXPECT_EQ(contents.toLocalFile().toStdString(), "/opt/quill mark/help/Quillmark.htm");
  EXPECT_EQ(QUrlQuery(contents).queryItemValue("pane"), "contents");
  EXPECT_EQ(QUrlQuery(contents).queryItemValue("topic"), "1_0_Introduction.htm");

  QUrl index(QString::fromStdString(HelpUrl(app, HelpCommand::kIndex, "ignored")));
  EXPECT_EQ(QUrlQuery(index).queryItemValue("pane"), "index");
  EXPECT_FALSE(QUrlQuery(index).hasQueryItem("q"));

  // A query with characters that mean something in an address, and a
  // Latin-1 letter, arrives whole.
  const std::string words = "cost & pages=5 caf\xe9 #1+2";
  QUrl search(QString::fromStdString(HelpUrl(app, HelpCommand::kSearch, words)));
  QUrlQuery q(search);
  EXPECT_EQ(q.queryItemValue("pane"), "search");
  EXPECT_EQ(q.queryItemValue("q", QUrl::FullyDecoded), QString::fromLatin1(words.c_str()));
  EXPECT_EQ(search.fragment(QUrl::FullyDecoded), "search=" + QString::fromLatin1(words.c_str()));
}

TEST(HelpFile, EveryPageAndLinkIsThere) {
  ASSERT_TRUE(fs::exists(kHelp / "Quillmark.htm"));
  ASSERT_TRUE(fs::exists(kHelp / kHelpFirstTopic));
  // Every local href and src of every page names a file of the help.
  QRegularExpression ref(R"re((?:href|src)="([^"#:]+)(?:#[^"]*)?")re");
  int pages = 0;
  for (const auto& entry : fs::directory_iterator(kHelp)) {
    if (entry.path().extension() != ".htm") continue;
    ++pages;
    QString html = Read(entry.path());
    EXPECT_TRUE(html.contains("<title>")) << entry.path();
    auto it = ref.globalMatch(html);
    while (it.hasNext()) {
      QString target = it.next().captured(1);
      EXPECT_TRUE(fs::exists(kHelp / target.toStdString()))
          << entry.path().filename() << " -> " << target.toStdString();
    }
  }
  EXPECT_GE(pages, 8);
}

TEST(HelpFile, TheTopicListNamesEveryTopicAndTheSearchFindsTheLesson) {
  QString topics = Read(kHelp / "topics.js");
  QRegularExpression file(R"re(file:\s*"([^"]+)")re");
  std::set<std::string> listed;
  auto it = file.globalMatch(topics);
  while (it.hasNext()) listed.insert(it.next().captured(1).toStdString());
  for (const auto& entry : fs::directory_iterator(kHelp)) {
    std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".htm" && name != "Quillmark.htm") {
      EXPECT_EQ(listed.count(name), 1u) << name;
    }
  }
  for (const auto& name : listed) EXPECT_TRUE(fs::exists(kHelp / name)) << name;
  // The tray's search looks for "lesson": some topic must hold the word.
  EXPECT_TRUE(topics.contains(QRegularExpression(R"re(keywords:[^\]]*"lesson")re")));
}
