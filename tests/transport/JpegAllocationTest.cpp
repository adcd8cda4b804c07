// Watches the sizes the process asks malloc for while a hostile picture is decoded: a header
// claiming a huge picture must be refused before any buffer of that size is requested. The
// phone's code and libjpeg both allocate through malloc (QImage too), so a thin wrapper over
// glibc's own allocator sees every request. Not available under AddressSanitizer, which owns
// malloc itself.
#include "transport/JpegCodec.h"

#include "transport/TestPictures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TALVORA_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TALVORA_TEST_ASAN 1
#endif

#ifndef TALVORA_TEST_ASAN
namespace {
std::atomic<bool> g_watching{false};
std::atomic<std::size_t> g_largestRequest{0};
} // namespace

extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* malloc(std::size_t size) {
    if (g_watching.load(std::memory_order_relaxed)) {
        std::size_t seen = g_largestRequest.load(std::memory_order_relaxed);
        while (size > seen && !g_largestRequest.compare_exchange_weak(seen, size)) {
        }
    }
    return __libc_malloc(size);
}
#endif

namespace talvora {
namespace {

#ifndef TALVORA_TEST_ASAN
template <class Body> std::size_t largestMallocDuring(Body&& body) {
    g_largestRequest = 0;
    g_watching = true;
    body();
    g_watching = false;
    return g_largestRequest;
}
#endif

TEST(JpegDecoderAllocation, HugeHeaderIsRefusedBeforeAnyLargeAllocation) {
#ifdef TALVORA_TEST_ASAN
    GTEST_SKIP() << "malloc belongs to AddressSanitizer in this build";
#else
    const QImage picture = test::cameraLikePicture(640, 480);
    const QByteArray good = encodeJpeg(picture, 90);
    // The watcher works: a real 640x480 picture needs its 900 KB pixel buffer.
    const std::size_t forGood = largestMallocDuring([&] {
        EXPECT_FALSE(decodeJpeg(reinterpret_cast<const uchar*>(good.constData()), good.size()).isNull());
    });
    EXPECT_GE(forGood, std::size_t(640 * 480 * 3));

    QByteArray huge = encodeJpeg(test::cameraLikePicture(16, 16), 50);
    const qsizetype sof = huge.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    huge[sof + 5] = char(0xFD); // height 65000 = 0xFDE8
    huge[sof + 6] = char(0xE8);
    huge[sof + 7] = char(0xFD); // width 65000
    huge[sof + 8] = char(0xE8);
    const std::size_t forHuge = largestMallocDuring([&] {
        EXPECT_TRUE(decodeJpeg(reinterpret_cast<const uchar*>(huge.constData()), huge.size()).isNull());
    });
    EXPECT_LT(forHuge, std::size_t(256 * 1024)) << "only the library's small tables and state";
#endif
}

} // namespace
} // namespace talvora
