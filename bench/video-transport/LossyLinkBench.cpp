// Pictures through a lossy link and the real kernel's reassembly: one side of the measurement
// that lossy-pictures.sh runs in two network namespaces (see scripts/testenv/lossy-link.sh).
//
// Both sides start their clocks at the same moment when given at=EPOCH_SECONDS, so that their
// windows line up.
//
//   bench_lossy_link receive SECONDS [voice] [at=EPOCH_SECONDS]
//     in B: counts the datagrams that arrive whole on the video port in windows of 5 s and
//     prints one line per window ("window I delivered N frag-memory BYTES"); reports the running
//     count to A (192.0.2.1, port 18800) once a second, and with `voice` also sends A a stream
//     of 50 numbered 160-byte packets a second (port 18500), as a peer's voice would arrive.
//   bench_lossy_link send SECONDS today|budget [voice] [CAMERA] [start=PERCENT] [at=EPOCH_SECONDS]
//     in A: sends the test camera's pictures (default the scene, YUY2:384x288:scene) at 30 a
//     second to B's video port through the phone's VideoSender, and prints per window the
//     pictures sent, their mean size and quality, the encodes per picture and the frames held
//     back. `today` never learns of the loss: pictures are as large as quality 100 and the
//     step-down make them. `budget` tells the sender what the phone's CallMonitor makes of B's
//     reports (pictures that arrived against pictures sent: the loss, and what the missing ones
//     hold at B), or with `voice` of the gaps in B's numbered packets as of an older peer's
//     voice (with the loss the phone assumes for one at first); start= is a loss to assume as
//     the call starts besides, fading as that assumption does (assumedLoss()).
#include "phone/CallMonitor.h"
#include "transport/LossEstimator.h"
#include "transport/UdpDatagramSink.h"
#include "transport/VideoSender.h"

#include "transport/CameraPictures.h"

#include <QGuiApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace talvora {
namespace {

using Clock = std::chrono::steady_clock;

constexpr quint16 kReportPort = 18800;
constexpr quint16 kVoiceLikePort = 18500;
constexpr int kWindowSeconds = 5;
constexpr const char* kSenderAddress = "192.0.2.1";
constexpr const char* kReceiverAddress = "192.0.2.2";

// A plain UDP socket: the measurement needs nothing of Qt's.
class Socket {
public:
    explicit Socket(quint16 port) : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0)) {
        const int buffer = 1 << 20;
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            std::perror("bind");
            std::exit(1);
        }
    }
    ~Socket() { ::close(m_fd); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    void sendTo(const char* address, quint16 port, const void* data, std::size_t size) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &a.sin_addr);
        ::sendto(m_fd, data, size, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    // Bytes of the next datagram waiting, -1 when none is.
    ssize_t receive(std::vector<char>& buffer) { return ::recv(m_fd, buffer.data(), buffer.size(), 0); }
    bool wait(int timeoutMs) {
        pollfd p{m_fd, POLLIN, 0};
        return ::poll(&p, 1, timeoutMs) > 0;
    }

private:
    int m_fd;
};

// When both sides start (at=), or at once.
std::chrono::system_clock::time_point startAt;

void waitForStart() {
    std::this_thread::sleep_until(startAt);
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string fragMemory() {
    std::ifstream sockstat("/proc/net/sockstat");
    std::string line;
    while (std::getline(sockstat, line)) {
        if (line.rfind("FRAG:", 0) == 0) {
            std::istringstream in(line);
            std::string tag, inuseWord, memoryWord;
            long inuse = 0, memory = 0;
            in >> tag >> inuseWord >> inuse >> memoryWord >> memory;
            return std::to_string(memory);
        }
    }
    return "?";
}

int receive(int seconds, bool voice) {
    Socket video(kVideoPort);
    Socket back(0);
    std::vector<char> buffer(1 << 17);
    waitForStart();
    const Clock::time_point start = Clock::now();
    quint64 total = 0, inWindow = 0;
    quint32 voiceSequence = 0;
    int window = 0;
    double nextReport = 1, nextVoice = 0;
    while (window < seconds / kWindowSeconds) {
        video.wait(5);
        for (ssize_t n; (n = video.receive(buffer)) >= 0;) {
            // Only whole pictures count: a JPEG file from its first byte to its last.
            if (n >= 4 && uchar(buffer[0]) == 0xFF && uchar(buffer[1]) == 0xD8 &&
                uchar(buffer[n - 2]) == 0xFF && uchar(buffer[n - 1]) == 0xD9) {
                ++total;
                ++inWindow;
            }
        }
        const double now = secondsSince(start);
        if (voice) {
            for (; nextVoice <= now; nextVoice += 0.02) {
                char packet[160] = {};
                std::memcpy(packet, &voiceSequence, sizeof voiceSequence);
                ++voiceSequence;
                back.sendTo(kSenderAddress, kVoiceLikePort, packet, sizeof packet);
            }
        }
        if (now >= nextReport) {
            back.sendTo(kSenderAddress, kReportPort, &total, sizeof total);
            nextReport += 1;
        }
        if (now >= (window + 1) * kWindowSeconds) {
            std::printf("window %d delivered %llu frag-memory %s\n", window, (unsigned long long)inWindow,
                        fragMemory().c_str());
            std::fflush(stdout);
            inWindow = 0;
            ++window;
        }
    }
    return 0;
}

// Turns B's reports, or the gaps in its numbered packets, into what the sender is told, through
// the phone's own CallMonitor once a second: B's running count as a Talvora peer's report (its
// loss estimate and what the missing pictures hold at B), or its numbered packets as an older
// peer's voice.
class Feedback {
public:
    Feedback(VideoSender& sender, bool voice, double lossAtStart)
        : m_sender(sender), m_voice(voice), m_lossAtStart(lossAtStart),
          m_socket(voice ? kVoiceLikePort : kReportPort), m_monitor(QStringLiteral("B")) {}

    void poll(qint64 nowMs) {
        std::vector<char> buffer(2048);
        for (ssize_t n; (n = m_socket.receive(buffer)) >= 0;) {
            if (m_voice && n >= 4) {
                quint32 sequence;
                std::memcpy(&sequence, buffer.data(), sizeof sequence);
                m_highest = std::max<qint64>(m_highest, sequence);
                ++m_heard;
            } else if (!m_voice && n == 8) {
                quint64 received;
                std::memcpy(&received, buffer.data(), sizeof received);
                m_report = LinkReport{++m_reports, quint32(received), 0, 0, 0};
                m_sentAtReport = {m_sender.picturesSent(), m_sender.packetsSent()};
            }
        }
        if (m_startMs < 0)
            m_startMs = nowMs;
        if (nowMs >= m_nextTickMs) {
            const CallMonitor::Decision d = m_monitor.tick(CallMonitor::Sample{
                .nowMs = nowMs,
                .peer = m_voice ? CallMonitor::Peer::Older : CallMonitor::Peer::Talvora,
                .voiceHeard = m_heard,
                .voiceExpected = quint64(m_highest + 1),
                .reportsFromPeer = m_reports,
                .lastReport = m_report,
                .picturesSent = m_sender.picturesSent(),
                .picturesSentAtReport = m_sentAtReport.first,
                .packetsSentAtReport = m_sentAtReport.second,
            });
            m_loss = d.pathLoss;
            if (d.peerHold)
                m_sender.setPeerHold(d.peerHold);
            m_nextTickMs = nowMs + 1000;
        }
        m_sender.setPathLoss(std::max(m_loss, assumedLoss(m_lossAtStart, nowMs - m_startMs)));
    }
    double loss() const { return m_loss; }

private:
    VideoSender& m_sender;
    bool m_voice;
    double m_lossAtStart;
    qint64 m_startMs = -1;
    Socket m_socket;
    CallMonitor m_monitor;
    double m_loss = 0;
    qint64 m_nextTickMs = 0;
    quint32 m_reports = 0;
    std::optional<LinkReport> m_report;
    std::pair<quint64, quint64> m_sentAtReport{0, 0};
    qint64 m_highest = -1;
    quint64 m_heard = 0;
};

int send(int seconds, bool budget, bool voice, const QString& cameraOption, double lossAtStart) {
    test::CameraPictures camera(cameraOption);
    // One cycle of the scene, made before the clock starts: the camera's own cost stays out.
    std::vector<QImage> pictures;
    for (quint64 n = 0; n < 90; ++n)
        pictures.push_back(camera.picture(n));

    VideoSendFields state;
    state.sending = true;
    state.setDestination(QHostAddress(QString::fromLatin1(kReceiverAddress)));
    NetworkConfig network;
    UdpDatagramSink sink(network);
    voice::SteadyClock clock;
    VideoSender sender(state, sink, {}, &clock);
    std::unique_ptr<Feedback> feedback =
        budget ? std::make_unique<Feedback>(sender, voice, lossAtStart) : nullptr;

    waitForStart();
    const Clock::time_point start = Clock::now();
    struct Window {
        int sent = 0, held = 0, failed = 0, encodes = 0;
        double bytes = 0, quality = 0;
    } w;
    int window = 0;
    for (quint64 frame = 0;; ++frame) {
        const Clock::time_point due = start + std::chrono::microseconds(frame * 1000000 / 30);
        std::this_thread::sleep_until(due);
        if (frame >= quint64(seconds) * 30)
            break;
        const qint64 nowMs = clock.nowMs();
        if (feedback)
            feedback->poll(nowMs);
        switch (sender.sendFrame(pictures[frame % pictures.size()])) {
        case VideoSendOutcome::Sent:
            ++w.sent;
            w.bytes += double(sender.lastPictureBytes());
            w.quality += sender.lastQuality();
            w.encodes += sender.lastEncodes();
            break;
        case VideoSendOutcome::Held:
            ++w.held;
            break;
        default:
            ++w.failed;
            break;
        }
        if (frame + 1 >= quint64(window + 1) * kWindowSeconds * 30) {
            const double n = std::max(1, w.sent);
            std::printf(
                "window %d sent %d bytes %.0f quality %.0f encodes %.2f held %d failed %d loss %.4f ceiling "
                "%lld rate %.1f\n",
                window, w.sent, w.bytes / n, w.quality / n, w.encodes / n, w.held, w.failed,
                feedback ? feedback->loss() : 0.0, (long long)sender.lastPlan().ceilingBytes,
                sender.lastPlan().picturesPerSecond);
            std::fflush(stdout);
            w = Window();
            ++window;
        }
    }
    return 0;
}

} // namespace
} // namespace talvora

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    for (const QString& a : args) {
        if (a.startsWith(QLatin1String("at=")))
            talvora::startAt =
                std::chrono::system_clock::time_point(std::chrono::seconds(a.mid(3).toLongLong()));
    }
    if (args.size() >= 3 && args[1] == QLatin1String("receive"))
        return talvora::receive(args[2].toInt(), args.contains(QLatin1String("voice")));
    if (args.size() >= 4 && args[1] == QLatin1String("send")) {
        QString camera = QStringLiteral("YUY2:384x288:scene");
        double start = 0;
        for (const QString& a : args.mid(4)) {
            if (a.startsWith(QLatin1String("start=")))
                start = a.mid(6).toDouble() / 100;
            else if (a.contains(QLatin1Char(':')) && !a.contains(QLatin1Char('=')))
                camera = a;
        }
        return talvora::send(args[2].toInt(), args[3] == QLatin1String("budget"),
                             args.contains(QLatin1String("voice")), camera, start);
    }
    std::fprintf(stderr, "usage: bench_lossy_link receive SECONDS [voice] [at=EPOCH_SECONDS]\n"
                         "       bench_lossy_link send SECONDS today|budget [voice] [CAMERA] [start=PERCENT] "
                         "[at=EPOCH_SECONDS]\n");
    return 2;
}
