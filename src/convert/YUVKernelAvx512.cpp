// Built with -mavx512bw (see CMakeLists.txt): include nothing here that defines inline functions the
// rest of the program shares, or AVX-512 code could end up in them.
#include "convert/YUVKernelAvx512.h"

#include <immintrin.h>

namespace talvora::yuv {
int exceptionalGreen(std::uint8_t y, std::uint8_t u, std::uint8_t v);
}

namespace talvora::yuv::avx512 {

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

inline __m512i quotient(__m512i lo, __m512i hi) {
    const __m512i s = _mm512_packs_epi32(_mm512_srai_epi32(lo, 11), _mm512_srai_epi32(hi, 11));
    return _mm512_srli_epi16(_mm512_mulhi_epu16(s, _mm512_set1_epi16(short(33555))), 6);
}

// y, u, v: 32 pixels as 16-bit words 0..255. Writes 32 B, G, R, 0 pixels; returns a non-zero
// mask when a green sum was a multiple of 2048, the only place the exceptional inputs can be.
inline std::uint32_t convert32(__m512i y, __m512i u, __m512i v, std::uint8_t* dst) {
    const __m512i y2 = _mm512_add_epi16(y, y);
    const __m512i u2 = _mm512_add_epi16(u, u);
    const __m512i u4 = _mm512_add_epi16(u2, u2);
    const __m512i v2 = _mm512_add_epi16(v, v);
    const __m512i v19 = _mm512_mullo_epi16(v, _mm512_set1_epi16(19));

    const __m512i blueK = _mm512_set1_epi32(4411 << 16 | 21041);
    const __m512i blueBias = _mm512_set1_epi32(kBlueBias);
    const __m512i bLo = _mm512_dpwssd_epi32(blueBias, _mm512_unpacklo_epi16(y2, u), blueK);
    const __m512i bHi = _mm512_dpwssd_epi32(blueBias, _mm512_unpackhi_epi16(y2, u), blueK);
    const __m512i blue = _mm512_add_epi16(_mm512_add_epi16(quotient(bLo, bHi), _mm512_add_epi16(y, u2)),
                                          _mm512_set1_epi16(kBlueBase));

    const __m512i greenK1 = _mm512_set1_epi32(23940 << 16 | 21041);
    const __m512i greenK2 = _mm512_set1_epi32(1 << 16 | (-25073 & 0xFFFF));
    const __m512i greenBias = _mm512_set1_epi32(kGreenBias);
    const __m512i gLo =
        _mm512_dpwssd_epi32(_mm512_dpwssd_epi32(greenBias, _mm512_unpacklo_epi16(y2, v2), greenK1),
                            _mm512_unpacklo_epi16(u4, u), greenK2);
    const __m512i gHi =
        _mm512_dpwssd_epi32(_mm512_dpwssd_epi32(greenBias, _mm512_unpackhi_epi16(y2, v2), greenK1),
                            _mm512_unpackhi_epi16(u4, u), greenK2);
    const __m512i green = _mm512_add_epi16(_mm512_add_epi16(quotient(gLo, gHi), _mm512_sub_epi16(y, v)),
                                           _mm512_set1_epi16(kGreenBase));

    const __m512i redK = _mm512_set1_epi32(-5443 << 16 | 21041);
    const __m512i redBias = _mm512_set1_epi32(kRedBias);
    const __m512i rLo = _mm512_dpwssd_epi32(redBias, _mm512_unpacklo_epi16(y2, v19), redK);
    const __m512i rHi = _mm512_dpwssd_epi32(redBias, _mm512_unpackhi_epi16(y2, v19), redK);
    const __m512i red = _mm512_add_epi16(_mm512_add_epi16(quotient(rLo, rHi), _mm512_add_epi16(y, v2)),
                                         _mm512_set1_epi16(kRedBase));

    // Per 128-bit lane, bytes b0..b7 r0..r7 and g0..g7 0..0, then interleaved to B G R 0 per
    // pixel; the words above are in pixel order within each lane.
    const __m512i br = _mm512_packus_epi16(blue, red);
    const __m512i g0 = _mm512_packus_epi16(green, _mm512_setzero_si512());
    const __m512i bg = _mm512_unpacklo_epi8(br, g0);
    const __m512i r0 = _mm512_unpackhi_epi8(br, _mm512_setzero_si512());
    const __m512i low = _mm512_unpacklo_epi16(bg, r0);  // pixels 0-3 | 8-11 | 16-19 | 24-27
    const __m512i high = _mm512_unpackhi_epi16(bg, r0); // pixels 4-7 | 12-15 | 20-23 | 28-31
    _mm512_storeu_si512(dst,
                        _mm512_permutex2var_epi64(low, _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11), high));
    _mm512_storeu_si512(dst + 64,
                        _mm512_permutex2var_epi64(low, _mm512_setr_epi64(4, 5, 12, 13, 6, 7, 14, 15), high));

    // Bit j of the low half stands for 32-bit lane j of gLo, of the high half for lane j of gHi.
    const __m512i low11 = _mm512_set1_epi32(2047);
    return std::uint32_t(_mm512_testn_epi32_mask(gLo, low11)) |
           std::uint32_t(_mm512_testn_epi32_mask(gHi, low11)) << 16;
}

// Puts the 15 exceptional greens right among the pixels whose green sum was a multiple of 2048
// (`nearWhole` as convert32 returns it).
void fixBlock(__m512i y, __m512i u, __m512i v, std::uint32_t nearWhole, std::uint8_t* dst) {
    alignas(64) std::uint16_t ys[32];
    alignas(64) std::uint16_t us[32];
    alignas(64) std::uint16_t vs[32];
    _mm512_store_si512(ys, y);
    _mm512_store_si512(us, u);
    _mm512_store_si512(vs, v);
    for (std::uint32_t bits = nearWhole; bits != 0; bits &= bits - 1) {
        // 32-bit lane j of the unpacked low (high) words is pixel 8 (j / 4) + j % 4 (+ 4).
        const int bit = __builtin_ctz(bits);
        const int lane = bit % 16;
        const int i = 8 * (lane / 4) + lane % 4 + (bit >= 16 ? 4 : 0);
        const int green = exceptionalGreen(std::uint8_t(ys[i]), std::uint8_t(us[i]), std::uint8_t(vs[i]));
        if (green >= 0) {
            dst[4 * i + 1] = std::uint8_t(green);
        }
    }
}

inline void convertBlock(__m512i y, __m512i u, __m512i v, std::uint8_t* dst) {
    if (const std::uint32_t nearWhole = convert32(y, u, v, dst); nearWhole != 0) {
        fixBlock(y, u, v, nearWhole, dst);
    }
}

inline __m512i load32Bytes(const std::uint8_t* p) {
    return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

// 16 chroma bytes, each repeated for two pixels, as 32 words.
inline __m512i load16Doubled(const std::uint8_t* p) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return _mm512_cvtepu8_epi16(_mm256_set_m128i(_mm_unpackhi_epi8(c, c), _mm_unpacklo_epi8(c, c)));
}

// A pshufb mask for 4 pixel pairs (4 bytes each) per 128-bit lane: word 2k takes byte `even` of
// pair k, word 2k + 1 takes byte `odd`, both zero-extended.
__m512i wordPicker(int even, int odd) {
    alignas(64) std::uint8_t m[64];
    for (int word = 0; word < 32; ++word) {
        m[2 * word] = std::uint8_t(4 * (word % 8 / 2) + (word % 2 == 0 ? even : odd));
        m[2 * word + 1] = 0x80;
    }
    return _mm512_load_si512(m);
}

} // namespace

bool available() {
    return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vnni");
}

int packed422(const std::uint8_t* src, std::uint8_t* dst, int pixels, int yAt, int uAt, int vAt) {
    const __m512i pickY = wordPicker(yAt, yAt + 2);
    const __m512i pickU = wordPicker(uAt, uAt);
    const __m512i pickV = wordPicker(vAt, vAt);
    int done = 0;
    for (; done + 32 <= pixels; done += 32) {
        const __m512i raw = _mm512_loadu_si512(src + 2 * done);
        convertBlock(_mm512_shuffle_epi8(raw, pickY), _mm512_shuffle_epi8(raw, pickU),
                     _mm512_shuffle_epi8(raw, pickV), dst + 4 * done);
    }
    return done;
}

int halfChroma(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint8_t* dst,
               int pixels) {
    int done = 0;
    for (; done + 32 <= pixels; done += 32) {
        convertBlock(load32Bytes(y + done), load16Doubled(u + done / 2), load16Doubled(v + done / 2),
                     dst + 4 * done);
    }
    return done;
}

int perPixel(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint8_t* dst,
             int pixels) {
    int done = 0;
    for (; done + 32 <= pixels; done += 32) {
        convertBlock(load32Bytes(y + done), load32Bytes(u + done), load32Bytes(v + done), dst + 4 * done);
    }
    return done;
}

} // namespace talvora::yuv::avx512
