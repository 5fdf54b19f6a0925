// Postrider takes no arguments: everything comes from the registry, and
// the exit status says whether the server accepted the message. It prints
// nothing on success and one diagnostic line on standard error otherwise.
#include <cstdio>

#include "mailer/postrider.h"
#include "platform/log.h"

int main() {
  platform::SetLogIdentity("Postrider");
  return mail::RunPostrider(stderr);
}
