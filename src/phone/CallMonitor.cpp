#include "phone/CallMonitor.h"

#include <algorithm>
#include <cmath>

namespace talvora {

CallMonitor::Decision CallMonitor::tick(const Sample& now) {
    Decision out;
    const Sample before = m_last.value_or(Sample{});
    const bool first = !m_last;
    m_last = now;

    const bool pictures = now.picturesFromPeer != before.picturesFromPeer;
    const bool voice = now.voiceHeard != before.voiceHeard;
    const bool reports = now.reportsFromPeer != before.reportsFromPeer;
    m_silentSeconds = (pictures || voice || reports || first) ? 0 : m_silentSeconds + 1;
    m_mediaSilentSeconds = (pictures || voice || first) ? 0 : m_mediaSilentSeconds + 1;
    m_picturesEverCame = m_picturesEverCame || now.picturesFromPeer > 0;
    m_picturelessSeconds = pictures || first ? 0 : m_picturelessSeconds + 1;
    if (now.lastReport && before.lastReport && now.lastReport->sequence != before.lastReport->sequence) {
        m_peerSentPictures = now.lastReport->picturesSent != before.lastReport->picturesSent;
    }

    QString line;
    if (m_silentSeconds >= kSilenceEndSeconds && now.peer == Peer::Talvora) {
        // A Talvora phone tells when it hangs up, and reports every second while it is there:
        // after this long its hang-up was lost, or it is gone.
        out.endCall = true;
        line = QStringLiteral("The call with %1 ended: nothing arrived for %2 s")
                   .arg(m_peerName)
                   .arg(kSilenceEndSeconds);
    } else if (m_mediaSilentSeconds >= kSilenceNoticeSeconds) {
        line = QStringLiteral("No pictures or voice from %1 for %2 s")
                   .arg(m_peerName)
                   .arg(kSilenceNoticeSeconds);
    } else if (m_picturelessSeconds >= kPicturesLostSeconds && voice &&
               (m_picturesEverCame || (now.peer == Peer::Talvora && m_peerSentPictures))) {
        line = QStringLiteral("Pictures from %1 are being lost on the network").arg(m_peerName);
    }
    if (line != m_shown) {
        m_shown = line;
        out.statusLine = line;
    }

    if (now.peer == Peer::Talvora) {
        out.report = LinkReport{++m_reportSequence, quint32(now.picturesFromPeer), quint32(now.voiceHeard),
                                quint32(now.voiceExpected), quint32(now.picturesSent)};
    }
    if (!first) {
        estimateLoss(now);
    }
    out.pathLoss = m_loss.loss(now.nowMs);
    while (!m_missing.empty() && m_missing.front().first <= now.nowMs) {
        m_missingBytes -= m_missing.front().second;
        m_missing.pop_front();
    }
    if (m_missing.empty()) {
        m_missingBytes = 0; // no rounding left over
    }
    if (m_peerHold) {
        m_peerHold->bytes = m_missingBytes;
        out.peerHold = m_peerHold;
    }
    if (now.peer == Peer::Older) {
        if (!m_olderSinceMs) {
            m_olderSinceMs = now.nowMs;
        }
        out.pathLoss =
            std::max(out.pathLoss, assumedLoss(kOlderPeerAssumedLoss, now.nowMs - *m_olderSinceMs));
    }
    return out;
}

// The peer's own reports say what reached it of ours, the direct measure of the path there;
// without them (an older peer), the loss its voice meets on the way here stands in for it.
void CallMonitor::estimateLoss(const Sample& now) {
    if (now.peer == Peer::Talvora) {
        if (!now.lastReport || (m_reportUsed && m_reportUsed->sequence == now.lastReport->sequence)) {
            return;
        }
        const LinkReport& report = *now.lastReport;
        if (m_reportUsed) {
            // Counters wrap at 2^32: the difference of two of them is right modulo that.
            const quint32 expected = report.voicePacketsExpected - m_reportUsed->voicePacketsExpected;
            const quint32 heard = report.voicePacketsHeard - m_reportUsed->voicePacketsHeard;
            m_loss.addPackets(now.nowMs, expected, double(expected) - double(heard));
            m_picturesReceived += quint32(report.picturesReceived - m_reportUsed->picturesReceived);
        } else {
            m_picturesReceived = report.picturesReceived;
        }
        // The peer's count against ours when its report came: the pictures still on their way
        // then look missing, and arrive by the next report. So only the growth of the most ever
        // found missing counts as loss, and counts once: a picture in flight can raise that most
        // by one at worst, once, however many reports follow. (Comparing the two counts
        // interval by interval saw loss on a clean path whenever a picture fell on the other
        // side of a report; comparing with what had left a report earlier hid seconds of loss
        // behind the pictures sent since.)
        const quint64 sentNow = now.picturesSentAtReport;
        if (m_reportUsed && sentNow > m_sentAtReport) {
            const quint64 shortfall = sentNow > m_picturesReceived ? sentNow - m_picturesReceived : 0;
            const quint64 lost = shortfall > m_shortfall ? shortfall - m_shortfall : 0;
            m_shortfall = std::max(m_shortfall, shortfall);
            const quint64 sent = sentNow - m_sentAtReport;
            const double packetsPerPicture =
                double(now.packetsSentAtReport - std::min(m_packetsAtReport, now.packetsSentAtReport)) /
                double(sent);
            m_loss.addPictures(now.nowMs, double(sent), double(sent - std::min(lost, sent)),
                               std::max(1.0, packetsPerPicture));
            // The peer's kernel keeps what arrived of a missing picture for holdSeconds from
            // when it left, a moment before now: counting from now errs on the safe side.
            const ReassemblyLimits limits;
            const double held = double(std::min(lost, sent)) *
                                heldByMissingPicture(int(std::ceil(packetsPerPicture)), limits);
            if (held > 0) {
                m_missing.emplace_back(now.nowMs + qint64(limits.holdSeconds * 1000), held);
                m_missingBytes += held;
            }
            m_peerHold = PeerHold{0, sentNow};
        }
        m_reportUsed = report;
        m_sentAtReport = sentNow;
        m_packetsAtReport = now.packetsSentAtReport;
        return;
    }
    const double expected = double(now.voiceExpected) - double(m_voiceExpectedSeen);
    const double heard = double(now.voiceHeard) - double(m_voiceHeardSeen);
    m_voiceExpectedSeen = now.voiceExpected;
    m_voiceHeardSeen = now.voiceHeard;
    if (expected > 0) {
        m_loss.addPackets(now.nowMs, expected, expected - heard);
    }
}

} // namespace talvora
