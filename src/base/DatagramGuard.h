#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace talvora {

// What stands between a medium's datagrams and the network during a private call: it seals what
// goes out and opens what comes in, or holds everything while the call's keys are not agreed.
// The sending and receiving threads of pictures and voice use it for every datagram, and may be
// real-time threads: implementations neither allocate nor lock.
class DatagramGuard {
public:
    // What sealing adds to a datagram at most: buffers for sealed datagrams have this much more.
    static constexpr std::size_t kMaxOverheadBytes = 32;

    virtual ~DatagramGuard() = default;

    // The largest plain datagram that can go out now.
    virtual std::size_t maxPlainBytes() const = 0;
    // Sending thread: the bytes to send for `plain` (`plain` itself, or the sealed datagram in
    // `out`, which needs plain.size() + kMaxOverheadBytes), or nothing when it must not go out.
    virtual std::optional<std::span<const std::uint8_t>> seal(std::span<const std::uint8_t> plain,
                                                              std::span<std::uint8_t> out) = 0;
    // Receiving thread: the plain datagram (`datagram` itself, or opened into `out`, which needs
    // datagram.size() bytes), or nothing when it is dropped.
    virtual std::optional<std::span<const std::uint8_t>> open(std::span<const std::uint8_t> datagram,
                                                              std::span<std::uint8_t> out) = 0;
};

// The guard of a call whose privacy is not known yet: it holds every datagram, both ways, until
// the call's own guard is attached, and then hands every datagram to it. A call's media may
// start before the phones have even said hello; nothing of it leaves or enters unguarded.
// attach() runs once, on the thread that owns the call; the media threads may use the guard
// meanwhile.
class PendingGuard final : public DatagramGuard {
public:
    explicit PendingGuard(std::size_t maxPlainBytes) : m_maxPlainBytes(maxPlainBytes) {}

    // Only the first call counts: the call's guard never changes once it is known.
    void attach(std::shared_ptr<DatagramGuard> guard) {
        if (m_guard || !guard) {
            return;
        }
        m_guard = std::move(guard);
        m_current.store(m_guard.get(), std::memory_order_release);
    }
    bool attached() const { return m_current.load(std::memory_order_acquire) != nullptr; }

    std::size_t maxPlainBytes() const override {
        const DatagramGuard* guard = m_current.load(std::memory_order_acquire);
        return guard != nullptr ? guard->maxPlainBytes() : m_maxPlainBytes;
    }
    std::optional<std::span<const std::uint8_t>> seal(std::span<const std::uint8_t> plain,
                                                      std::span<std::uint8_t> out) override {
        DatagramGuard* guard = m_current.load(std::memory_order_acquire);
        return guard != nullptr ? guard->seal(plain, out) : std::nullopt;
    }
    std::optional<std::span<const std::uint8_t>> open(std::span<const std::uint8_t> datagram,
                                                      std::span<std::uint8_t> out) override {
        DatagramGuard* guard = m_current.load(std::memory_order_acquire);
        return guard != nullptr ? guard->open(datagram, out) : std::nullopt;
    }

private:
    std::size_t m_maxPlainBytes;
    std::shared_ptr<DatagramGuard> m_guard; // set once, before m_current is published
    std::atomic<DatagramGuard*> m_current{nullptr};
};

} // namespace talvora
