// Mouth-to-ear delay through real sound servers: two engines in two processes, each on its own
// private sound server (PulseAudio, or PipeWire with its PulseAudio service; a pipe microphone
// and a null sink, see scripts/testenv/pulse.sh and pipewire.sh), talking RTP over loopback
// through the test suite's impairment relay; echo cancellation, noise suppression and gain
// control off unless asked. A measurement, not a test; bench/voice/mouth-to-ear.sh starts and
// stops the servers around it.
//
// Entry: a click train is written into A's microphone FIFO in 1 ms blocks at the pace of the
// clock, each click at the start of a block; a click enters when its block has been written.
// Exit: B's sink is recorded through its monitor with the server's timing (PulseRecorder): a
// click leaves when B's sink plays it, its buffer included. Each click is found by
// cross-correlation (ClickTrain.h).
// Baseline (in each delay case): A's own microphone is recorded the same way. Its delay from the FIFO to the
// capture is the error of the method on the way in: near zero, to the few milliseconds by which the server's
// clock smooths over the pipe's 1 ms bursts. Click check: a 440 Hz tone instead of the clicks, clean and with
// loss, and the largest sample-to-sample step in B's sink against the largest the tone itself makes; the same
// for A's microphone, and the underflows of both speakers' streams as their servers reported them to the
// engines (and B's from its daemon's log, on PulseAudio), say where a click came from.
// Soak: the tone alone for a long call (run under load by the script), with the same counts.
// The harness's own threads (the microphone's feeder, the relay) run at real-time priority where
// they may, so that a loaded machine delays the phones, not the world around them.
//
//   voice_mouth_to_ear [OPTIONS] DIR_A DIR_B [seconds]
//       the servers of `pulse.sh start DIR pipe` or `pipewire.sh start DIR pipe` (PulseAudio with
//       PULSE_LOG_LEVEL=debug for its underrun log); each case runs `seconds` (60 unless given)
//       after 3 s to settle. OPTIONS: --cases delay,clean,loss,tone,soak (delay,tone unless
//       given; clean and loss: one of the two delay cases alone);
//       --frame-ms 10|20 (the phones' packets); --no-realtime (the phones' threads are refused
//       any raised priority); --processing (the phone's echo cancellation, noise suppression
//       and gain control on)
//   voice_mouth_to_ear --phone BIND PEER [OPTIONS]
//       one engine on the default devices of the sound server the program would choose
//       (PipeWire natively when $PIPEWIRE_REMOTE answers and has the sound, else $PULSE_SERVER),
//       until its standard input closes
#include "ClickTrain.h"
#include "FakePriority.h"
#include "ImpairmentRelay.h"
#include "PulseRecorder.h"
#include "SignalAnalysis.h"
#include "TestPhone.h"
#include "voice/engine/AudioServerChoice.h"
#include "voice/engine/PulseAudioDevices.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <numbers>
#include <stdexcept>
#include <thread>
#include <utility>

using namespace talvora::voice;
using namespace std::chrono_literals;

namespace {

// Away from the test suite's addresses and ports, so that both may run at once.
constexpr int kVoicePort = 18500;
const char* const kAddressA = "127.0.0.40";
const char* const kAddressB = "127.0.0.41";
const char* const kRelay = "127.0.0.42";
// The start of a call is not its steady delay. Besides, an idle null sink renders silence up to
// 2 s ahead, and a new stream's first writes can wait that long before it plays them.
constexpr auto kSettle = 3s;
constexpr std::size_t kBlockSamples = 48;
constexpr int kFifoMostMs = 15;
constexpr double kToneHz = 440;
constexpr double kToneAmplitude = 8000;

// What the phones are asked to do, passed on to each phone process.
struct PhoneOptions {
    int frameMs = kFrameDurationMs;
    bool realtime = true;
    bool processing = false;

    QStringList arguments() const {
        QStringList args{"--frame-ms", QString::number(frameMs)};
        if (!realtime) {
            args << "--no-realtime";
        }
        if (processing) {
            args << "--processing";
        }
        return args;
    }
};

// The threads the harness starts next inherit this thread's priority: real time, above the
// phones', for the world around them (the relay, the microphones' feeders), where the process may
// have it; normal before the phones' processes start, which must ask for their own.
void harnessPriority(bool realtime) {
    sched_param param{};
    param.sched_priority = realtime ? kVoiceRealtimePriority + 2 : 0;
    if (pthread_setschedparam(pthread_self(), realtime ? SCHED_RR : SCHED_OTHER, &param) != 0 && realtime) {
        static bool said = false;
        if (!std::exchange(said, true)) {
            std::printf("(the harness runs at normal priority)\n");
        }
    }
}

double steadyMs() {
    return double(std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count()) /
           1000.0;
}

// Writes a signal into a pipe microphone at the pace of the clock, 1 ms at a time, and notes
// when the block that starts each click has been written. A late wake-up is not caught up: a
// burst of old audio is not what a microphone delivers. Nor is a backlog: while more than
// kFifoMostMs wait in the FIFO (nobody records yet, and PipeWire's pipe source reads one quantum
// a cycle, so a backlog would stay for good), a block is dropped instead of written.
class Feeder {
public:
    Feeder(const QString& fifo, SignalFunction signal) : m_signal(std::move(signal)) {
        // Never blocked by a FIFO nobody reads: the block is dropped instead (see run()).
        m_fd = ::open(fifo.toLocal8Bit().constData(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        if (m_fd < 0) {
            throw std::runtime_error("cannot open " + fifo.toStdString());
        }
        m_thread = std::thread([this] { run(); });
    }
    ~Feeder() {
        m_running = false;
        m_thread.join();
        ::close(m_fd);
    }

    void noteClicks(bool on) { m_noting = on; }
    std::vector<double> clicksMs() const {
        std::lock_guard lock(m_mutex);
        return m_clicksMs;
    }

private:
    void run() {
        std::vector<std::int16_t> block(kBlockSamples);
        std::uint64_t sample = 0;
        auto next = std::chrono::steady_clock::now();
        while (m_running) {
            const bool click = sample % bench::kClickPeriod == 0;
            for (std::int16_t& s : block) {
                s = m_signal(sample++);
            }
            int waiting = 0;
            if (::ioctl(m_fd, FIONREAD, &waiting) == 0 && waiting > kFifoMostMs * 96) {
                // dropped, as a microphone nobody drains drops it
            } else if (::write(m_fd, block.data(), block.size() * sizeof(std::int16_t)) < 0 &&
                       errno != EAGAIN) {
                return;
            }
            if (click && m_noting) {
                std::lock_guard lock(m_mutex);
                m_clicksMs.push_back(steadyMs());
            }
            next = std::max(next + 1ms, std::chrono::steady_clock::now() - 1ms);
            std::this_thread::sleep_until(next);
        }
    }

    SignalFunction m_signal;
    int m_fd = -1;
    std::atomic<bool> m_running{true};
    std::atomic<bool> m_noting{false};
    mutable std::mutex m_mutex;
    std::vector<double> m_clicksMs; // guarded by m_mutex
    std::thread m_thread;
};

// Whether the machine itself stalls: a thread of the harness's priority (above the phones') that
// sleeps a millisecond at a time notes each wake-up more than kStallMs late. A stall it sees is one
// no thread of the phones could have escaped, and it tells an underflow of the machine from one
// of the phone.
class StallProbe {
public:
    static constexpr double kStallMs = 10;
    StallProbe() : m_thread([this] { run(); }) {}
    ~StallProbe() {
        m_running = false;
        m_thread.join();
    }
    // Stalls are timed from here on, as the recordings are.
    void startTiming() { m_startMs = steadyMs(); }
    // "n stalls (the longest x ms, at t s ...)".
    std::string summary() const {
        std::lock_guard lock(m_mutex);
        std::string s = std::to_string(m_stallsS.size()) + " stalls of the machine over " +
                        std::to_string(int(kStallMs)) + " ms";
        char text[64];
        if (!m_stallsS.empty()) {
            std::snprintf(text, sizeof text, " (the longest %.0f ms; at", m_longestMs);
            s += text;
            for (std::size_t i = 0; i < std::min<std::size_t>(m_stallsS.size(), 8); ++i) {
                std::snprintf(text, sizeof text, " %.1f", m_stallsS[i]);
                s += text;
            }
            s += m_stallsS.size() > 8 ? " ... s)" : " s)";
        }
        return s;
    }

private:
    void run() {
        while (m_running) {
            const double before = steadyMs();
            std::this_thread::sleep_for(1ms);
            const double lateMs = steadyMs() - before - 1;
            if (lateMs > kStallMs) {
                std::lock_guard lock(m_mutex);
                m_stallsS.push_back((before - m_startMs) / 1000);
                m_longestMs = std::max(m_longestMs, lateMs);
            }
        }
    }

    std::atomic<bool> m_running{true};
    std::atomic<double> m_startMs{steadyMs()};
    mutable std::mutex m_mutex;
    std::vector<double> m_stallsS; // guarded by m_mutex
    double m_longestMs = 0;        // guarded by m_mutex
    std::thread m_thread;
};

// One engine in a process of its own on one daemon: this program with --phone.
class PhoneProcess {
public:
    PhoneProcess(const QString& dir, const QString& bind, const QString& peer, const PhoneOptions& options) {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("PULSE_SERVER", "unix:" + dir + "/native");
        // A PipeWire instance has its own socket beside its PulseAudio service's; the phone
        // chooses between them as the program does (makeAudioBackend).
        const QString pipewire = dir + "/xdg/pipewire-0";
        if (QFileInfo::exists(pipewire)) {
            env.insert("PIPEWIRE_REMOTE", pipewire);
        } else {
            env.remove("PIPEWIRE_REMOTE");
        }
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationFilePath(),
                        QStringList{"--phone", bind, peer} + options.arguments());
        while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) {
        }
        if (m_process.readLine().trimmed() != "ready") {
            throw std::runtime_error("the engine on " + dir.toStdString() + " did not start");
        }
    }
    ~PhoneProcess() { finish(); }

    // The call has settled (see phone()).
    void markSettled() {
        m_process.write("m");
        m_process.waitForBytesWritten(1000);
    }

    // Ends the call; the engine's last words: its counters.
    QString finish() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.closeWriteChannel();
            if (!m_process.waitForFinished(10000)) {
                m_process.kill();
                m_process.waitForFinished();
            }
        }
        return QString::fromUtf8(m_process.readAllStandardOutput()).trimmed();
    }

private:
    QProcess m_process;
};

struct Daemons {
    QString dirA;
    QString dirB;
    PhoneOptions options;
    QString server(const QString& dir) const { return "unix:" + dir + "/native"; }
};

// B's daemon logs (at debug level) each time the engine's playback stream ran dry and the sink
// played silence instead: the click a stalled process makes, which no concealment can prevent.
class UnderrunCount {
public:
    explicit UnderrunCount(const QString& log) : m_log(log), m_from(QFileInfo(log).size()) {}
    int sinceStart() const {
        QFile file(m_log);
        if (!file.open(QIODevice::ReadOnly) || !file.seek(m_from)) {
            return 0;
        }
        return static_cast<int>(QString::fromUtf8(file.readAll())
                                    .count(QRegularExpression("[Uu]nderrun (of|on) 'Voice call speaker'")));
    }

private:
    QString m_log;
    qint64 m_from;
};

struct Run {
    bench::PulseRecorder::Take heard; // B's sink
    bench::PulseRecorder::Take mic;   // A's microphone
    std::vector<double> clicksMs;
    QString engineA;
    QString engineB;
    int underruns = 0; // of B's playback stream in its daemon's log, while recording
    std::string stalls;
    std::uint64_t relayed = 0;
    std::uint64_t dropped = 0;
};

Run record(const Daemons& d, int seconds, SignalFunction signal,
           test::ImpairmentRelay::Impairment impairment) {
    harnessPriority(true);
    test::ImpairmentRelay relay(test::loopback(42), test::loopback(40), test::loopback(41), kVoicePort, 77);
    relay.setImpairment(impairment);
    Feeder feeder(d.dirA + "/mic.fifo", std::move(signal));
    // B's microphone hears a quiet room, at a microphone's pace, so that A's speaker plays a call.
    Feeder quiet(d.dirB + "/mic.fifo", [](std::uint64_t) { return std::int16_t{0}; });
    StallProbe probe;
    harnessPriority(false);
    PhoneProcess a(d.dirA, kAddressA, kRelay, d.options);
    PhoneProcess b(d.dirB, kAddressB, kRelay, d.options);
    std::this_thread::sleep_for(kSettle);
    a.markSettled();
    b.markSettled();
    bench::PulseRecorder heard(d.server(d.dirB).toStdString(), "spk.monitor");
    bench::PulseRecorder mic(d.server(d.dirA).toStdString(), "mic");
    probe.startTiming();
    const UnderrunCount underruns(d.dirB + "/log");
    feeder.noteClicks(true);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    feeder.noteClicks(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(int(bench::kClickSearchMs) + 100));

    Run run;
    run.heard = heard.stop();
    run.mic = mic.stop();
    run.underruns = underruns.sinceStart();
    run.clicksMs = feeder.clicksMs();
    run.engineB = b.finish();
    run.engineA = a.finish();
    run.relayed = relay.forwarded();
    run.dropped = relay.dropped();
    run.stalls = probe.summary();
    return run;
}

void reportDelays(const char* name, const std::vector<double>& clicksMs,
                  const bench::PulseRecorder::Take& take) {
    std::size_t clicks = 0;
    std::vector<double> delaysMs;
    for (double sentMs : clicksMs) {
        if (!bench::covers(take.passed, sentMs)) {
            continue;
        }
        ++clicks;
        if (const auto delayMs = bench::clickDelayMs(take.samples, take.passed, sentMs)) {
            delaysMs.push_back(*delayMs);
        }
    }
    bench::printDelays(name, clicks, std::move(delaysMs));
}

// A sine of amplitude A moves at most 2 A sin(pi f / rate) from one sample to the next. Opus
// adds a little noise to that; a gap, a jump in phase or a step to silence moves by up to 2 A.
// Three times the tone's own largest step lets the codec's noise through and still catches any
// break of more than a tenth of the tone's peak-to-peak swing at 440 Hz.
struct Steps {
    double amplitude = 0;
    double natural = 0; // the tone's own largest step
    double threshold = 0;
    int largest = 0;
    std::size_t above = 0;
    std::vector<double> firstAboveS; // where the first few are
};

Steps steps(const std::vector<std::int16_t>& samples) {
    Steps s;
    s.amplitude = test::cleanToneAmplitude(samples, kToneHz);
    s.natural = 2 * s.amplitude * std::sin(std::numbers::pi * kToneHz / 48000);
    s.threshold = 3 * s.natural;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const int step = std::abs(samples[i] - samples[i - 1]);
        s.largest = std::max(s.largest, step);
        if (step > s.threshold && s.above++ < 5) {
            s.firstAboveS.push_back(double(i) / 48000);
        }
    }
    return s;
}

// B's sink, and A's microphone beside it: a step that is already there came in with the input.
void reportSteps(const char* name, const Run& run) {
    const Steps out = steps(run.heard.samples);
    const Steps in = steps(run.mic.samples);
    std::printf("%-28s level %5.0f  tone's step %4.0f  threshold %4.0f  largest step %5d  above %zu", name,
                out.amplitude, out.natural, out.threshold, out.largest, out.above);
    for (double at : out.firstAboveS) {
        std::printf("%s%.2f s", at == out.firstAboveS.front() ? " (at " : ", ", at);
    }
    std::printf("%s\n  A's mic: level %5.0f  largest step %5d  above %zu\n",
                out.firstAboveS.empty() ? "" : ")", in.amplitude, in.largest, in.above);
    std::fflush(stdout);
}

void reportNetwork(const Run& run) {
    std::printf(
        "  relay: %llu forwarded, %llu dropped; B's daemon logged %d underruns\n  engine A: %s\n  engine B: "
        "%s\n  %s\n",
        static_cast<unsigned long long>(run.relayed), static_cast<unsigned long long>(run.dropped),
        run.underruns, qPrintable(run.engineA), qPrintable(run.engineB), run.stalls.c_str());
    std::fflush(stdout);
}

// The server's name as its PulseAudio service tells it.
QString serverName(const QString& server) {
    QProcess pactl;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("PULSE_SERVER", server);
    env.insert("LC_ALL", "C");
    pactl.setProcessEnvironment(env);
    pactl.start("pactl", {"info"});
    pactl.waitForFinished(5000);
    const auto match =
        QRegularExpression("Server Name: (.*)").match(QString::fromUtf8(pactl.readAllStandardOutput()));
    return match.hasMatch() ? match.captured(1).trimmed() : QStringLiteral("an unknown server");
}

int measure(const Daemons& d, int seconds, const QStringList& cases) {
    const test::ImpairmentRelay::Impairment clean{};
    const test::ImpairmentRelay::Impairment impaired{.lossRate = 0.05, .baseDelayMs = 20, .jitterMs = 20};
    const auto tone = test::sine(kToneHz, kToneAmplitude);
    std::printf("mouth to ear through two servers (%s), %d ms packets, phones %s, %d s a case\n",
                qPrintable(serverName(d.server(d.dirA))), d.options.frameMs,
                d.options.realtime ? "asking for real-time priority" : "refused any raised priority",
                seconds);

    // "delay" is both delay cases, "clean" and "loss" each alone (on PipeWire a second call on
    // the same pipe microphone often reaches it no more: each on fresh servers then).
    if (cases.contains("delay") || cases.contains("clean")) {
        const Run run = record(d, seconds, bench::clickTrain, clean);
        reportDelays("baseline: FIFO to A's mic", run.clicksMs, run.mic);
        reportDelays("clean", run.clicksMs, run.heard);
        reportNetwork(run);
    }
    if (cases.contains("delay") || cases.contains("loss")) {
        const Run run = record(d, seconds, bench::clickTrain, impaired);
        reportDelays("baseline: FIFO to A's mic", run.clicksMs, run.mic);
        reportDelays("5% loss, 20 +- 20 ms", run.clicksMs, run.heard);
        reportNetwork(run);
    }
    if (cases.contains("tone")) {
        Run run = record(d, seconds, tone, clean);
        reportSteps("tone, clean", run);
        reportNetwork(run);
        run = record(d, seconds, tone, impaired);
        reportSteps("tone, 5% loss, 20 +- 20 ms", run);
        reportNetwork(run);
    }
    if (cases.contains("soak")) {
        const Run run = record(d, seconds, tone, clean);
        reportSteps("soak: tone, clean", run);
        reportNetwork(run);
    }
    return 0;
}

// The engine of one side, on the daemon in PULSE_SERVER: without --processing no echo
// cancellation, noise suppression or gain control, so that what A's microphone hears reaches B's
// sink as it was.
int phone(QCoreApplication& app, const QString& bind, const QString& peer, const PhoneOptions& options) {
    SteadyClock clock;
    talvora::NetworkConfig network;
    network.bindAddress = QHostAddress(bind);
    std::shared_ptr<PriorityControl> priority = std::make_shared<SystemPriorityControl>();
    if (!options.realtime) {
        priority = std::make_shared<test::FakePriorityControl>(false, false);
    }
    std::string backend;
    MediaTerminal terminal(network, makeAudioBackend(clock, &backend), clock, priority);
    QObject::connect(&terminal, &MediaTerminal::notice,
                     [](const QString& text) { std::fprintf(stderr, "%s\n", qPrintable(text)); });
    test::startVoice(terminal, peer, kVoicePort,
                     {.frameMs = options.frameMs,
                      .echoCancellation = options.processing,
                      .noiseSuppression = options.processing,
                      .gainControl = options.processing});
    std::printf("ready\n");
    std::fflush(stdout);
    // "m" on standard input marks the end of the settling: what the speaker's stream did at the
    // start of the call is told apart from what it did during it.
    std::atomic<std::uint64_t> underflowsAtMark{0};
    std::thread watch([&app, &terminal, &underflowsAtMark] {
        char c;
        while (::read(STDIN_FILENO, &c, 1) > 0) {
            if (c == 'm') {
                underflowsAtMark = terminal.stats().playbackUnderflows;
            }
        }
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    watch.join();
    const MediaTerminalStats s = terminal.stats();
    const ThreadPriority::Counts granted = terminal.priorityCounts();
    test::stopVoice(terminal);
    std::printf(
        "%s; %llu frames played, %llu lost, %llu late, jitter target %d ms; speaker buffer %d ms, %llu "
        "underflows (%llu after the settling); threads real-time %d, raised %d, normal %d\n",
        backend.c_str(), static_cast<unsigned long long>(s.framesPlayed),
        static_cast<unsigned long long>(s.framesLost), static_cast<unsigned long long>(s.framesLate),
        s.jitterTargetMs, s.playbackBufferMs, static_cast<unsigned long long>(s.playbackUnderflows),
        static_cast<unsigned long long>(s.playbackUnderflows - underflowsAtMark.load()), granted.realtime,
        granted.raised, granted.normal);
    return 0;
}

// Takes the options out of `args`; false when one is not understood.
bool takeOptions(QStringList& args, PhoneOptions& options, QStringList& cases) {
    for (int i = 1; i < args.size();) {
        if (args[i] == "--frame-ms" && i + 1 < args.size()) {
            options.frameMs = args[i + 1].toInt();
            args.remove(i, 2);
        } else if (args[i] == "--cases" && i + 1 < args.size()) {
            cases = args[i + 1].split(',');
            args.remove(i, 2);
        } else if (args[i] == "--no-realtime") {
            options.realtime = false;
            args.remove(i);
        } else if (args[i] == "--processing") {
            options.processing = true;
            args.remove(i);
        } else if (args[i].startsWith("--") && args[i] != "--phone") {
            return false;
        } else {
            ++i;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    PhoneOptions options;
    QStringList cases{"delay", "tone"};
    const bool understood = takeOptions(args, options, cases);
    if (understood && args.size() == 4 && args[1] == "--phone") {
        return phone(app, args[2], args[3], options);
    }
    if (!understood || args.size() < 3) {
        std::fprintf(stderr,
                     "usage: voice_mouth_to_ear [--cases delay,clean,loss,tone,soak] [--frame-ms 10|20] "
                     "[--no-realtime] [--processing] DIR_A DIR_B [seconds]\n");
        return 2;
    }
    try {
        return measure({args[1], args[2], options}, args.size() > 3 ? std::max(3, args[3].toInt()) : 60,
                       cases);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "voice_mouth_to_ear: %s\n", e.what());
        return 1;
    }
}
