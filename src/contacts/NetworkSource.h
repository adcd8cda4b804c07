#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace talvora {

// The values of a network resource entry that the discovery uses.
inline constexpr int kResourceTypeDisk = 1;
inline constexpr int kDisplayTypeGeneric = 0;
inline constexpr int kDisplayTypeDomain = 1;
inline constexpr int kDisplayTypeServer = 2;
inline constexpr int kUsageContainer = 2;

// One entry of the network neighbourhood: a server (display type 2) has the remote name "\\" plus
// its host name; an entry with the container bit in `usage` holds further entries.
struct NetworkResource {
    int displayType = kDisplayTypeGeneric;
    int usage = 0;
    QString remoteName;
    QString comment;
    QString provider;

    bool isContainer() const { return (usage & kUsageContainer) != 0; }
    friend bool operator==(const NetworkResource&, const NetworkResource&) = default;
};

// Where the discovery learns what the network holds. Finding out takes time and is event driven:
// `refresh` gathers a snapshot and calls `ready` on the main thread once it is complete (or its
// time bound has passed); the walk then reads the snapshot's containers one at a time. Tests use
// an in-memory source; the phone uses DNS-SD through Avahi.
class NetworkSource {
public:
    virtual ~NetworkSource() = default;

    // Starts a new snapshot; a refresh still running is abandoned and its `ready` never runs.
    // `ready` may run before this returns.
    virtual void refresh(std::function<void()> ready) = 0;
    // Abandons a running refresh; its `ready` never runs.
    virtual void cancel() = 0;
    // The entries of one container of the last snapshot, `container` null for the root of the
    // network; nothing when the container cannot be read.
    virtual std::optional<QList<NetworkResource>> readContainer(int resourceType,
                                                                const NetworkResource* container) = 0;
};

} // namespace talvora
