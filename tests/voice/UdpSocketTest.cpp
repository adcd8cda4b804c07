#include "voice/engine/UdpSocket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <array>
#include <cstdint>

namespace talvora::voice {
namespace {

constexpr std::uint32_t ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return (std::uint32_t(a) << 24) | (std::uint32_t(b) << 16) | (std::uint32_t(c) << 8) | d;
}

// A phone bound to every address sends its voice from the address the call came to; without
// one the routing table chooses (127.0.0.1 on loopback).
TEST(UdpSocket, VoiceLeavesFromTheSourceAddressGiven) {
    const struct {
        std::uint32_t source;
        std::uint32_t seen;
    } cases[] = {
        {0, ip(127, 0, 0, 1)}, {ip(127, 0, 0, 5), ip(127, 0, 0, 5)}, {ip(127, 0, 0, 6), ip(127, 0, 0, 6)}};
    auto sender = UdpSocket::bind(0, 0);
    auto receiver = UdpSocket::bind(ip(127, 0, 0, 7), 0);
    ASSERT_TRUE(sender && receiver);
    for (const auto& c : cases) {
        const std::array<std::uint8_t, 3> packet{1, 2, 3};
        ASSERT_TRUE(sender->sendTo(packet, ip(127, 0, 0, 7), receiver->localPort(), c.source));
        std::array<std::uint8_t, 16> buffer{};
        const auto got = receiver->receive(buffer, 2000);
        ASSERT_TRUE(got.arrived);
        EXPECT_EQ(got.bytes, 3u);
        EXPECT_EQ(got.address, c.seen);
    }
}

} // namespace
} // namespace talvora::voice
