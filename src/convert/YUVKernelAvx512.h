#pragma once

#include <cstdint>

// 32-pixel AVX-512 (BW and VNNI) versions of the conversion, bit-exact with yuvToRgb. They live in a file of
// their own, compiled for AVX-512BW and VNNI, and run only after available() said yes. Each converts whole
// blocks of 32 pixels and returns how many pixels it converted; the caller converts the rest.
namespace talvora::yuv::avx512 {

bool available();

// Packed 4:2:2 (YUY2, UYVY): 4 bytes per pixel pair, luma at byte yAt and yAt + 2 of each group,
// chroma at uAt and vAt.
int packed422(const std::uint8_t* src, std::uint8_t* dst, int pixels, int yAt, int uAt, int vAt);

// Full-resolution luma with one chroma pair per two pixels (an I420 row).
int halfChroma(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint8_t* dst,
               int pixels);

// One luma and one chroma pair per pixel.
int perPixel(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint8_t* dst,
             int pixels);

} // namespace talvora::yuv::avx512
