// quillmark-sim: plays the print server of a simulated spooler kept in a
// spool folder, which the engine watches when QUILLMARK_SPOOLER names the
// same folder.
//
//   quillmark-sim [--spool FOLDER] add-printer NAME [--port PORT] [--connection] [--default]
//   quillmark-sim [--spool FOLDER] remove-printer NAME
//   quillmark-sim [--spool FOLDER] default [NAME]
//   quillmark-sim [--spool FOLDER] printers
//   quillmark-sim [--spool FOLDER] submit PRINTER [--document TEXT] [--user NAME]
//                                  [--pages N] [--submitted "YYYY-MM-DD HH:MM[:SS]"]
//   quillmark-sim [--spool FOLDER] advance PRINTER JOB PAGES
//   quillmark-sim [--spool FOLDER] status PRINTER JOB STATUS
//   quillmark-sim [--spool FOLDER] complete PRINTER JOB
//   quillmark-sim [--spool FOLDER] cancel PRINTER JOB
//   quillmark-sim [--spool FOLDER] jobs PRINTER
//
// The folder is --spool, else $QUILLMARK_SPOOLER. The submitted time is in
// UTC, as the spooler keeps it; it defaults to now. `submit` prints the new
// job's id. Texts are read and written in the terminal's UTF-8.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "common/latin1.h"
#include "platform/log.h"
#include "platform/sim/sim_spooler.h"
#include "platform/spooler.h"

namespace {

using platform::SpoolTime;
using platform::sim::SimSpooler;

int Usage(const std::string& message) {
  std::cerr << "quillmark-sim: " << message << "\n"
            << "Usage: quillmark-sim [--spool FOLDER] COMMAND ...\n"
            << "  add-printer NAME [--port PORT] [--connection] [--default]\n"
            << "  remove-printer NAME\n"
            << "  default [NAME]\n"
            << "  printers\n"
            << "  submit PRINTER [--document TEXT] [--user NAME] [--pages N]\n"
            << "                 [--submitted \"YYYY-MM-DD HH:MM[:SS]\" (UTC)]\n"
            << "  advance PRINTER JOB PAGES\n"
            << "  status PRINTER JOB STATUS\n"
            << "  complete PRINTER JOB\n"
            << "  cancel PRINTER JOB\n"
            << "  jobs PRINTER\n"
            << "FOLDER defaults to $QUILLMARK_SPOOLER.\n";
  return 2;
}

std::optional<std::uint32_t> Number(const std::string& text) {
  std::uint32_t value = 0;
  int base = 10;
  const char* first = text.data();
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    first += 2;
  }
  auto [end, ec] = std::from_chars(first, text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size() || first == end) return std::nullopt;
  return value;
}

// "YYYY-MM-DD HH:MM" or "YYYY-MM-DD HH:MM:SS", a 'T' allowed for the space.
std::optional<SpoolTime> ParseTime(const std::string& text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char sep = 0;
  int got = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &year, &month, &day, &sep, &hour, &minute,
                        &second);
  if (got < 6 || (sep != ' ' && sep != 'T') || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
      minute > 59 || second > 59 || year < 1601) {
    return std::nullopt;
  }
  using namespace std::chrono;
  year_month_day date{std::chrono::year{year} / month / day};
  if (!date.ok()) return std::nullopt;
  auto moment = sys_days{date} + hours{hour} + minutes{minute} + seconds{second};
  return platform::ToSpoolTime(time_point_cast<system_clock::duration>(moment));
}

std::string ShowTime(const SpoolTime& t) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u", unsigned{t.year}, unsigned{t.month},
                unsigned{t.day}, unsigned{t.hour}, unsigned{t.minute}, unsigned{t.second});
  return buffer;
}

std::string Show(const std::optional<std::string>& text) {
  return text ? common::Latin1ToUtf8(*text) : std::string("-");
}

int Run(std::vector<std::string> args) {
  std::optional<std::string> folder;
  if (args.size() >= 2 && args[0] == "--spool") {
    folder = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (!folder) {
    if (auto env = platform::SpoolFolderFromEnvironment()) folder = env->string();
  }
  if (args.empty()) return Usage("no command");
  if (!folder) return Usage("no spool folder: give --spool or set QUILLMARK_SPOOLER");

  const std::string command = args[0];
  std::vector<std::string> rest(args.begin() + 1, args.end());
  SimSpooler spooler{std::filesystem::path(*folder)};
  auto latin1 = [](const std::string& utf8) { return common::Utf8ToLatin1(utf8); };

  auto jobArgs = [&](std::size_t count, std::vector<std::uint32_t>& numbers) {
    if (rest.size() != count) return false;
    for (std::size_t i = 1; i < count; ++i) {
      auto value = Number(rest[i]);
      if (!value) return false;
      numbers.push_back(*value);
    }
    return true;
  };

  if (command == "add-printer") {
    if (rest.empty()) return Usage("add-printer needs a name");
    std::string port;
    bool connection = false, makeDefault = false;
    for (std::size_t i = 1; i < rest.size(); ++i) {
      if (rest[i] == "--port" && i + 1 < rest.size()) {
        port = rest[++i];
      } else if (rest[i] == "--connection") {
        connection = true;
      } else if (rest[i] == "--default") {
        makeDefault = true;
      } else {
        return Usage("unknown option " + rest[i]);
      }
    }
    spooler.AddPrinter(latin1(rest[0]), latin1(port), connection);
    if (makeDefault) spooler.SetDefaultPrinter(latin1(rest[0]));
    return 0;
  }
  if (command == "remove-printer") {
    if (rest.size() != 1) return Usage("remove-printer needs a name");
    if (!spooler.RemovePrinter(latin1(rest[0]))) {
      std::cerr << "quillmark-sim: no printer " << rest[0] << "\n";
      return 1;
    }
    return 0;
  }
  if (command == "default") {
    if (rest.size() > 1) return Usage("default takes at most one name");
    if (rest.size() == 1) {
      spooler.SetDefaultPrinter(latin1(rest[0]));
    } else {
      std::cout << Show(spooler.DefaultPrinterName()) << "\n";
    }
    return 0;
  }
  if (command == "printers") {
    for (const auto& printer : spooler.EnumPrinters()) {
      std::cout << common::Latin1ToUtf8(printer.name) << "\t" << common::Latin1ToUtf8(printer.portName)
                << "\t" << (printer.connection ? "connection" : "local") << "\n";
    }
    return 0;
  }
  if (command == "submit") {
    if (rest.empty()) return Usage("submit needs a printer");
    platform::sim::SimJobSpec job;
    for (std::size_t i = 1; i < rest.size(); ++i) {
      const std::string& option = rest[i];
      if (i + 1 >= rest.size()) return Usage(option + " needs a value");
      const std::string& value = rest[++i];
      if (option == "--document") {
        job.document = latin1(value);
      } else if (option == "--user") {
        job.userName = latin1(value);
      } else if (option == "--pages") {
        auto pages = Number(value);
        if (!pages) return Usage("bad page count " + value);
        job.totalPages = *pages;
      } else if (option == "--submitted") {
        auto time = ParseTime(value);
        if (!time) return Usage("bad time " + value + " (YYYY-MM-DD HH:MM[:SS], UTC)");
        job.submitted = *time;
      } else {
        return Usage("unknown option " + option);
      }
    }
    std::cout << spooler.Submit(latin1(rest[0]), job) << "\n";
    return 0;
  }
  if (command == "advance" || command == "status") {
    std::vector<std::uint32_t> numbers;
    if (!jobArgs(3, numbers)) return Usage(command + " needs a printer, a job id and a number");
    if (command == "advance") {
      spooler.AdvancePages(latin1(rest[0]), numbers[0], numbers[1]);
    } else {
      spooler.SetStatus(latin1(rest[0]), numbers[0], numbers[1]);
    }
    return 0;
  }
  if (command == "complete" || command == "cancel") {
    std::vector<std::uint32_t> numbers;
    if (!jobArgs(2, numbers)) return Usage(command + " needs a printer and a job id");
    if (command == "complete") {
      spooler.Complete(latin1(rest[0]), numbers[0]);
    } else {
      spooler.Cancel(latin1(rest[0]), numbers[0]);
    }
    return 0;
  }
  if (command == "jobs") {
    if (rest.size() != 1) return Usage("jobs needs a printer");
    std::cout << "id\tstatus\tpages\tprinted\tsubmitted (UTC)\tuser\tdocument\n";
    for (const auto& job : spooler.Jobs(latin1(rest[0]))) {
      std::cout << job.jobId << "\t0x" << std::hex << std::setw(4) << std::setfill('0') << job.status
                << std::dec << std::setfill(' ') << "\t" << job.totalPages << "\t" << job.pagesPrinted << "\t"
                << ShowTime(job.submitted) << "\t" << Show(job.userName) << "\t" << Show(job.document)
                << "\n";
    }
    return 0;
  }
  return Usage("unknown command " + command);
}

}  // namespace

int main(int argc, char** argv) {
  platform::SetLogIdentity("quillmark-sim");
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const platform::SpoolerError& e) {
    std::cerr << "quillmark-sim: " << e.what() << " (error " << e.code() << ")\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "quillmark-sim: " << e.what() << "\n";
    return 1;
  }
}
