#pragma once

#include <QtGlobal>

#include <vector>

namespace talvora {

// What a webcam sees of a room: a plastered wall lit from a window with clouds and leaves
// outside, a poster, a bookshelf and a desk, and a person before them who sways and nods; every
// frame carries its own sensor grain. Its pictures compress as a webcam's
// do (a 384 x 288 picture at JPEG quality 100 takes 40 to 60 kB), where the plain patterns take
// a few kilobytes and so never show what a real picture costs the network.
//
// The still parts, the person and a table of grain are made once per size; a frame then costs a
// copy, the person laid over it at its place and the grain added from its own point in the table.
class TestPatternScene {
public:
    // The motion and the noise repeat after this many frames (3 s at 30 frames a second), so that
    // a renderer may keep the frames of one cycle.
    static constexpr int kCycleFrames = 90;

    // Draws frame `frameNumber` (only its place in the cycle counts) as top-down RGB, 3 bytes a
    // pixel. Without `moving` the person stays in place; the noise still changes.
    void draw(int width, int height, quint64 frameNumber, bool moving, uchar* rgb);

private:
    void build(int width, int height);

    int m_width = 0;
    int m_height = 0;
    std::vector<uchar> m_background; // RGB, the room without the person
    // The person: RGB and coverage (0..255) of a box whose top-left corner stands at
    // (m_personX, m_personY) when the person is at rest.
    std::vector<uchar> m_person;
    std::vector<uchar> m_coverage;
    int m_personX = 0;
    int m_personY = 0;
    int m_personWidth = 0;
    int m_personHeight = 0;
    // Sensor grain for every pixel of a frame, and more: each frame of the cycle reads from its
    // own offset.
    std::vector<qint8> m_noise;
};

} // namespace talvora
