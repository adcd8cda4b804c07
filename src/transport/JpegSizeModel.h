#pragma once

#include <QtGlobal>

namespace talvora {

// Predicts how large a picture will be at a JPEG quality from how large the last one was at
// its own. Pictures of one camera change little from one to the next, and the size of a
// picture falls with the quality along much the same curve whatever the picture (measured on
// webcam-like scenes, see kRelativeJpegBytes), so one number, the picture's size at quality
// 100, carries the prediction; each picture encoded corrects it.
class JpegSizeModel {
public:
    bool known() const { return m_bytesAt100 > 0; }
    void forget() { m_bytesAt100 = 0; }

    // A picture came to `bytes` at `quality`.
    void observe(int quality, qsizetype bytes);
    // A picture came to more than `bytes` at `quality` (the encoder stopped there).
    void observeAbove(int quality, qsizetype bytes);

    // The predicted size at `quality` (1..100); 0 while nothing is known.
    qsizetype bytesAt(int quality) const;
    // The highest quality (1..100) predicted to come to at most `bytes`; 1 when none does, 100
    // while nothing is known.
    int qualityFor(qsizetype bytes) const;

private:
    double m_bytesAt100 = 0;
};

// The size of a picture at each quality (index 1..100) as a share of its size at quality 100.
double relativeJpegBytes(int quality);

} // namespace talvora
