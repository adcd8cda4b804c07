#include "voice/PulseSpeakerVolume.h"

#include "voice/engine/PulseConnection.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

namespace talvora {

using voice::MainloopLock;
using voice::PulseConnection;

std::uint32_t speakerToPulseVolume(quint16 volume) {
    return static_cast<std::uint32_t>((std::uint64_t{volume} * PA_VOLUME_NORM + 32767) / 65535);
}

quint16 pulseToSpeakerVolume(std::uint32_t pulseVolume) {
    const std::uint64_t scaled = (std::uint64_t{pulseVolume} * 65535 + PA_VOLUME_NORM / 2) / PA_VOLUME_NORM;
    return static_cast<quint16>(std::min<std::uint64_t>(scaled, 65535));
}

namespace {

bool isLeft(pa_channel_position_t p) {
    return p == PA_CHANNEL_POSITION_FRONT_LEFT || p == PA_CHANNEL_POSITION_REAR_LEFT ||
           p == PA_CHANNEL_POSITION_SIDE_LEFT || p == PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER ||
           p == PA_CHANNEL_POSITION_TOP_FRONT_LEFT || p == PA_CHANNEL_POSITION_TOP_REAR_LEFT;
}

bool isRight(pa_channel_position_t p) {
    return p == PA_CHANNEL_POSITION_FRONT_RIGHT || p == PA_CHANNEL_POSITION_REAR_RIGHT ||
           p == PA_CHANNEL_POSITION_SIDE_RIGHT || p == PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER ||
           p == PA_CHANNEL_POSITION_TOP_FRONT_RIGHT || p == PA_CHANNEL_POSITION_TOP_REAR_RIGHT;
}

struct SinkQuery {
    pa_threaded_mainloop* loop = nullptr;
    bool finished = false;
    bool found = false;
    std::uint32_t index = 0;
    pa_cvolume volume{};
    pa_channel_map map{};
};

void sinkArrived(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* query = static_cast<SinkQuery*>(userdata);
    if (eol != 0 || info == nullptr) {
        query->finished = true;
        pa_threaded_mainloop_signal(query->loop, 0);
        return;
    }
    query->found = true;
    query->index = info->index;
    query->volume = info->volume;
    query->map = info->channel_map;
}

struct SetQuery {
    pa_threaded_mainloop* loop = nullptr;
    bool finished = false;
    bool success = false;
};

void setDone(pa_context*, int success, void* userdata) {
    auto* query = static_cast<SetQuery*>(userdata);
    query->success = success != 0;
    query->finished = true;
    pa_threaded_mainloop_signal(query->loop, 0);
}

// With the loop locked: the default sink, if it has a usable volume.
bool queryDefaultSink(PulseConnection& connection, int timeoutMs, SinkQuery& query) {
    query.loop = connection.mainloop();
    pa_operation* op =
        pa_context_get_sink_info_by_name(connection.context(), "@DEFAULT_SINK@", sinkArrived, &query);
    return connection.waitOperationLocked(op, query.finished, timeoutMs) && query.found &&
           query.volume.channels > 0 && pa_cvolume_valid(&query.volume) &&
           query.map.channels == query.volume.channels;
}

} // namespace

PulseSpeakerVolume::PulseSpeakerVolume(int timeoutMs) : m_timeoutMs(timeoutMs) {}

PulseSpeakerVolume::~PulseSpeakerVolume() = default;

std::shared_ptr<PulseConnection> PulseSpeakerVolume::connection() {
    if (m_connection) {
        MainloopLock lock(m_connection->mainloop());
        if (m_connection->ready()) {
            return m_connection;
        }
    }
    m_connection = PulseConnection::connect("Talvora Video Phone", m_timeoutMs);
    return m_connection;
}

SpeakerVolumeReading PulseSpeakerVolume::GetSpeakerVolume() {
    auto conn = connection();
    if (!conn) {
        return {};
    }
    MainloopLock lock(conn->mainloop());
    SinkQuery query;
    if (!queryDefaultSink(*conn, m_timeoutMs, query)) {
        return {};
    }
    int left = -1;
    int right = -1;
    for (int i = 0; i < query.map.channels; ++i) {
        if (left < 0 && isLeft(query.map.map[i])) {
            left = i;
        }
        if (right < 0 && isRight(query.map.map[i])) {
            right = i;
        }
    }
    if (left < 0) {
        left = 0;
    }
    if (right < 0) {
        right = left;
    }
    return {true, pulseToSpeakerVolume(query.volume.values[left]),
            pulseToSpeakerVolume(query.volume.values[right])};
}

bool PulseSpeakerVolume::SetSpeakerVolume(quint32 packed) {
    auto conn = connection();
    if (!conn) {
        return false;
    }
    MainloopLock lock(conn->mainloop());
    SinkQuery sink;
    if (!queryDefaultSink(*conn, m_timeoutMs, sink)) {
        return false;
    }
    const std::uint32_t left = speakerToPulseVolume(static_cast<quint16>(packed & 0xFFFF));
    const std::uint32_t right = speakerToPulseVolume(static_cast<quint16>(packed >> 16));
    pa_cvolume volume = sink.volume;
    for (int i = 0; i < sink.map.channels; ++i) {
        const pa_channel_position_t position = sink.map.map[i];
        volume.values[i] = isLeft(position) ? left : isRight(position) ? right : std::max(left, right);
    }
    if (sink.map.channels == 1) {
        volume.values[0] = left; // a mono output reads back as its left channel
    }
    SetQuery set;
    set.loop = conn->mainloop();
    pa_operation* op =
        pa_context_set_sink_volume_by_index(conn->context(), sink.index, &volume, setDone, &set);
    return conn->waitOperationLocked(op, set.finished, m_timeoutMs) && set.success;
}

} // namespace talvora
