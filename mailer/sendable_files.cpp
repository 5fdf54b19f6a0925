#include "mailer/sendable_files.h"

#include <cstdio>
#include <string>
#include <vector>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/text_file.h"
#include "platform/anchored_folder.h"
#include "platform/file_system.h"

namespace mail {
namespace {

// The pieces of a "," or ";" separated list, white space trimmed, empty
// pieces dropped (as the message takes them).
std::vector<std::string> Pieces(const std::string& list) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find_first_of(",;", start);
    if (end == std::string::npos) end = list.size();
    std::string piece = list.substr(start, end - start);
    const auto first = piece.find_first_not_of(" \t\r\n");
    const auto last = piece.find_last_not_of(" \t\r\n");
    if (first != std::string::npos) out.push_back(piece.substr(first, last - first + 1));
    start = end + 1;
  }
  return out;
}

}  // namespace

bool HoldToLogsFolder(PostriderSettings& settings) {
  const std::vector<std::string> files = Pieces(settings.files);
  if (files.empty()) return true;
  // Stored texts are Latin-1; the folder walk takes the system's names.
  const std::string dataFolder =
      platform::NativePath(common::NativePath(CRegString(common::QuillmarkValue("AppPath")).Get()));
  std::vector<std::string> paths;
  for (const auto& file : files) paths.push_back(platform::NativePath(common::NativePath(file)));
  const auto relative = platform::EnterFolderHolding(dataFolder, "Logs", paths);
  if (!relative) {
    std::fprintf(
        stderr,
        "Postrider: error 514: not sent: \"%s\" is not a regular file inside the data folder's Logs\n",
        settings.files.c_str());
    return false;
  }
  std::string list;
  for (const auto& name : *relative) {
    // Back to stored text: the file layer makes the system's name again.
    const std::optional<std::string> text = platform::NameFromNative(name);
    list += (list.empty() ? "" : ";") + text.value_or(name);
  }
  settings.files = list;
  return true;
}

}  // namespace mail
