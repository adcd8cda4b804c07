#include "voice/engine/EchoDelay.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace talvora::voice {

namespace {

constexpr std::size_t kEnvelopeSamples = 48; // 1 ms at 48 kHz
// The far end counts as speaking above this mean magnitude over the window (about -50 dBFS).
constexpr double kActiveMagnitude = 100;
// A clear echo correlates at 0.9 and more; the near end talking over it, or a reference too
// plain to place (one steady tone), falls below this.
constexpr double kClearCorrelation = 0.6;
// Two windows agree when they place the echo within this of each other.
constexpr int kAgreeMs = 2;
// The echo is placed only where no lag beyond kPeakWidthMs of the best correlates within
// kClearMargin of it.
constexpr int kPeakWidthMs = 3;
constexpr double kClearMargin = 0.05;

float magnitude(std::span<const std::int16_t> samples) {
    std::int32_t sum = 0;
    for (std::int16_t s : samples) {
        sum += std::abs(static_cast<std::int32_t>(s));
    }
    return static_cast<float>(sum) / static_cast<float>(samples.size());
}

} // namespace

EchoDelayEstimator::EchoDelayEstimator()
    : m_mic(kHistoryMs), m_reference(kHistoryMs), m_micInOrder(kHistoryMs), m_referenceInOrder(kHistoryMs),
      m_correlation(kLatestMs - kEarliestMs + 1) {}

void EchoDelayEstimator::reset() {
    m_ms = 0;
    m_sinceEstimate = 0;
    m_previous.reset();
}

std::optional<int> EchoDelayEstimator::add(std::span<const std::int16_t> mic,
                                           std::span<const std::int16_t> reference) {
    const bool paired = reference.size() == mic.size();
    for (std::size_t at = 0; at + kEnvelopeSamples <= mic.size(); at += kEnvelopeSamples) {
        const auto slot = static_cast<std::size_t>(m_ms % kHistoryMs);
        m_mic[slot] = magnitude(mic.subspan(at, kEnvelopeSamples));
        m_reference[slot] = paired ? magnitude(reference.subspan(at, kEnvelopeSamples)) : 0.0f;
        ++m_ms;
        ++m_sinceEstimate;
    }
    if (m_ms < kHistoryMs || m_sinceEstimate < kEveryMs) {
        return std::nullopt;
    }
    m_sinceEstimate = 0;
    const std::optional<int> lag = estimate();
    const std::optional<int> previous = m_previous;
    m_previous = lag;
    if (lag && previous && std::abs(*lag - *previous) <= kAgreeMs) {
        return lag;
    }
    return std::nullopt;
}

std::optional<int> EchoDelayEstimator::estimate() {
    // The rings laid out in time order, oldest first: the reference's whole history, and the
    // microphone's window, which ends -kEarliestMs ago so that the reference it is compared
    // with at the earliest lag has been heard by now.
    const std::int64_t oldest = m_ms - kHistoryMs;
    for (int t = 0; t < kHistoryMs; ++t) {
        const auto slot = static_cast<std::size_t>((oldest + t) % kHistoryMs);
        m_referenceInOrder[static_cast<std::size_t>(t)] = m_reference[slot];
        m_micInOrder[static_cast<std::size_t>(t)] = m_mic[slot];
    }
    // Microphone entry t (of the history) against reference entry t - lag.
    constexpr int kMicBegin = kLatestMs; // the window's first entry in the history
    const float* mic = m_micInOrder.data() + kMicBegin;
    const auto sums = [](const float* x) { // of the window's entries and of their squares
        std::pair<double, double> s{0, 0};
        for (int t = 0; t < kWindowMs; ++t) {
            s.first += x[t];
            s.second += double(x[t]) * x[t];
        }
        return s;
    };
    const auto [micSum, micSquares] = sums(mic);
    double referenceSum = 0;
    for (float r : m_referenceInOrder) {
        referenceSum += r;
    }
    const double micVariance = micSquares - micSum * micSum / kWindowMs;
    if (micVariance <= 0 || referenceSum < kActiveMagnitude * kHistoryMs) {
        return std::nullopt; // a silent microphone, or the far end was silent: nothing to place
    }

    // The reference's window slides one entry earlier with each lag: its sums follow it.
    const float* reference = m_referenceInOrder.data() + kMicBegin - kEarliestMs;
    auto [sum, squares] = sums(reference);
    for (int lag = kEarliestMs; lag <= kLatestMs; ++lag, --reference) {
        if (lag > kEarliestMs) {
            const double entering = reference[0];
            const double leaving = reference[kWindowMs];
            sum += entering - leaving;
            squares += entering * entering - leaving * leaving;
        }
        double cross = 0;
        for (int t = 0; t < kWindowMs; ++t) {
            cross += double(reference[t]) * mic[t];
        }
        // Below a part in 10^9 of its squares a variance is the rounding of the sliding sums.
        const double variance = squares - sum * sum / kWindowMs;
        m_correlation[static_cast<std::size_t>(lag - kEarliestMs)] =
            variance > 1e-9 * squares ? (cross - sum * micSum / kWindowMs) / std::sqrt(variance * micVariance)
                                      : -1.0;
    }
    const auto best = std::max_element(m_correlation.begin(), m_correlation.end());
    const int bestLag = kEarliestMs + static_cast<int>(best - m_correlation.begin());
    if (*best < kClearCorrelation) {
        return std::nullopt;
    }
    // A sound that repeats (a held note, a steady tone) correlates almost as well one period
    // away: such an echo cannot be placed.
    for (int lag = kEarliestMs; lag <= kLatestMs; ++lag) {
        if (std::abs(lag - bestLag) > kPeakWidthMs &&
            m_correlation[static_cast<std::size_t>(lag - kEarliestMs)] > *best - kClearMargin) {
            return std::nullopt;
        }
    }
    return bestLag;
}

} // namespace talvora::voice
