#pragma once

#include "voice/SpeakerVolume.h"

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace talvora {

// Runs the calls of a SpeakerVolume, which wait for the sound server, on a thread of its own, so
// that the window never waits for them. Reads answer later, on the thread that asked (which must
// run an event loop); writes return at once, and a write not yet carried out when a newer one
// comes is dropped: while the slider is dragged, only the latest position reaches the server.
class SpeakerVolumeWorker {
public:
    explicit SpeakerVolumeWorker(SpeakerVolume& volume);
    // Waits for the call in progress, if any; what was still queued is dropped.
    ~SpeakerVolumeWorker();

    SpeakerVolumeWorker(const SpeakerVolumeWorker&) = delete;
    SpeakerVolumeWorker& operator=(const SpeakerVolumeWorker&) = delete;

    void read(std::function<void(const SpeakerVolumeReading&)> done);
    void write(quint32 packed);

private:
    void run();

    SpeakerVolume& m_volume;
    QObject m_answers; // lives on the asking thread: read answers are delivered to it
    std::mutex m_lock;
    std::condition_variable m_wake;
    // Guarded by m_lock: the work waiting for the thread, and the request to stop.
    std::deque<std::function<void(const SpeakerVolumeReading&)>> m_reads;
    std::optional<quint32> m_write;
    bool m_stop = false;
    std::thread m_thread; // last: it starts once everything above exists
};

} // namespace talvora
