#include "transport/ReassemblyBudget.h"

#include "transport/DatagramSink.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace talvora {

namespace {

constexpr qsizetype kUdpHeaderBytes = 8;

// Memory one picture of `fragments` packets leaves behind on average: the fragments that
// arrived of an incomplete picture (n(1-l) expected in all, n(1-l)^n of them in complete
// pictures), and a queue for each picture of which some but not all arrived.
double heldBytesPerPicture(double loss, int fragments, const ReassemblyLimits& limits) {
    if (fragments <= 1 || loss <= 0)
        return 0;
    const double n = fragments;
    const double kept = std::pow(1 - loss, n);
    const double strandedFragments = n * (1 - loss) - n * kept;
    const double strandedQueues = 1 - kept - std::pow(loss, n);
    return limits.fragmentTruesize * strandedFragments + limits.queueBytes * strandedQueues;
}

} // namespace

int fragmentsOf(qsizetype payloadBytes, const ReassemblyLimits& limits) {
    const qsizetype ip = std::max<qsizetype>(payloadBytes, 0) + kUdpHeaderBytes;
    return int(std::max<qsizetype>(1, (ip + limits.fragmentPayload - 1) / limits.fragmentPayload));
}

qsizetype payloadOf(int fragments, const ReassemblyLimits& limits) {
    return std::min(kMaxDatagramBytes,
                    qsizetype(std::max(fragments, 1)) * limits.fragmentPayload - kUdpHeaderBytes);
}

double heldByMissingPicture(int fragments, const ReassemblyLimits& limits) {
    if (fragments <= 1)
        return 0;
    return limits.fragmentTruesize * (fragments - 1) + limits.queueBytes;
}

double incompleteChance(double loss, int fragments) {
    loss = std::clamp(loss, 0.0, 1.0);
    return 1 - std::pow(1 - loss, std::max(fragments, 1));
}

double reassemblyBytes(double loss, double picturesPerSecond, qsizetype payloadBytes,
                       const ReassemblyLimits& limits) {
    loss = std::clamp(loss, 0.0, 1.0);
    return std::max(picturesPerSecond, 0.0) * limits.holdSeconds *
           heldBytesPerPicture(loss, fragmentsOf(payloadBytes, limits), limits);
}

qsizetype pictureCeiling(double loss, double picturesPerSecond, double bytes,
                         const ReassemblyLimits& limits) {
    // The memory grows with the packets a picture takes: the first count that fits, from the top.
    for (int n = fragmentsOf(kMaxDatagramBytes, limits); n > 1; --n) {
        const qsizetype payload = payloadOf(n, limits);
        if (reassemblyBytes(loss, picturesPerSecond, payload, limits) <= bytes)
            return payload;
    }
    return payloadOf(1, limits);
}

qsizetype pictureCeiling(double loss, double picturesPerSecond, const ReassemblyLimits& limits) {
    return pictureCeiling(loss, picturesPerSecond, limits.memoryBytes, limits);
}

double pictureRateLimit(double loss, qsizetype payloadBytes, double bytes, const ReassemblyLimits& limits) {
    const double perPicture =
        limits.holdSeconds *
        heldBytesPerPicture(std::clamp(loss, 0.0, 1.0), fragmentsOf(payloadBytes, limits), limits);
    if (perPicture <= 0)
        return std::numeric_limits<double>::infinity();
    return std::max(bytes, 0.0) / perPicture;
}

double strandedBytes(double loss, int fragments, const ReassemblyLimits& limits) {
    return heldBytesPerPicture(std::clamp(loss, 0.0, 1.0), fragments, limits);
}

} // namespace talvora
