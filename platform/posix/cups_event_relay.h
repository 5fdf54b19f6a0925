#pragma once

// The scheduler's events handed to a waiting watcher, without the watcher
// asking for them: CUPS starts a notifier program, named by the scheme of
// a subscription's notify-recipient-uri, from its notifier folder and
// writes the subscription's events to its standard input. The notifier of
// the scheme "quillmark" (the program quillmark-cups-notifier, installed
// as <ServerBin>/notifier/quillmark) sends one datagram per batch it reads
// to the local socket the recipient names; the watcher that waits on that
// socket then fetches the events as usual. A datagram carries nothing but
// "look now", so one that comes from elsewhere costs one fetch, no more.
//
//   notify-recipient-uri   quillmark:<name>   (<name>: [A-Za-z0-9._-]+, an
//                                              abstract Unix socket)

#include <chrono>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace platform::cups {

inline constexpr std::string_view kRelayScheme = "quillmark";

// The socket name of a recipient URI of the scheme above; nothing when it
// is not one.
std::optional<std::string> RelaySocketName(std::string_view recipient);

// The notifier's work: reads standard input until it ends (the scheduler
// cancelled the subscription or stopped) and signals the socket after
// every read. Returns the exit status.
int RelayEvents(std::string_view recipient);

}  // namespace platform::cups
