// Built with -mavx2 (see CMakeLists.txt) and called only after avx2::available() said yes. It
// includes no header with inline functions shared with the rest of the program.
#include <immintrin.h>

namespace talvora::repack::avx2 {

using uchar = unsigned char;

bool available() {
    return __builtin_cpu_supports("avx2");
}

int bgrxToRgb(const uchar* src, uchar* dst, int pixels) {
    // Per 128-bit lane: 4 pixels to 12 bytes R G B, then the two lanes' 12 bytes side by side.
    const __m256i pick = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, //
                                          2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    int done = 0;
    for (; done + 11 <= pixels; done += 8) {
        const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * done));
        const __m256i out = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(in, pick), join);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 3 * done), out);
    }
    return done;
}

int bgrToRgb(const uchar* src, uchar* dst, int pixels) {
    // Lane 0 takes bytes 0-15 and lane 1 bytes 12-27: each holds 4 whole pixels at its start.
    const __m256i pick = _mm256_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, -1, -1, -1, -1, //
                                          2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, -1, -1, -1, -1);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    int done = 0;
    for (; done + 11 <= pixels; done += 8) {
        const uchar* s = src + 3 * done;
        const __m256i in = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(s + 12),
                                               reinterpret_cast<const __m128i*>(s));
        const __m256i out = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(in, pick), join);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 3 * done), out);
    }
    return done;
}

} // namespace talvora::repack::avx2
