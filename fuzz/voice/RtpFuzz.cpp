// Feeds arbitrary bytes to the RTP parser as datagrams and what it accepts to a jitter buffer,
// as the network thread does. The input is split into datagrams by a length byte; the parser
// must never read outside a datagram, and the buffer must hold whatever order, duplication or
// sequence jumps the datagrams carry.
#include "voice/engine/JitterBuffer.h"
#include "voice/engine/Rtp.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

using namespace talvora::voice;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Each datagram in its own exactly-sized heap block, so ASan sees any read past its end.
    auto buffer = std::make_unique<JitterBuffer>();
    std::array<std::uint8_t, kMaxOpusPacketBytes> out{};
    std::int64_t nowMs = 0;
    std::size_t at = 0;
    while (at < size) {
        std::size_t length = data[at++];
        if (length == 255 && at + 2 <= size) { // long datagrams: a 16-bit length follows
            length = (std::size_t{data[at]} << 8) | data[at + 1];
            at += 2;
        }
        length = std::min(length, size - at);
        auto datagram = std::make_unique<std::uint8_t[]>(length);
        std::memcpy(datagram.get(), data + at, length);
        at += length;

        RtpParseError why = RtpParseError::None;
        const auto packet = parseRtpPacket({datagram.get(), length}, kOpusPayloadType, &why);
        if (packet) {
            if (packet->payload.empty() || packet->payload.size() > kMaxOpusPacketBytes ||
                packet->payload.data() < datagram.get() ||
                packet->payload.data() + packet->payload.size() > datagram.get() + length) {
                __builtin_trap();
            }
            buffer->put(packet->header.sequence, packet->payload, nowMs);
        }
        // The clock moves by what the packet's marker and timestamp say, so the fuzzer steers
        // arrival times as well.
        nowMs += packet ? (packet->header.timestamp & 0x3F) : 7;
        const auto frame = buffer->get(nowMs, out);
        if (frame.bytes > out.size()) {
            __builtin_trap();
        }
    }
    return 0;
}
