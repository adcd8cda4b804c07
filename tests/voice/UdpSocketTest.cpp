#include "voice/engine/UdpSocket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

// Voice is marked Expedited Forwarding on the wire: the receiving kernel reports the TOS byte of
// each datagram (IP_RECVTOS), as tcpdump -v shows it ("tos 0xb8").
TEST(UdpSocket, VoiceIsMarkedExpeditedForwarding) {
    auto sender = UdpSocket::bind(0, 0);
    auto receiver = UdpSocket::bind(ip(127, 0, 0, 8), 0);
    ASSERT_TRUE(sender && receiver);
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0), on = 1;
    sockaddr_in local{AF_INET, 0, {htonl(ip(127, 0, 0, 9))}, {}};
    socklen_t length = sizeof local;
    ASSERT_EQ(::setsockopt(fd, IPPROTO_IP, IP_RECVTOS, &on, sizeof on), 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    const std::array<std::uint8_t, 3> packet{1, 2, 3};
    ASSERT_TRUE(sender->sendTo(packet, ip(127, 0, 0, 9), ntohs(local.sin_port)));
    std::array<std::uint8_t, 16> data{};
    std::array<char, 64> control{};
    iovec iov{data.data(), data.size()};
    msghdr message{nullptr, 0, &iov, 1, control.data(), control.size(), 0};
    ASSERT_EQ(::recvmsg(fd, &message, 0), 3);
    ::close(fd);
    const cmsghdr* c = CMSG_FIRSTHDR(&message);
    ASSERT_TRUE(c != nullptr && c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TOS);
    EXPECT_EQ(*CMSG_DATA(c), 0xb8);
}

} // namespace
} // namespace talvora::voice
