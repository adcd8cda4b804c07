// A call through the private PulseAudio daemon while the server's devices change under it: the
// output device's latency, a new default sink, a sink that goes and comes back, a microphone of
// another format. Without TALVORA_TEST_PULSE these tests are skipped.
#include "PulseTestSupport.h"
#include "SignalAnalysis.h"
#include "support/EventLoop.h"
#include "voice/VoiceEngine.h"

#include <QRegularExpression>

namespace talvora::voice {
namespace {

using test::dominantFrequency;
using test::PacedMicrophone;
using test::recordSpeaker;
using test::sine;
using test::steadyToneAmplitude;
using test::TestPhone;
using test::toneAmplitude;

QString pactl(const QStringList& args) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C");
    process.setProcessEnvironment(env);
    process.start("pactl", args);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// A new default sink takes along every stream nobody routed by hand, the daemon's sine tone
// included, whose sink "tone" is the microphone: the tone goes back there, so that the tests
// after these (and the next stage's, on the same daemon) hear it in the microphone again.
void putTheToneBack() {
    for (const QString& line : pactl({"list", "short", "sink-inputs"}).split('\n')) {
        const QStringList fields = line.split('\t');
        if (fields.size() >= 4 && fields[3] == QLatin1String("module-sine.c")) {
            pactl({"move-sink-input", fields[0], "tone"});
        }
    }
}

// The latency the server configured the sink `name` at, in microseconds; -1 when not listed.
long long configuredLatencyUs(const QString& name) {
    const QStringList sinks = pactl({"list", "sinks"}).split("Sink #");
    for (const QString& sink : sinks) {
        if (!sink.contains(QRegularExpression("\\n\\s*Name: " + QRegularExpression::escape(name) + "\\n"))) {
            continue;
        }
        const auto match = QRegularExpression("Latency: \\d+ usec, configured (\\d+) usec").match(sink);
        return match.hasMatch() ? match.captured(1).toLongLong() : -1;
    }
    return -1;
}

// The module that made the null sink `name`.
QString nullSinkModule(const QString& name) {
    for (const QString& line : pactl({"list", "short", "modules"}).split('\n')) {
        const QStringList fields = line.split('\t');
        if (fields.size() >= 3 && fields[1] == "module-null-sink" &&
            fields[2].split(' ').contains("sink_name=" + name)) {
            return fields[0];
        }
    }
    return {};
}

// The loudest `frequencyHz` tone in 100 ms windows of what the monitor `monitorName` records, read
// until it is louder than `threshold` or `limitMs` passed; the milliseconds that took, or -1.
int msUntilTone(const std::string& monitorName, double frequencyHz, double threshold, int limitMs) {
    const auto start = std::chrono::steady_clock::now();
    const auto elapsedMs = [&] {
        return static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count());
    };
    while (elapsedMs() < limitMs) {
        PulseAudioBackend monitor(monitorName);
        AudioProblem problem = AudioProblem::None;
        auto source = monitor.openSource(problem);
        if (!source) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        // A monitor delivers only while something plays: a watchdog ends a read that waits on.
        std::atomic<bool> done{false};
        std::thread watchdog([&] {
            while (!done && elapsedMs() < limitMs) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            source->interrupt();
        });
        int found = -1;
        std::vector<std::int16_t> window(static_cast<std::size_t>(source->sampleRateHz() / 10));
        while (source->read(window)) {
            if (toneAmplitude(window, frequencyHz, source->sampleRateHz()) > threshold) {
                found = elapsedMs();
                break;
            }
        }
        done = true;
        watchdog.join();
        return found;
    }
    return -1;
}

// This side: the production engine and session on the daemon's defaults. The peer: an engine with
// in-memory devices, playing 1 kHz.
class PulseCall : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("TALVORA_TEST_PULSE")) {
            GTEST_SKIP() << "TALVORA_TEST_PULSE is not set: no private sound server";
        }
        // The program's own choice would take a desktop's PipeWire over the private daemon.
        qputenv("TALVORA_AUDIO", "pulse");
    }

    void startCall() {
        NetworkConfig network;
        network.bindAddress = QHostAddress("127.0.0.2");
        m_host = std::make_unique<VoiceEngine>(network);
        QObject::connect(m_host.get(), &VoiceEngine::notice,
                         [this](const QString& text) { m_notices << text; });
        m_peer =
            std::make_unique<TestPhone>("127.0.0.3", FakeAudioBackend::Config{.signal = sine(1000, 6000)});
        m_session = m_host->sessionFactory().create();
        m_session->setTransmitPort(8500);
        m_session->setReceivePort(8500);
        m_session->setRemoteAddress("127.0.0.3");
        m_session->start();
        m_peer->start("127.0.0.2");
        ASSERT_TRUE(
            talvora::test::waitUntil([&] { return m_peer->terminal().stats().packetsAccepted > 25; }, 10000));
        talvora::test::pumpEvents(300);
    }

    void TearDown() override {
        if (m_session) {
            m_session->stop();
            m_session.reset();
        }
        if (m_peer) {
            m_peer->stop();
        }
        putTheToneBack();
    }

    std::unique_ptr<VoiceEngine> m_host;
    std::unique_ptr<TestPhone> m_peer;
    std::unique_ptr<VoiceSession> m_session;
    QStringList m_notices;
};

// A call asks the shared output device for its share of the speaker buffer (about 5 ms of the
// 20 ms it starts with), never for the device's smallest (half a millisecond on a null sink),
// which every other program on it would pay for in wake-ups and underruns.
TEST_F(PulseCall, OutputDeviceKeepsAUsefulLatencyDuringACall) {
    startCall();
    const long long latencyUs = configuredLatencyUs("spk");
    std::cout << "spk configured latency during a call: " << latencyUs << " usec\n";
    EXPECT_GE(latencyUs, 4000);
    // Median of 100 ms blocks: a frame the jitter buffer conceals when the machine stalls lowers
    // a whole-window reading, but says nothing about the device's latency.
    EXPECT_NEAR(steadyToneAmplitude(recordSpeaker(1.0), 1000), 6000, 1200) << "and the call is heard";
}

TEST_F(PulseCall, CallMovesToANewDefaultSink) {
    QProcess::execute("pactl", {"set-sink-volume", "spk", "100%"});
    startCall();
    const QString module = pactl({"load-module", "module-null-sink", "sink_name=spk2", "rate=44100"});
    ASSERT_FALSE(module.isEmpty());
    pactl({"set-default-sink", "spk2"});
    const int ms = msUntilTone("spk2.monitor", 1000, 3000, 3000);
    pactl({"set-default-sink", "spk"});
    EXPECT_GE(ms, 0) << "the call is heard on the new default";
    EXPECT_GE(msUntilTone("spk.monitor", 1000, 3000, 3000), 0) << "and back on the old one";
    pactl({"unload-module", module});
    EXPECT_TRUE(m_notices.isEmpty()) << m_notices.join('|').toStdString();
}

TEST_F(PulseCall, SinkThatGoesAndComesBackResumesWithinASecond) {
    startCall();
    const QString module = nullSinkModule("spk");
    ASSERT_FALSE(module.isEmpty());
    pactl({"unload-module", module});
    talvora::test::pumpEvents(500);
    ASSERT_FALSE(pactl({"load-module", "module-null-sink", "sink_name=spk", "rate=48000"}).isEmpty());
    pactl({"set-default-sink", "spk"});
    // The call's stream is back on the sink: an idle null sink renders in two-second blocks, so
    // its monitor cannot tell when the voice came back, the list of streams can.
    const auto reloaded = std::chrono::steady_clock::now();
    ASSERT_TRUE(talvora::test::waitUntil(
        [] {
            return pactl({"list", "sink-inputs"}).contains("Voice call speaker");
        },
        3000));
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - reloaded);
    std::cout << "the call's stream was back on the reloaded sink after " << ms.count() << " ms\n";
    EXPECT_LE(ms.count(), 1000);
    EXPECT_GE(msUntilTone("spk.monitor", 1000, 3000, 4000), 0) << "and plays the call";
}

TEST_F(PulseCall, StereoMicrophoneAt44kHzIsHeard) {
    PacedMicrophone microphone(44100, 2);
    ASSERT_TRUE(microphone.ok());
    startCall();
    const std::size_t from = m_peer->recording().size();
    ASSERT_TRUE(talvora::test::waitUntil([&] { return m_peer->recording().size() > from + 48000; }, 10000));
    const auto all = m_peer->recording().samples();
    const std::span<const std::int16_t> heard(all.data() + from, 48000);
    EXPECT_NEAR(dominantFrequency(heard), 440, 10);
    // The -12 dBFS tone goes out through the gain control, which brings it down towards speech
    // level (and the noise suppressor takes some of a steady tone): well heard, not as loud. The
    // median of 100 ms blocks, so that a frame concealed on a stalling machine does not count.
    EXPECT_GT(steadyToneAmplitude(heard, 440), 800);
}

} // namespace
} // namespace talvora::voice
