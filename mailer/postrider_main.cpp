// Postrider takes no arguments and prints nothing: everything comes from
// the registry, and the exit status says whether the server accepted the
// message.
#include "mailer/postrider.h"

int main() { return mail::RunPostrider(); }
