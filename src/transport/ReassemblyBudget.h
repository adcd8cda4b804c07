#pragma once

#include <QtGlobal>

namespace talvora {

// What incomplete pictures cost the peer's kernel. A picture is one UDP datagram; beyond one
// IP packet it leaves as fragments, and losing any fragment loses the picture. The receiving
// kernel keeps the fragments of every incomplete datagram for net.ipv4.ipfrag_time (30 s) in at
// most net.ipv4.ipfrag_high_thresh (4 MB) of reassembly memory per network namespace; once that
// is full it refuses every fragment, and no picture of more than one packet arrives until old
// ones expire. On a lossy path large pictures at a high rate fill it within seconds.
//
// The figures come from this kernel (6.18), measured through a veth pair with every datagram
// kept incomplete and /proc/net/sockstat's FRAG memory read: each fragment held costs 2,304
// bytes (its buffer's truesize, whatever its payload) and each incomplete datagram 200 bytes
// more. A Wi-Fi driver's buffers may be larger; only half of the 4 MB is spent, which leaves
// room for that and for the randomness of loss.
struct ReassemblyLimits {
    double thresholdBytes = 4.0 * 1024 * 1024; // ipfrag_high_thresh
    double memoryBytes = 2.0 * 1024 * 1024;    // what pictures may hold for good: half of it
    double holdSeconds = 30;                   // ipfrag_time
    double fragmentTruesize = 2304;
    double queueBytes = 200;
    // IP payload of one fragment on a 1,500-byte MTU (Ethernet and Wi-Fi): 1,500 less the
    // 20-byte IP header, a multiple of 8.
    int fragmentPayload = 1480;
};

// IP packets that carry one datagram of `payloadBytes` (the UDP header, 8 bytes, rides in
// the first).
int fragmentsOf(qsizetype payloadBytes, const ReassemblyLimits& limits = {});

// The largest payload that leaves in `fragments` packets.
qsizetype payloadOf(int fragments, const ReassemblyLimits& limits = {});

// The chance that a picture of `fragments` packets is incomplete when each packet is lost with
// the chance `loss`.
double incompleteChance(double loss, int fragments);

// Reassembly memory one picture of `fragments` packets holds on average while the kernel keeps
// it: the fragments that arrived of it, when some but not all did.
double strandedBytes(double loss, int fragments, const ReassemblyLimits& limits = {});

// Reassembly memory that incomplete pictures hold at the peer in the long run, for pictures of
// `payloadBytes` sent `picturesPerSecond` with packet loss `loss`: each picture holds the
// fragments that arrived of it for holdSeconds, unless all arrived (it is delivered) or none did.
double reassemblyBytes(double loss, double picturesPerSecond, qsizetype payloadBytes,
                       const ReassemblyLimits& limits = {});

// What one picture of `fragments` packets that the peer reports missing holds there until the
// kernel gives it up: all its fragments but the one lost, and its queue. (A picture lost whole
// holds nothing, so this errs on the safe side.)
double heldByMissingPicture(int fragments, const ReassemblyLimits& limits = {});

// What the peer's reports tell of its reassembly memory: what our pictures that it reported
// missing hold there now, and how many of our pictures (counted from the call's first) its
// reports have accounted for. Those sent since are still to be judged by the loss estimate.
struct PeerHold {
    double bytes = 0;
    quint64 picturesCovered = 0;
    bool operator==(const PeerHold&) const = default;
};

// The largest picture (whole packets' worth, up to one datagram's 65,507 bytes) whose
// incomplete copies hold at most `bytes` in the long run at this loss and rate. One packet's
// worth at least: an unfragmented picture holds no reassembly memory, whatever the loss.
qsizetype pictureCeiling(double loss, double picturesPerSecond, double bytes,
                         const ReassemblyLimits& limits = {});
// The same within memoryBytes.
qsizetype pictureCeiling(double loss, double picturesPerSecond, const ReassemblyLimits& limits = {});

// The most pictures a second of `payloadBytes` whose incomplete copies hold at most `bytes` in
// the long run at this loss; infinity for a picture of one packet or no loss, 0 for no bytes.
double pictureRateLimit(double loss, qsizetype payloadBytes, double bytes,
                        const ReassemblyLimits& limits = {});

} // namespace talvora
