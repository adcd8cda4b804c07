#pragma once

// Devices of the private PulseAudio daemon for the tests that run on it.
#include "TestPhone.h"
#include "voice/engine/PulseAudioDevices.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace talvora::voice::test {

// A microphone of a given rate and channel count: a pipe source fed in 20 ms blocks of a 440 Hz
// tone at the pace of the clock stands in as the default microphone, and the daemon's own is
// restored afterwards.
class PacedMicrophone {
public:
    explicit PacedMicrophone(int rateHz = 48000, int channels = 1) : m_rateHz(rateHz), m_channels(channels) {
        const QString fifo = m_dir.filePath("mic.fifo");
        QProcess pactl;
        pactl.start("pactl",
                    {"load-module", "module-pipe-source", "source_name=talvora_mic", "file=" + fifo,
                     "format=s16le", QString("rate=%1").arg(rateHz), QString("channels=%1").arg(channels)});
        pactl.waitForFinished(10000);
        m_module = QString::fromUtf8(pactl.readAllStandardOutput()).trimmed();
        QProcess::execute("pactl", {"set-default-source", "talvora_mic"});
        m_fd = ::open(fifo.toLocal8Bit().constData(), O_WRONLY | O_CLOEXEC);
        if (m_fd >= 0) {
            m_thread = std::thread([this] { feed(); });
        }
    }
    ~PacedMicrophone() {
        m_running = false;
        if (m_thread.joinable()) {
            m_thread.join();
        }
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        QProcess::execute("pactl", {"set-default-source", "mic"});
        if (!m_module.isEmpty()) {
            QProcess::execute("pactl", {"unload-module", m_module});
        }
    }
    bool ok() const { return m_fd >= 0 && !m_module.isEmpty(); }

private:
    void feed() {
        const auto signal = sine(440, 8000, m_rateHz);
        std::vector<std::int16_t> block(static_cast<std::size_t>(m_rateHz / 50 * m_channels));
        std::uint64_t sample = 0;
        auto next = std::chrono::steady_clock::now();
        while (m_running) {
            for (std::size_t i = 0; i < block.size(); i += static_cast<std::size_t>(m_channels)) {
                std::fill_n(block.begin() + static_cast<long>(i), m_channels, signal(sample++));
            }
            if (::write(m_fd, block.data(), block.size() * 2) < 0) {
                return;
            }
            next += std::chrono::milliseconds(20);
            std::this_thread::sleep_until(next);
        }
    }

    const int m_rateHz;
    const int m_channels;
    QTemporaryDir m_dir;
    QString m_module;
    int m_fd = -1;
    std::atomic<bool> m_running{true};
    std::thread m_thread;
};

// Records `seconds` of what a sink plays, through its monitor.
inline std::vector<std::int16_t> recordSpeaker(double seconds,
                                               const std::string& monitorName = "spk.monitor") {
    PulseAudioBackend monitor(monitorName);
    AudioProblem problem = AudioProblem::None;
    auto source = monitor.openSource(problem);
    EXPECT_TRUE(source) << "spk.monitor cannot be opened";
    if (!source) {
        return {};
    }
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * source->sampleRateHz()));
    EXPECT_TRUE(source->read(samples));
    return samples;
}

} // namespace talvora::voice::test
