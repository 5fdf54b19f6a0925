#include "mailer/dial_up_library.h"

namespace mail {

namespace {
// Built with the other static objects, before the program's start-up code.
CDialUpLibrary g_dialUp;
}  // namespace

CDialUpLibrary& CDialUpLibrary::Instance() { return g_dialUp; }

// Dial-up networking ("InternetGetConnectedState", "InternetAutodialHangup",
// "InternetAttemptConnect" of the Windows internet library) does not exist
// on POSIX systems, where the connection is always up as far as the mailer
// can tell: the three entry points stay absent.
CDialUpLibrary::CDialUpLibrary() = default;
CDialUpLibrary::~CDialUpLibrary() = default;

}  // namespace mail
