#pragma once

#include <string>
#include <vector>

// The printers installed on this machine, local ones and connections, as
// the print spooler lists them when the object is built. A spooler that
// cannot be asked raises common::EPrinter with its error code and
// "Couldn't read the information about printers".
class CPrinterList {
 public:
  CPrinterList();

  int Count() const { return static_cast<int>(names_.size()); }
  const std::string& Name(int i) const { return names_.at(static_cast<std::size_t>(i)); }

 private:
  std::vector<std::string> names_;
};

inline constexpr const char* kCannotReadPrinters = "Couldn't read the information about printers";
