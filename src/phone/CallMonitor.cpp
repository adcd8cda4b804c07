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
    if (now.peer == Peer::Older) {
        if (!m_olderSinceMs) {
            m_olderSinceMs = now.nowMs;
        }
        const double assumed =
            kOlderPeerAssumedLoss * std::exp2(-double(now.nowMs - *m_olderSinceMs) / kAssumedLossHalfLifeMs);
        out.pathLoss = std::max(out.pathLoss, assumed);
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
        // Our count and the peer's are taken at different moments, up to a report apart: a
        // picture still on its way is no loss. What had left by the previous report has had a
        // report's time to arrive, so only a shortfall against that counts, and only once: the
        // lost pictures of an interval are the growth of that shortfall. (Comparing the two
        // counts interval by interval saw loss on a clean path whenever a picture fell on the
        // other side of a report.)
        if (m_reportUsed && m_sentAtReport > m_sentBeforeThat) {
            const quint64 shortfall =
                m_sentAtReport > m_picturesReceived ? m_sentAtReport - m_picturesReceived : 0;
            const quint64 lost = shortfall > m_shortfall ? shortfall - m_shortfall : 0;
            m_shortfall = std::max(m_shortfall, shortfall);
            const quint64 sent = m_sentAtReport - m_sentBeforeThat;
            const double packetsPerPicture = double(m_packetsAtReport - m_packetsBeforeThat) / double(sent);
            m_loss.addPictures(now.nowMs, double(sent), double(sent - std::min(lost, sent)),
                               std::max(1.0, packetsPerPicture));
        }
        m_reportUsed = report;
        m_sentBeforeThat = m_sentAtReport;
        m_packetsBeforeThat = m_packetsAtReport;
        m_sentAtReport = now.picturesSent;
        m_packetsAtReport = now.packetsSent;
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
