#include <cstdlib>
#include <string>

#include "tests/cups_spooler/cups_test_support.h"

namespace {

using platform::SpoolerError;

bool Listed(const std::vector<platform::InstalledPrinter>& printers, const std::string& name) {
  for (const auto& p : printers) {
    if (p.name == name) return true;
  }
  return false;
}

TEST_F(CupsSpoolerTest, EnumeratesTheQueuesOfTheServer) {
  std::string a = NewQueue();
  std::string b = NewQueue();
  auto printers = Spooler().EnumPrinters();
  EXPECT_TRUE(Listed(printers, a));
  EXPECT_TRUE(Listed(printers, b));
  for (const auto& p : printers) {
    if (p.name == a) {
      EXPECT_FALSE(p.connection) << "a local queue";
      EXPECT_EQ(p.portName.rfind("qmpages:", 0), 0u) << p.portName;
    }
  }

  Cupsd().Delete(a);
  printers = Spooler().EnumPrinters();
  EXPECT_FALSE(Listed(printers, a));
  EXPECT_TRUE(Listed(printers, b));
}

TEST_F(CupsSpoolerTest, DefaultPrinterFollowsTheServerThenTheUsersChoice) {
  std::string a = NewQueue();
  std::string b = NewQueue();
  Cupsd().SetDefault(a);
  EXPECT_EQ(Spooler().DefaultPrinterName(), a);
  Cupsd().SetDefault(b);
  EXPECT_EQ(Spooler().DefaultPrinterName(), b);

  // The user's own default comes first.
  ::setenv("LPDEST", a.c_str(), 1);
  auto chosen = Spooler().DefaultPrinterName();
  ::unsetenv("LPDEST");
  EXPECT_EQ(chosen, a);
}

TEST_F(CupsSpoolerTest, OpensAQueueByNameAndRefusesUnknownOnes) {
  std::string a = NewQueue();
  auto printer = Spooler().OpenPrinter(a);
  EXPECT_EQ(printer->Name(), a);
  EXPECT_EQ(printer->JobCount(), 0u);

  try {
    Spooler().OpenPrinter("no_such_queue");
    FAIL() << "opened a queue that does not exist";
  } catch (const SpoolerError& e) {
    EXPECT_EQ(e.code(), platform::kErrorInvalidPrinterName);
  }

  // A queue deleted while open fails its calls the same way.
  Cupsd().Delete(a);
  try {
    printer->JobCount();
    FAIL() << "counted the jobs of a deleted queue";
  } catch (const SpoolerError& e) {
    EXPECT_EQ(e.code(), platform::kErrorInvalidPrinterName);
  }
}

TEST(CupsSpoolerWithoutServer, ReportsTheServerUnavailable) {
  // A thread of its own, so that libcups reads this server name afresh.
  std::string previous = std::getenv("CUPS_SERVER") ? std::getenv("CUPS_SERVER") : "";
  ::setenv("CUPS_SERVER", "/tmp/quillmark-no-such-cupsd.sock", 1);
  std::int32_t openCode = 0, enumCode = 0;
  std::thread([&] {
    auto spooler = platform::MakeCupsSpooler();
    try {
      spooler->OpenPrinter("anything");
    } catch (const SpoolerError& e) {
      openCode = e.code();
    }
    try {
      spooler->EnumPrinters();
    } catch (const SpoolerError& e) {
      enumCode = e.code();
    }
  }).join();
  if (previous.empty()) {
    ::unsetenv("CUPS_SERVER");
  } else {
    ::setenv("CUPS_SERVER", previous.c_str(), 1);
  }
  EXPECT_EQ(openCode, platform::kErrorServerUnavailable);
  EXPECT_EQ(enumCode, platform::kErrorServerUnavailable);
}

}  // namespace
