#include "common/scramble.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>

#include "../foundation/test_support.h"
#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/text_file.h"

namespace {

using common::Descramble;
using common::Scramble;

TEST(Scramble, RaisesEveryCodeByTheShift) {
  // The shift is part of the stored form that the console writes: it must
  // not change.
  EXPECT_EQ(Scramble("abc"), "fgh");
  EXPECT_EQ(Scramble("\xFA\xFB\xFF"), "\xFF\x01\x05");
  EXPECT_EQ(Descramble(Scramble("None")), "None");
  EXPECT_EQ(Scramble(""), "");
}

TEST(Scramble, EveryNonZeroCodeRoundTripsAndNeverBecomesZero) {
  std::string all;
  for (int c = 1; c < 256; ++c) all.push_back(static_cast<char>(c));
  const std::string scrambled = Scramble(all);
  EXPECT_EQ(scrambled.find('\0'), std::string::npos);
  EXPECT_EQ(Descramble(scrambled), all);
  // A bijection: no two codes share a scrambled code.
  std::string sorted = scrambled;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end());
}

TEST(Scramble, HighLatin1TextSurvivesTheRegistry) {
  ScratchRegistry scratch;
  const std::string password = "p\xE4ss\xFB\xFF\xFE!";
  CRegString(common::QuillmarkValue("SMTPPass4MailServer")).Set(Scramble(password));
  EXPECT_EQ(Descramble(CRegString(common::QuillmarkValue("SMTPPass4MailServer")).Get()), password);
}

TEST(Scramble, RegistryToolScramblesOnAddAndQuery) {
  ScratchRegistry scratch;
  const std::string tool =
      "QUILLMARK_REGISTRY=" + scratch.RegistryRoot().string() + " " + QM_APP_DIR + "/quillmark-reg ";
  const std::string out = (scratch.Folder() / "out").string();
  auto run = [&](const std::string& args) {
    int status = std::system((tool + args + " >" + out + " 2>&1 </dev/null").c_str());
    return WEXITSTATUS(status);
  };
  // UTF-8 on the command line, Latin-1 and scrambled in the store.
  ASSERT_EQ(run("add 'HKLM\\Software\\Quillmark' /v SMTPName /t REG_SZ /d 'J\xC3\xBCrgen Q' /scramble"), 0);
  const std::string stored = CRegString(common::QuillmarkValue("SMTPName")).Get();
  EXPECT_EQ(stored, Scramble("J\xFCrgen Q"));

  ASSERT_EQ(run("query 'HKLM\\Software\\Quillmark' /v SMTPName /scramble"), 0);
  EXPECT_NE(ReadTextFile(out).find("SMTPName    REG_SZ    J\xC3\xBCrgen Q\n"), std::string::npos)
      << ReadTextFile(out);
  ASSERT_EQ(run("query 'HKLM\\Software\\Quillmark' /v SMTPName"), 0);
  EXPECT_EQ(ReadTextFile(out).find("J\xC3\xBCrgen"), std::string::npos);

  // Numbers are never scrambled; the flag makes no sense for them.
  EXPECT_NE(run("add 'HKLM\\Software\\Quillmark' /v SMTPPORT /t REG_DWORD /d 25 /scramble"), 0);
  EXPECT_NE(run("delete 'HKLM\\Software\\Quillmark' /v SMTPName /f /scramble"), 0);
}

}  // namespace
