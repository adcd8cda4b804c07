#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

class QObject;

namespace talvora {

// Resolves a peer address the way every datagram sender does, anew for every send: "LOCALHOST"
// in any letter case is 127.0.0.1, a dotted IPv4 address is used unchanged, any other name is
// looked up with the system resolver and its first IPv4 address is used. Failure raises an
// Error carrying the resolver's text.
QHostAddress resolveIPv4(const QString& host);

// What a lookup found: every IPv4 address of the name, first the one to use; or why nothing.
struct HostLookupResult {
    QList<QHostAddress> addresses;
    QString error; // the resolver's text when nothing was found
};

using HostLookupDone = std::function<void(const HostLookupResult&)>;

// Looks `host` up without blocking the calling thread: "LOCALHOST" and dotted IPv4 addresses
// answer at once (before this returns), any other name later from the event loop, on the
// thread of `context`; destroying `context` first cancels the answer.
void lookupHostIPv4(const QString& host, QObject* context, HostLookupDone done);

// The same as a replaceable seam, for code that tests drive with a name table of their own.
using HostLookup = std::function<void(const QString& host, QObject* context, HostLookupDone done)>;
// A second way to find a name that the system resolver does not know, such as a ".local" name
// answered by multicast DNS on a system without nss-mdns. The program sets it once at start,
// before any lookup runs; it may be called from any thread that resolves.
using HostLookupFallback = std::function<std::optional<QHostAddress>(const QString& host)>;
void setHostLookupFallback(HostLookupFallback fallback);

} // namespace talvora
