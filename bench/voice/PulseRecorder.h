#pragma once

#include "FakeAudio.h"

#include <cstdint>
#include <string>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace talvora::voice::bench {

// Records one device of a named sound server (48 kHz mono) and notes for each fragment when its
// first sample passed through the device, in steady-clock time, as the server's timing reports
// it: for a microphone when it was captured, for a sink's monitor when the sink plays it. The
// server renders into a sink's buffer ahead of playing, so a monitor hands data out before it is
// heard; libpulse reports that as a negative latency, which is added back here. How long the
// fragment then took to reach us does not enter the times.
class PulseRecorder {
public:
    struct Take {
        std::vector<std::int16_t> samples;
        std::vector<BlockTime> passed; // when each fragment's first sample passed the device
    };

    // Throws std::runtime_error when the server or the device cannot be had.
    PulseRecorder(const std::string& server, const std::string& device);
    ~PulseRecorder();
    PulseRecorder(const PulseRecorder&) = delete;
    PulseRecorder& operator=(const PulseRecorder&) = delete;

    // Ends the recording and hands it over.
    Take stop();

private:
    static void readable(pa_stream* stream, std::size_t bytes, void* self);
    static void changed(pa_stream*, void* loop);
    void waitFor(bool (*done)(PulseRecorder&), const char* what);

    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    Take m_take; // the loop's thread appends until stop()
};

} // namespace talvora::voice::bench
