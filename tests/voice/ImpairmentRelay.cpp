#include "ImpairmentRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <queue>
#include <random>
#include <stdexcept>
#include <vector>

namespace talvora::voice::test {

namespace {

using Clock = std::chrono::steady_clock;

struct Pending {
    Clock::time_point due;
    std::uint64_t order;
    std::uint32_t to;
    std::vector<std::uint8_t> data;
    bool operator>(const Pending& other) const {
        return due != other.due ? due > other.due : order > other.order;
    }
};

} // namespace

ImpairmentRelay::ImpairmentRelay(std::uint32_t relayAddress, std::uint32_t a, std::uint32_t b,
                                 std::uint16_t port, std::uint32_t seed)
    : m_a(a), m_b(b), m_port(port), m_seed(seed) {
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(relayAddress);
    local.sin_port = htons(port);
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
        throw std::runtime_error("relay cannot bind");
    }
    m_thread = std::thread([this] { run(); });
}

ImpairmentRelay::~ImpairmentRelay() {
    m_running = false;
    m_thread.join();
    ::close(m_fd);
}

void ImpairmentRelay::setImpairment(const Impairment& impairment) {
    m_lossRate = impairment.lossRate;
    m_baseDelayMs = impairment.baseDelayMs;
    m_jitterMs = impairment.jitterMs;
    m_duplicateRate = impairment.duplicateRate;
}

void ImpairmentRelay::run() {
    std::mt19937 rng(m_seed);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::priority_queue<Pending, std::vector<Pending>, std::greater<>> queue;
    std::uint64_t order = 0;
    int burstLeft = 0;
    std::vector<std::uint8_t> buffer(2048);
    while (m_running) {
        int timeoutMs = 20;
        if (!queue.empty()) {
            const auto wait =
                std::chrono::duration_cast<std::chrono::milliseconds>(queue.top().due - Clock::now());
            timeoutMs = std::max<int>(0, std::min<int>(20, static_cast<int>(wait.count())));
        }
        pollfd pfd{m_fd, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) > 0) {
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n = ::recvfrom(m_fd, buffer.data(), buffer.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &length);
            const std::uint32_t source = ntohl(from.sin_addr.s_addr);
            if (n > 0 && (source == m_a || source == m_b)) {
                const std::uint32_t to = source == m_a ? m_b : m_a;
                bool drop = false;
                if (burstLeft > 0) {
                    --burstLeft;
                    drop = true;
                } else if (chance(rng) < m_lossRate) {
                    drop = true;
                    burstLeft = chance(rng) < 0.5 ? 1 : 0; // half the loss events take two packets
                }
                if (drop) {
                    ++m_dropped;
                } else {
                    const int copies = chance(rng) < m_duplicateRate ? 2 : 1;
                    for (int c = 0; c < copies; ++c) {
                        const int jitter = m_jitterMs.load();
                        const int delay =
                            m_baseDelayMs +
                            (jitter > 0 ? std::uniform_int_distribution<int>(-jitter, jitter)(rng) : 0);
                        queue.push(Pending{Clock::now() + std::chrono::milliseconds(std::max(0, delay)),
                                           order++, to,
                                           std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + n)});
                    }
                }
            }
        }
        while (!queue.empty() && queue.top().due <= Clock::now()) {
            const Pending& p = queue.top();
            sockaddr_in peer{};
            peer.sin_family = AF_INET;
            peer.sin_addr.s_addr = htonl(p.to);
            peer.sin_port = htons(m_port);
            ::sendto(m_fd, p.data.data(), p.data.size(), 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
            ++m_forwarded;
            queue.pop();
        }
    }
}

} // namespace talvora::voice::test
