#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

// Text files are written in text mode as on the system this was first built
// for: a line feed is stored as carriage return + line feed on every
// platform, and reading turns every CR LF back into a line feed.

namespace common {

// Line feeds to CR LF.
std::string ToTextMode(std::string_view text);
// CR LF pairs to line feeds.
std::string FromTextMode(std::string_view bytes);

// Paths inside the application folder are written with backslashes
// ("\\Logs\\Users"); this turns them into the native form.
std::string NativePath(std::string_view path);

}  // namespace common

// The whole content of a text file, or the empty text when the file does
// not exist or cannot be read (a file that exists but cannot be read is
// logged as a warning, once while it lasts).
std::string ReadTextFile(const std::string& path);

namespace common {

// Creates or truncates the file and writes the text in text mode.
platform::Status WriteTextFile(const std::string& path, std::string_view text);

// Appends the text in text mode with one write call on a file opened for
// appending (created when missing), so that concurrent appenders never
// interleave inside one record.
platform::Status AppendTextFile(const std::string& path, std::string_view text);

// The same, but a file that this call creates starts with `prefixWhenNew`
// (written in the same call).
platform::Status AppendTextFile(const std::string& path, std::string_view text,
                                std::string_view prefixWhenNew);

// Replaces the file as a whole: writes a temporary file beside it, flushes
// it and renames it over the old one, so that a reader or a crash never
// sees a truncated file.
platform::Status ReplaceTextFile(const std::string& path, std::string_view text);

}  // namespace common
