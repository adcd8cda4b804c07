#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

class QObject;

namespace talvora {

// "LOCALHOST" in any letter case is 127.0.0.1, and a dotted IPv4 address is itself: addresses
// that need no resolver. Empty for anything else.
std::optional<QHostAddress> literalIPv4(const QString& host);

// Resolves a peer address: a literal one (above) unchanged, any other name with the system
// resolver, whose first IPv4 address is used. Failure raises an Error carrying the resolver's
// text. A name blocks the calling thread while the resolver works: never on the main thread.
QHostAddress resolveIPv4(const QString& host);

// What a lookup found: every IPv4 address of the name, first the one to use; or why nothing.
struct HostLookupResult {
    QList<QHostAddress> addresses;
    QString error; // the resolver's text when nothing was found
};

using HostLookupDone = std::function<void(const HostLookupResult&)>;

// A second way to find a name that the system resolver does not know, such as a ".local" name
// answered by multicast DNS on a system without nss-mdns. It may block: it runs on a worker
// thread.
using HostLookupFallback = std::function<std::optional<QHostAddress>(const QString& host)>;

// Looks `host` up without blocking the calling thread: "LOCALHOST" and dotted IPv4 addresses
// answer at once (before this returns), any other name later from the event loop, on the
// thread of `context` (which must have an event loop); destroying `context` first cancels the
// answer. A name the system resolver does not know is tried with `fallback`.
void lookupHostIPv4(const QString& host, QObject* context, HostLookupDone done,
                    HostLookupFallback fallback = {});

// The same as a replaceable seam, for code that tests drive with a name table of their own.
using HostLookup = std::function<void(const QString& host, QObject* context, HostLookupDone done)>;

} // namespace talvora
