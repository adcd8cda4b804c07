#pragma once

#include <QHostAddress>
#include <QString>

#include <optional>

namespace talvora {

// Looks up the IPv4 address of a ".local" host name through the Avahi daemon, for systems whose
// resolver has no multicast DNS (no nss-mdns). It waits at most `timeoutMs` on its own private
// Avahi client and event loop, so it may run on any thread and never runs other handlers
// meanwhile. Nothing for other names, without a daemon, or when no answer came in time.
std::optional<QHostAddress> resolveMdnsIPv4(const QString& host, int timeoutMs = 1500);

} // namespace talvora
