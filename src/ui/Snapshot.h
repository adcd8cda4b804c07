#pragma once

#include <QImage>

class QClipboard;

namespace talvora {

class PictureView;

// The snapshot (SpeedButton6Click): the picture on show goes to the clipboard as an image.
// Nothing is written to disk. Returns false, leaving the clipboard alone, when there is no
// picture. `clipboard` defaults to the application's.
bool copyPictureToClipboard(const QImage& picture, QClipboard* clipboard = nullptr);
bool takeSnapshot(const PictureView& view, QClipboard* clipboard = nullptr);

} // namespace talvora
