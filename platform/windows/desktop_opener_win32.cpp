#include "platform/windows/win32.h"  // first: before any other system header

#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/desktop.h"
#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"

namespace platform {
namespace {

// One argument as the C runtime of the started program splits its command
// line: quoted, with backslashes doubled before a quote and at the end.
void AppendQuoted(std::wstring& line, const std::wstring& argument) {
  line.push_back(L'"');
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      line.append(backslashes * 2 + 1, L'\\');
    } else {
      line.append(backslashes, L'\\');
    }
    backslashes = 0;
    line.push_back(c);
  }
  line.append(backslashes * 2, L'\\');
  line.push_back(L'"');
}

// Runs `program target`, found on PATH, detached: no console window, and
// nothing of the child is kept.
class ProgramOpener final : public DesktopOpener {
 public:
  explicit ProgramOpener(std::string program) : program_(std::move(program)) {}

  Status Open(const std::string& target) override {
    std::wstring line;
    AppendQuoted(line, windows::WideFromLatin1(program_));
    line.push_back(L' ');
    AppendQuoted(line, windows::WideFromLatin1(target));
    std::vector<wchar_t> writable(line.begin(), line.end());
    writable.push_back(L'\0');

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE,
                          DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup,
                          &started)) {
      return Status::LastError("start " + program_);
    }
    const windows::UniqueHandle process(started.hProcess);
    const windows::UniqueHandle thread(started.hThread);
    return Status::Ok();
  }

 private:
  std::string program_;
};

// COM for the calling thread while the shell opens something: shell
// extensions that handle the target may need it.
class ComForThisThread {
 public:
  ComForThisThread()
      : initialized_(
            SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
  ~ComForThisThread() {
    if (initialized_) ::CoUninitialize();
  }
  ComForThisThread(const ComForThisThread&) = delete;
  ComForThisThread& operator=(const ComForThisThread&) = delete;

 private:
  bool initialized_;
};

// The shell's own choice for the target: the default browser for a URL,
// the registered program for a file.
class ShellOpener final : public DesktopOpener {
 public:
  Status Open(const std::string& target) override {
    const ComForThisThread com;
    const HINSTANCE result = ::ShellExecuteW(nullptr, L"open", windows::WideFromLatin1(target).c_str(),
                                             nullptr, nullptr, SW_SHOWNORMAL);
    // Values above 32 mean success; the others are error numbers.
    const INT_PTR code = reinterpret_cast<INT_PTR>(result);
    if (code > 32) return Status::Ok();
    return Status::FromSystem(static_cast<int>(code), "open " + target + " with the shell");
  }
};

}  // namespace

std::unique_ptr<DesktopOpener> MakeProgramOpener(std::string program) {
  return std::make_unique<ProgramOpener>(std::move(program));
}

std::unique_ptr<DesktopOpener> MakeSystemOpener() { return std::make_unique<ShellOpener>(); }

}  // namespace platform
