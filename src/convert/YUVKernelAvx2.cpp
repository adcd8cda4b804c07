// Built with -mavx2 (see CMakeLists.txt): include nothing here that defines inline functions the
// rest of the program shares, or AVX2 code could end up in them.
#include "convert/YUVKernelAvx2.h"

#include <immintrin.h>

namespace talvora::yuv {
int exceptionalGreen(std::uint8_t y, std::uint8_t u, std::uint8_t v);
}

namespace talvora::yuv::avx2 {

namespace {

// Each channel is floor(n / 256000) clamped to 0..255, where n is the integer sum
// 298082 (Y - 16) + a (U - 128) + b (V - 128). Splitting n = 256000 base + m with small integer
// coefficients in m lets one or two pmaddwd (two 16 x 16-bit products summed into 32 bits) give m
// exactly; m >> 11 then fits 16 bits (256000 = 2^11 * 125), and shifted by a multiple of 125 to be
// non-negative, s / 125 = (s * 33555) >> 22 exactly for s < 59075. packus clamps at the end.
//   blue:  n = 256000 (ly + 2 cb)  + 21041 (2 ly) + 4411 cb
//   green: n = 256000 (ly - cr)    + 21041 (2 ly) + 23940 (2 cr) - 25073 (4 cb) + cb
//   red:   n = 256000 (ly + 2 cr)  + 21041 (2 ly) - 5443 (19 cr)
// with ly = Y - 16, cb = U - 128, cr = V - 128. The constants below fold those offsets and the
// shift that makes s non-negative (625, 9625 and 6750, that is 5, 77 and 54 times 125).
constexpr int kBlueBias = -(21041 * 32 + 4411 * 128) + 625 * 2048;
constexpr int kGreenBias = -(21041 * 32 + 23940 * 256) + 25073 * 512 - 128 + 9625 * 2048;
constexpr int kRedBias = -(21041 * 32) + 5443 * 19 * 128 + 6750 * 2048;
constexpr short kBlueBase = -16 - 256 - 5;
constexpr short kGreenBase = -16 + 128 - 77;
constexpr short kRedBase = -16 - 256 - 54;

inline __m256i quotient(__m256i lo, __m256i hi) {
    const __m256i s = _mm256_packs_epi32(_mm256_srai_epi32(lo, 11), _mm256_srai_epi32(hi, 11));
    return _mm256_srli_epi16(_mm256_mulhi_epu16(s, _mm256_set1_epi16(short(33555))), 6);
}

// y, u, v: 16 pixels as 16-bit words 0..255. Writes 16 B, G, R, 0 pixels; returns a non-zero
// mask when a green sum was a multiple of 2048, the only place the exceptional inputs can be.
inline int convert16(__m256i y, __m256i u, __m256i v, std::uint8_t* dst) {
    const __m256i y2 = _mm256_add_epi16(y, y);
    const __m256i u2 = _mm256_add_epi16(u, u);
    const __m256i u4 = _mm256_add_epi16(u2, u2);
    const __m256i v2 = _mm256_add_epi16(v, v);
    const __m256i v19 = _mm256_mullo_epi16(v, _mm256_set1_epi16(19));

    const __m256i blueK = _mm256_set1_epi32(4411 << 16 | 21041);
    const __m256i blueBias = _mm256_set1_epi32(kBlueBias);
    const __m256i bLo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(y2, u), blueK), blueBias);
    const __m256i bHi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(y2, u), blueK), blueBias);
    const __m256i blue = _mm256_add_epi16(_mm256_add_epi16(quotient(bLo, bHi), _mm256_add_epi16(y, u2)),
                                          _mm256_set1_epi16(kBlueBase));

    const __m256i greenK1 = _mm256_set1_epi32(23940 << 16 | 21041);
    const __m256i greenK2 = _mm256_set1_epi32(1 << 16 | (-25073 & 0xFFFF));
    const __m256i greenBias = _mm256_set1_epi32(kGreenBias);
    const __m256i gLo =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(y2, v2), greenK1),
                                          _mm256_madd_epi16(_mm256_unpacklo_epi16(u4, u), greenK2)),
                         greenBias);
    const __m256i gHi =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(y2, v2), greenK1),
                                          _mm256_madd_epi16(_mm256_unpackhi_epi16(u4, u), greenK2)),
                         greenBias);
    const __m256i green = _mm256_add_epi16(_mm256_add_epi16(quotient(gLo, gHi), _mm256_sub_epi16(y, v)),
                                           _mm256_set1_epi16(kGreenBase));

    const __m256i redK = _mm256_set1_epi32(-5443 << 16 | 21041);
    const __m256i redBias = _mm256_set1_epi32(kRedBias);
    const __m256i rLo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(y2, v19), redK), redBias);
    const __m256i rHi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(y2, v19), redK), redBias);
    const __m256i red = _mm256_add_epi16(_mm256_add_epi16(quotient(rLo, rHi), _mm256_add_epi16(y, v2)),
                                         _mm256_set1_epi16(kRedBase));

    // Bytes b0..b7 r0..r7 | b8..b15 r8..r15 and g0..g7 0.. | g8..g15 0.., then interleaved to
    // B G R 0 per pixel; the words above are in pixel order within each 128-bit half.
    const __m256i br = _mm256_packus_epi16(blue, red);
    const __m256i g0 = _mm256_packus_epi16(green, _mm256_setzero_si256());
    const __m256i bg = _mm256_unpacklo_epi8(br, g0);
    const __m256i r0 = _mm256_unpackhi_epi8(br, _mm256_setzero_si256());
    const __m256i p03 = _mm256_unpacklo_epi16(bg, r0); // pixels 0-3 | 8-11
    const __m256i p47 = _mm256_unpackhi_epi16(bg, r0); // pixels 4-7 | 12-15
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm256_permute2x128_si256(p03, p47, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 32), _mm256_permute2x128_si256(p03, p47, 0x31));

    const __m256i low11 = _mm256_set1_epi32(2047);
    const __m256i rest = _mm256_packs_epi32(_mm256_and_si256(gLo, low11), _mm256_and_si256(gHi, low11));
    return _mm256_movemask_epi8(_mm256_cmpeq_epi16(rest, _mm256_setzero_si256()));
}

// Puts the 15 exceptional greens right among the pixels whose green sum was a multiple of 2048
// (`nearWhole` has two bits per such pixel).
void fixBlock(__m256i y, __m256i u, __m256i v, unsigned nearWhole, std::uint8_t* dst) {
    alignas(32) std::uint16_t ys[16];
    alignas(32) std::uint16_t us[16];
    alignas(32) std::uint16_t vs[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(ys), y);
    _mm256_store_si256(reinterpret_cast<__m256i*>(us), u);
    _mm256_store_si256(reinterpret_cast<__m256i*>(vs), v);
    for (; nearWhole != 0; nearWhole &= nearWhole - 1) {
        const int i = __builtin_ctz(nearWhole) / 2;
        nearWhole &= nearWhole - 1; // the pixel's second bit
        const int green = exceptionalGreen(std::uint8_t(ys[i]), std::uint8_t(us[i]), std::uint8_t(vs[i]));
        if (green >= 0) {
            dst[4 * i + 1] = std::uint8_t(green);
        }
    }
}

inline void convertBlock(__m256i y, __m256i u, __m256i v, std::uint8_t* dst) {
    if (const unsigned nearWhole = unsigned(convert16(y, u, v, dst)); nearWhole != 0) {
        fixBlock(y, u, v, nearWhole, dst);
    }
}

inline __m256i load16Bytes(const std::uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// 8 chroma bytes, each repeated for two pixels, as 16 words.
inline __m256i load8Doubled(const std::uint8_t* p) {
    const __m128i c = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(c, c));
}

// A pshufb mask for 4 pixel pairs (4 bytes each) per 128-bit half: word 2k takes byte `even` of
// pair k, word 2k + 1 takes byte `odd`, both zero-extended.
__m256i wordPicker(int even, int odd) {
    alignas(32) std::uint8_t m[32];
    for (int word = 0; word < 16; ++word) {
        m[2 * word] = std::uint8_t(4 * (word % 8 / 2) + (word % 2 == 0 ? even : odd));
        m[2 * word + 1] = 0x80;
    }
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(m));
}

} // namespace

bool available() {
    return __builtin_cpu_supports("avx2");
}

int packed422(const std::uint8_t* src, std::uint8_t* dst, int pixels, int yAt, int uAt, int vAt) {
    const __m256i pickY = wordPicker(yAt, yAt + 2);
    const __m256i pickU = wordPicker(uAt, uAt);
    const __m256i pickV = wordPicker(vAt, vAt);
    int done = 0;
    for (; done + 16 <= pixels; done += 16) {
        const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2 * done));
        convertBlock(_mm256_shuffle_epi8(raw, pickY), _mm256_shuffle_epi8(raw, pickU),
                     _mm256_shuffle_epi8(raw, pickV), dst + 4 * done);
    }
    return done;
}

int halfChroma(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint8_t* dst,
               int pixels) {
    int done = 0;
    for (; done + 16 <= pixels; done += 16) {
        convertBlock(load16Bytes(y + done), load8Doubled(u + done / 2), load8Doubled(v + done / 2),
                     dst + 4 * done);
    }
    return done;
}

int perPixel(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint8_t* dst,
             int pixels) {
    int done = 0;
    for (; done + 16 <= pixels; done += 16) {
        convertBlock(load16Bytes(y + done), load16Bytes(u + done), load16Bytes(v + done), dst + 4 * done);
    }
    return done;
}

} // namespace talvora::yuv::avx2
