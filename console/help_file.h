#pragma once

// The help file: HTML pages in the "help" folder of the application folder,
// shown by the desktop's browser. One page holds the navigation with its
// three panes (contents, index, search) beside the topic.

#include <string>
#include <string_view>

enum class HelpCommand {
  kContents = 1,
  kIndex = 2,
  kSearch = 3,
};

// The help file's path below the application folder.
std::string HelpFilePath(const std::string& appPath);

// The address that opens the help on the pane of `command` with the first
// topic; for Search the query (Latin-1) is searched at once, an empty query
// opens the pane with nothing searched.
std::string HelpUrl(const std::string& appPath, HelpCommand command, std::string_view query);

inline constexpr const char* kHelpFirstTopic = "1_0_Introduction.htm";
