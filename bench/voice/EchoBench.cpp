// Echo return loss enhancement of the engine's speexdsp chain against WebRTC's audio processing
// (libwebrtc-audio-processing 0.3) in the same offline echo room as the tests: a measurement to
// choose between them, not part of the phone.
//   voice_echo_bench
#include "EchoRoomScenario.h"
#include "voice/engine/ReceivePipeline.h"
#include "voice/engine/TransmitPipeline.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>

#include <array>
#include <cstdio>
#include <memory>

using namespace talvora::voice;
using test::EchoProcessor;

namespace {

EchoProcessor speex(VoiceProcessing options) {
    return [options](const std::vector<std::int16_t>& mic, const std::vector<std::int16_t>& played) {
        TransmitPipeline tx(options);
        std::array<std::uint8_t, kMaxOpusPacketBytes> packet{};
        std::array<std::int16_t, kFrameSamples> frame{};
        std::vector<std::int16_t> out;
        for (std::size_t at = 0; at + kFrameSamples <= mic.size(); at += kFrameSamples) {
            std::copy_n(mic.begin() + static_cast<long>(at), kFrameSamples, frame.begin());
            tx.process(frame, std::span<const std::int16_t>(played.data() + at, kFrameSamples), kUnityLevel,
                       packet);
            out.insert(out.end(), frame.begin(), frame.end());
        }
        return out;
    };
}

struct WebRtcSetup {
    bool noiseSuppression;
    bool gainControl;
    int streamDelayMs; // what the canceller is told of the speaker-to-microphone delay
    bool delayAgnostic;
    webrtc::EchoCancellation::SuppressionLevel suppression = webrtc::EchoCancellation::kHighSuppression;
};

EchoProcessor webRtc(WebRtcSetup setup) {
    return [setup](const std::vector<std::int16_t>& mic, const std::vector<std::int16_t>& played) {
        webrtc::Config config;
        config.Set<webrtc::ExtendedFilter>(new webrtc::ExtendedFilter(true));
        config.Set<webrtc::DelayAgnostic>(new webrtc::DelayAgnostic(setup.delayAgnostic));
        std::unique_ptr<webrtc::AudioProcessing> apm(webrtc::AudioProcessing::Create(config));
        apm->echo_cancellation()->Enable(true);
        apm->echo_cancellation()->enable_drift_compensation(false);
        apm->echo_cancellation()->set_suppression_level(setup.suppression);
        apm->noise_suppression()->Enable(setup.noiseSuppression);
        apm->noise_suppression()->set_level(webrtc::NoiseSuppression::kModerate);
        apm->gain_control()->Enable(setup.gainControl);
        apm->gain_control()->set_mode(webrtc::GainControl::kAdaptiveDigital);
        apm->high_pass_filter()->Enable(true);
        const webrtc::StreamConfig stream(48000, 1);
        constexpr std::size_t kTenMs = 480;
        std::array<float, kTenMs> near{}, far{};
        std::vector<std::int16_t> out;
        for (std::size_t at = 0; at + kTenMs <= mic.size(); at += kTenMs) {
            for (std::size_t i = 0; i < kTenMs; ++i) {
                near[i] = float(mic[at + i]) / 32768.0f;
                far[i] = float(played[at + i]) / 32768.0f;
            }
            float* farChannel = far.data();
            apm->ProcessReverseStream(&farChannel, stream, stream, &farChannel);
            apm->set_stream_delay_ms(setup.streamDelayMs);
            float* nearChannel = near.data();
            apm->ProcessStream(&nearChannel, stream, stream, &nearChannel);
            for (float v : near) {
                out.push_back(
                    static_cast<std::int16_t>(std::clamp(std::lround(v * 32768.0f), -32768L, 32767L)));
            }
        }
        return out;
    };
}

void report(const char* name, const EchoProcessor& processor) {
    const auto m = test::measureEchoRoom([&] { return processor; });
    std::printf(
        "%-44s near end %+5.1f dB | ERLE single talk %5.1f dB, double talk %5.1f dB | near end in double "
        "talk %+5.1f dB\n",
        name, m.nearEndGainDb, m.singleTalkErleDb, m.doubleTalkErleDb, m.nearEndChangeDb);
}

} // namespace

int main() {
    report("speexdsp canceller", speex({true, false, false}));
    report("speexdsp canceller, denoise", speex({true, true, false}));
    report("speexdsp canceller, denoise, gain (phone)", speex({true, true, true}));
    report("webrtc aec, told 30 ms", webRtc({false, false, 30, false}));
    report("webrtc aec, told 0 ms, delay agnostic", webRtc({false, false, 0, true}));
    report("webrtc aec moderate, told 30 ms",
           webRtc({false, false, 30, false, webrtc::EchoCancellation::kModerateSuppression}));
    report("webrtc aec low, told 30 ms",
           webRtc({false, false, 30, false, webrtc::EchoCancellation::kLowSuppression}));
    report("webrtc aec, ns, told 30 ms", webRtc({true, false, 30, false}));
    report("webrtc aec, ns, agc, told 30 ms", webRtc({true, true, 30, false}));
    report("webrtc aec, ns, agc, delay agnostic", webRtc({true, true, 0, true}));
    return 0;
}
