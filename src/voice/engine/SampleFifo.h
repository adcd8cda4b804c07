#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace talvora::voice {

// A first-in first-out store of samples with a capacity fixed at construction, used on one
// thread to cut a device's blocks into frames. Writing past the capacity drops the oldest
// samples: on an audio path, late samples are worth less than new ones.
class SampleFifo {
public:
    explicit SampleFifo(std::size_t capacity) : m_data(capacity) {}

    std::size_t size() const { return m_size; }

    void push(std::span<const std::int16_t> samples) {
        for (std::int16_t s : samples) {
            if (m_size == m_data.size()) {
                m_read = (m_read + 1) % m_data.size();
                --m_size;
            }
            m_data[(m_read + m_size) % m_data.size()] = s;
            ++m_size;
        }
    }

    // Takes exactly out.size() samples; false (nothing taken) when fewer are stored.
    bool pop(std::span<std::int16_t> out) {
        if (out.size() > m_size) {
            return false;
        }
        for (std::int16_t& s : out) {
            s = m_data[m_read];
            m_read = (m_read + 1) % m_data.size();
        }
        m_size -= out.size();
        return true;
    }

    void clear() {
        m_read = 0;
        m_size = 0;
    }

private:
    std::vector<std::int16_t> m_data;
    std::size_t m_read = 0;
    std::size_t m_size = 0;
};

} // namespace talvora::voice
