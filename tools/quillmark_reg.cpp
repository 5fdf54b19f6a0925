// quillmark-reg: query, add and delete registry values from the command
// line, in the manner of reg.exe.
//
//   quillmark-reg query  KEY [/v NAME] [/scramble]
//   quillmark-reg add    KEY /v NAME /t REG_DWORD|REG_SZ /d DATA [/f] [/scramble]
//   quillmark-reg delete KEY [/v NAME] [/f]
//
// KEY is written as HKLM\Software\Quillmark (or HKEY_LOCAL_MACHINE\..., HKCU\...).
// /scramble stores a REG_SZ text scrambled, as the mail settings are kept,
// and shows REG_SZ texts descrambled.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "common/latin1.h"
#include "common/scramble.h"
#include "platform/log.h"
#include "platform/registry.h"
#include "platform/terminal.h"

namespace {

using platform::Hive;
using platform::RegType;

int Fail(const std::string& message) {
  std::cerr << "ERROR: " << message << "\n";
  return 1;
}

int Usage(const std::string& message) {
  std::cerr << "ERROR: " << message << "\n"
            << "Usage:\n"
            << "  quillmark-reg query  KEY [/v NAME] [/scramble]\n"
            << "  quillmark-reg add    KEY /v NAME /t REG_DWORD|REG_SZ /d DATA [/f] [/scramble]\n"
            << "  quillmark-reg delete KEY [/v NAME] [/f]\n"
            << "KEY is HKLM\\Software\\Quillmark or another key below HKLM or HKCU.\n"
            << "/scramble: add stores the REG_SZ text scrambled (the form of the mail\n"
            << "settings and recipients); query shows REG_SZ texts descrambled.\n";
  return 2;
}

bool SplitKey(const std::string& key, Hive& hive, std::string& path, std::string& hiveName) {
  std::string upper;
  size_t slash = key.find('\\');
  std::string root = key.substr(0, slash);
  for (char c : root) upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  if (upper == "HKLM" || upper == "HKEY_LOCAL_MACHINE") {
    hive = Hive::kLocalMachine;
    hiveName = "HKEY_LOCAL_MACHINE";
  } else if (upper == "HKCU" || upper == "HKEY_CURRENT_USER") {
    hive = Hive::kCurrentUser;
    hiveName = "HKEY_CURRENT_USER";
  } else {
    return false;
  }
  path = slash == std::string::npos ? std::string{} : key.substr(slash + 1);
  return true;
}

bool Confirm(const std::string& question) {
  if (!platform::StandardInputIsTerminal()) return false;
  std::cout << question << " (Yes/No)? " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

std::string TypeName(RegType type) {
  switch (type) {
    case RegType::kSz: return "REG_SZ";
    case RegType::kDword: return "REG_DWORD";
    case RegType::kBinary: return "REG_BINARY";
    default: return "REG_NONE";
  }
}

std::string FormatData(const platform::RegValueInfo& v, bool descramble) {
  if (v.type == RegType::kDword && v.data.size() == 4) {
    std::uint32_t n = 0;
    for (int i = 0; i < 4; ++i)
      n |= static_cast<std::uint32_t>(static_cast<unsigned char>(v.data[i])) << (8 * i);
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", n);
    return buf;
  }
  if (v.type == RegType::kSz) {
    std::string text = v.data.substr(0, v.data.find('\0'));
    return common::Latin1ToUtf8(descramble ? common::Descramble(text) : text);
  }
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : v.data) {
    out.push_back(hex[c >> 4]);
    out.push_back(hex[c & 15]);
  }
  return out;
}

void PrintValue(const platform::RegValueInfo& v, bool descramble) {
  std::cout << "    " << (v.name.empty() ? "(Default)" : common::Latin1ToUtf8(v.name)) << "    "
            << TypeName(v.type) << "    " << FormatData(v, descramble) << "\n";
}

struct Args {
  std::string command, key;
  std::optional<std::string> name, type, data;
  bool force = false;
  bool scramble = false;
};

}  // namespace

int main(int argc, char** argv) {
  platform::SetLogIdentity("quillmark-reg");
  if (argc < 3) return Usage("too few arguments");
  Args args;
  args.command = argv[1];
  for (char& c : args.command) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  args.key = argv[2];
  for (int i = 3; i < argc; ++i) {
    std::string opt = argv[i];
    std::string lower;
    for (char c : opt) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    auto next = [&](std::optional<std::string>& into) {
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    if (lower == "/v" || lower == "-v") {
      if (!next(args.name)) return Usage("/v needs a value name");
    } else if (lower == "/ve") {
      args.name = "";
    } else if (lower == "/t" || lower == "-t") {
      if (!next(args.type)) return Usage("/t needs a type");
    } else if (lower == "/d" || lower == "-d") {
      if (!next(args.data)) return Usage("/d needs data");
    } else if (lower == "/f" || lower == "-f") {
      args.force = true;
    } else if (lower == "/scramble" || lower == "-scramble") {
      args.scramble = true;
    } else {
      return Usage("invalid argument \"" + opt + "\"");
    }
  }

  Hive hive;
  std::string path, hiveName;
  if (!SplitKey(args.key, hive, path, hiveName)) return Usage("invalid key name \"" + args.key + "\"");
  std::string keyLatin1 = common::Utf8ToLatin1(path);
  std::optional<std::string> name;
  if (args.name) name = common::Utf8ToLatin1(*args.name);
  auto& registry = platform::Registry::Default();

  if (args.command == "query") {
    if (args.type || args.data || args.force) return Usage("query takes only KEY, /v NAME and /scramble");
    auto key = registry.OpenKey(hive, keyLatin1, platform::kKeyRead);
    if (!key) return Fail("The system was unable to find the specified registry key or value.");
    std::cout << "\n" << hiveName << (path.empty() ? "" : "\\" + path) << "\n";
    bool found = false;
    auto values = (*key)->Values();
    std::sort(values.begin(), values.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    for (const auto& v : values) {
      if (name) {
        std::string a = v.name, b = *name;
        for (char& c : a) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (char& c : b) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (a != b) continue;
      }
      PrintValue(v, args.scramble);
      found = true;
    }
    if (!name) {
      for (const auto& sub : (*key)->SubKeys())
        std::cout << "\n" << hiveName << "\\" << path << "\\" << sub << "\n";
    } else if (!found) {
      return Fail("The system was unable to find the specified registry key or value.");
    }
    std::cout << "\n";
    return 0;
  }

  if (args.command == "add") {
    if (!name) return Usage("add needs /v NAME");
    std::string type = args.type.value_or("REG_SZ");
    for (char& c : type) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string data = args.data.value_or("");
    std::string bytes;
    RegType regType;
    if (type == "REG_DWORD") {
      regType = RegType::kDword;
      if (args.scramble) return Usage("/scramble applies to REG_SZ texts only");
      if (data.empty()) return Usage("REG_DWORD needs /d with a number");
      std::size_t used = 0;
      unsigned long long number = 0;
      try {
        number = std::stoull(data, &used, 0);
      } catch (const std::exception&) {
        used = 0;
      }
      if (used != data.size() || data[0] == '-' || number > 0xFFFFFFFFull) {
        return Usage("invalid REG_DWORD data \"" + data + "\"");
      }
      for (int k = 0; k < 4; ++k) bytes.push_back(static_cast<char>((number >> (8 * k)) & 0xFF));
    } else if (type == "REG_SZ") {
      regType = RegType::kSz;
      bytes = common::Utf8ToLatin1(data);
      if (args.scramble) bytes = common::Scramble(bytes);
      bytes.push_back('\0');
    } else {
      return Usage("unsupported type \"" + type + "\" (use REG_DWORD or REG_SZ)");
    }
    auto key = registry.CreateKey(hive, keyLatin1, platform::kKeyWrite);
    if (!key) return Fail("cannot create the key (access denied?)");
    std::uint32_t size = 0;
    if (!args.force && (*key)->QueryValue(*name, nullptr, nullptr, &size) &&
        !Confirm("Value " + *args.name + " exists, overwrite")) {
      return Fail("value " + *args.name + " exists; use /f to overwrite it");
    }
    if (!(*key)->SetValue(*name, regType, bytes.data(), static_cast<std::uint32_t>(bytes.size()))) {
      return Fail("cannot write the value (access denied?)");
    }
    std::cout << "The operation completed successfully.\n";
    return 0;
  }

  if (args.command == "delete") {
    if (args.type || args.data || args.scramble) return Usage("delete takes only KEY, /v NAME and /f");
    if (name) {
      auto key = registry.OpenKey(hive, keyLatin1, platform::kKeyWrite);
      if (!key) return Fail("The system was unable to find the specified registry key or value.");
      if (!args.force && !Confirm("Delete the registry value " + *args.name))
        return Fail("not deleted; use /f");
      if (!(*key)->DeleteValue(*name)) {
        return Fail("The system was unable to find the specified registry key or value.");
      }
    } else {
      if (!args.force && !Confirm("Permanently delete the registry key " + args.key))
        return Fail("not deleted; use /f");
      if (!registry.DeleteKey(hive, keyLatin1)) {
        return Fail("The system was unable to find the specified registry key or value.");
      }
    }
    std::cout << "The operation completed successfully.\n";
    return 0;
  }

  return Usage("unknown command \"" + std::string(argv[1]) + "\"");
}
