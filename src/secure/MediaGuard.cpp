#include "secure/MediaGuard.h"

namespace talvora {

MediaGuard::MediaGuard(SealedMedium medium) : m_medium(medium) {}

bool MediaGuard::decidePlain() {
    if (m_decided.exchange(true)) {
        return false;
    }
    m_mode.store(Mode::Plain, std::memory_order_release);
    return true;
}

bool MediaGuard::decideSealed(AeadCipher cipher, SecretKey sendKey, SecretKey receiveKey) {
    if (m_decided.exchange(true)) {
        return false;
    }
    m_sealer.emplace(m_medium, cipher, std::move(sendKey));
    m_opener.emplace(m_medium, cipher, std::move(receiveKey));
    m_mode.store(Mode::Sealed, std::memory_order_release);
    return true;
}

std::size_t MediaGuard::maxPlainBytes() const {
    if (mode() == Mode::Plain) {
        return m_medium == SealedMedium::Picture ? kMaxUdpPayloadBytes : kMaxSealedVoicePlainBytes;
    }
    return talvora::maxPlainBytes(m_medium);
}

MediaGuard::Outgoing MediaGuard::outgoing(std::span<const std::uint8_t> plain, std::span<std::uint8_t> out) {
    switch (mode()) {
    case Mode::Hold:
        bump(m_counters.heldOut);
        return {Sent::Held, {}};
    case Mode::Plain:
        bump(m_counters.sentPlain);
        return {Sent::Plain, plain};
    case Mode::Sealed:
        break;
    }
    const SealResult sealed = m_sealer->seal(plain, out);
    switch (sealed.status) {
    case SealStatus::Sealed:
        bump(m_counters.sentSealed);
        return {Sent::Sealed, out.first(sealed.bytes)};
    case SealStatus::TooLarge:
        bump(m_counters.tooLarge);
        return {Sent::TooLarge, {}};
    case SealStatus::Empty:
    case SealStatus::NoRoom:
    case SealStatus::Exhausted:
        break;
    }
    bump(m_counters.sealFailed);
    return {Sent::Failed, {}};
}

std::optional<std::span<const std::uint8_t>> MediaGuard::incoming(std::span<const std::uint8_t> datagram,
                                                                  std::span<std::uint8_t> out) {
    switch (mode()) {
    case Mode::Hold:
        bump(m_counters.heldIn);
        return std::nullopt;
    case Mode::Plain:
        bump(m_counters.passedPlain);
        return datagram;
    case Mode::Sealed:
        break;
    }
    const OpenResult opened = m_opener->open(datagram, out);
    switch (opened.status) {
    case OpenStatus::Opened:
        bump(m_counters.opened);
        return std::span<const std::uint8_t>(out.first(opened.bytes));
    case OpenStatus::Forged:
        bump(m_counters.forged);
        return std::nullopt;
    case OpenStatus::Replayed:
    case OpenStatus::TooOld:
        bump(m_counters.replayed);
        return std::nullopt;
    case OpenStatus::Short:
    case OpenStatus::NotSealed:
    case OpenStatus::TooLarge:
    case OpenStatus::NoRoom:
        break;
    }
    bump(m_counters.malformed);
    return std::nullopt;
}

MediaGuard::Counters MediaGuard::counters() const {
    const auto get = [](const std::atomic<std::uint64_t>& c) { return c.load(std::memory_order_relaxed); };
    const AtomicCounters& c = m_counters;
    return {get(c.sentPlain),  get(c.sentSealed),  get(c.heldOut), get(c.tooLarge),
            get(c.sealFailed), get(c.passedPlain), get(c.opened),  get(c.heldIn),
            get(c.malformed),  get(c.forged),      get(c.replayed)};
}

} // namespace talvora
