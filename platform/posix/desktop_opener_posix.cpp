#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "platform/desktop.h"

namespace platform {
namespace {

// Runs the program as a grandchild so that it is adopted by init and never
// becomes a zombie of ours; a close-on-exec pipe tells whether exec worked.
class ProgramOpener final : public DesktopOpener {
 public:
  explicit ProgramOpener(std::string program) : program_(std::move(program)) {}

  Status Open(const std::string& target) override {
    // Everything the children need is prepared before forking.
    std::string program = program_;
    std::string argument = target;
    char* argv[] = {program.data(), argument.data(), nullptr};

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return Status::LastError("start " + program_ + ": pipe");

    pid_t child = ::fork();
    if (child < 0) {
      const Status failed = Status::LastError("start " + program_ + ": fork");
      ::close(fds[0]);
      ::close(fds[1]);
      return failed;
    }
    if (child == 0) {
      ::close(fds[0]);
      ::setsid();
      pid_t grandchild = ::fork();
      if (grandchild == 0) {
        int nul = ::open("/dev/null", O_RDONLY);
        if (nul >= 0) {
          ::dup2(nul, STDIN_FILENO);
          if (nul != STDIN_FILENO) ::close(nul);
        }
        ::execvp(argv[0], argv);
        int error = errno;
        ssize_t ignored = ::write(fds[1], &error, sizeof error);
        (void)ignored;
        ::_exit(127);
      }
      if (grandchild < 0) {
        int error = errno;
        ssize_t ignored = ::write(fds[1], &error, sizeof error);
        (void)ignored;
      }
      ::_exit(0);
    }

    ::close(fds[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // End of file without data: the program was started (exec closed the
    // pipe). An error number: it could not be.
    int error = 0;
    ssize_t n;
    do {
      n = ::read(fds[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    ::close(fds[0]);
    if (n == 0) return Status::Ok();
    if (n == static_cast<ssize_t>(sizeof error)) return Status::FromSystem(error, "start " + program_);
    return Status(StatusCode::kIoError, "start " + program_);
  }

 private:
  std::string program_;
};

}  // namespace

std::unique_ptr<DesktopOpener> MakeProgramOpener(std::string program) {
  return std::make_unique<ProgramOpener>(std::move(program));
}

std::unique_ptr<DesktopOpener> MakeSystemOpener() { return MakeProgramOpener("xdg-open"); }

}  // namespace platform
