// Which sound server the engine speaks to: the override, and what the machine offers.
#include "voice/engine/AudioServerChoice.h"
#include "voice/engine/PipeWireDevices.h"
#include "voice/engine/PulseAudioDevices.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace talvora::voice {
namespace {

constexpr auto Pulse = AudioServer::PulseAudio;
constexpr auto PipeWire = AudioServer::PipeWire;

TEST(AudioServerChoice, OverrideThenPipeWireOnlyWhereItHasTheSound) {
    struct Row {
        const char* variable;
        bool understood;
        bool pipewireAnswers;
        std::optional<std::string> pulseServerName;
        AudioServer expected;
    };
    const std::optional<std::string> noPulse;
    const std::string pipewirePulse = "PulseAudio (on PipeWire 0.3.65)";
    const Row rows[] = {
        {"", true, false, noPulse, Pulse},
        {"", true, false, std::string("pulseaudio"), Pulse},
        {"", true, true, noPulse, PipeWire},
        {"", true, true, pipewirePulse, PipeWire},
        // PipeWire for screens and cameras beside PulseAudio, which has the sound card.
        {"", true, true, std::string("pulseaudio"), Pulse},
        {"pulse", true, true, pipewirePulse, Pulse},
        {"pipewire", true, false, std::string("pulseaudio"), PipeWire},
        {"PipeWire", false, true, pipewirePulse, PipeWire},
        {"alsa", false, false, noPulse, Pulse},
        {" pulse", false, true, noPulse, PipeWire},
    };
    for (const Row& row : rows) {
        bool understood = !row.understood;
        const auto forced = parseAudioServer(row.variable, understood);
        EXPECT_EQ(understood, row.understood) << row.variable;
        EXPECT_EQ(chooseAudioServer(forced, {row.pipewireAnswers, row.pulseServerName}), row.expected)
            << "'" << row.variable << "' " << row.pipewireAnswers << " " << row.pulseServerName.value_or("-");
    }
}

// The environment as the program sees it: the override, and a PipeWire socket that nobody
// serves. The servers' own sockets are never reached (no PulseAudio is asked unless PipeWire
// answered).
class AudioServerEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        save("TALVORA_AUDIO", m_audio);
        save("PIPEWIRE_REMOTE", m_remote);
        ::setenv("PIPEWIRE_REMOTE", "/nonexistent/pipewire-0", 1);
    }
    void TearDown() override {
        restore("TALVORA_AUDIO", m_audio);
        restore("PIPEWIRE_REMOTE", m_remote);
    }

private:
    static void save(const char* name, std::optional<std::string>& into) {
        if (const char* value = std::getenv(name)) {
            into = value;
        }
    }
    static void restore(const char* name, const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    std::optional<std::string> m_audio;
    std::optional<std::string> m_remote;
};

TEST_F(AudioServerEnvironment, WithoutAPipeWireDaemonTheEngineSpeaksPulseAudio) {
    SteadyClock clock;
    struct Row {
        const char* variable;
        bool pipewire;
        const char* said;
    };
    const Row rows[] = {
        {nullptr, false, "voice through PulseAudio: no PipeWire daemon answers"},
        {"pulse", false, "voice through PulseAudio: the sound server was chosen by TALVORA_AUDIO"},
        {"pipewire", true, "voice through PipeWire: the sound server was chosen by TALVORA_AUDIO"},
        {"jack", false,
         "voice through PulseAudio: TALVORA_AUDIO=jack is neither pulse nor pipewire and was ignored; no "
         "PipeWire "
         "daemon answers"},
    };
    for (const Row& row : rows) {
        if (row.variable != nullptr) {
            ::setenv("TALVORA_AUDIO", row.variable, 1);
        } else {
            ::unsetenv("TALVORA_AUDIO");
        }
        std::string said;
        const auto backend = makeAudioBackend(clock, &said);
        EXPECT_EQ(said, row.said);
        EXPECT_EQ(dynamic_cast<PipeWireBackend*>(backend.get()) != nullptr, row.pipewire) << said;
        EXPECT_EQ(dynamic_cast<PulseAudioBackend*>(backend.get()) != nullptr, !row.pipewire) << said;
    }
    // PipeWire asked for where no daemon answers: the devices say there is no server, as
    // PulseAudio's do, and the directions carry on with their stand-ins.
    ::setenv("TALVORA_AUDIO", "pipewire", 1);
    const auto forced = makeAudioBackend(clock);
    AudioProblem problem = AudioProblem::None;
    EXPECT_FALSE(forced->openSource(problem));
    EXPECT_EQ(problem, AudioProblem::NoServer);
    problem = AudioProblem::None;
    EXPECT_FALSE(forced->openSink(problem));
    EXPECT_EQ(problem, AudioProblem::NoServer);
}

} // namespace
} // namespace talvora::voice
