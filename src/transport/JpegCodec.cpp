#include "transport/JpegCodec.h"

#include "base/Error.h"

// jpeglib.h needs the declarations of size_t and FILE before it.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace talvora {
namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return: we longjmp back to
// the function that started the library calls. Those functions (runEncode, runDecode) therefore
// hold no C++ object with a destructor, and pass their results out through plain structs.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool stopOnWarning;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void failWith(j_common_ptr cinfo, const char* text) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::snprintf(err->message, sizeof err->message, "%s", text);
    std::longjmp(err->jump, 1);
}

[[noreturn]] void onError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Level -1 is a warning (corrupt or truncated data that the library would paper over); higher
// levels are trace messages. Nothing is printed: the phone does not log.
void onMessage(j_common_ptr cinfo, int level) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (level >= 0) {
        return;
    }
    ++err->pub.num_warnings;
    if (err->stopOnWarning) {
        (*cinfo->err->format_message)(cinfo, err->message);
        std::longjmp(err->jump, 1);
    }
}

void onOutputMessage(j_common_ptr) {}

void installErrorManager(ErrorManager& err, bool stopOnWarning) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = onMessage;
    err.pub.output_message = onOutputMessage;
    err.stopOnWarning = stopOnWarning;
    err.message[0] = '\0';
}

// ---- encoding -------------------------------------------------------------------------------

// Writes the compressed file straight into the caller's buffer. The library asks for more room
// as soon as the buffer is full, even when the file ends with that byte, so a small spill area
// takes what follows: a picture that writes into it is too large. Filling the spill area too
// ends the compression at once; compressing the rest would only burn time.
struct FixedDestination {
    jpeg_destination_mgr pub;
    JOCTET* begin;
    std::size_t capacity;
    bool spilled;
    bool overflow;
    JOCTET spill[16];
};

void destinationInit(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<FixedDestination*>(cinfo->dest);
    dest->pub.next_output_byte = dest->begin;
    dest->pub.free_in_buffer = dest->capacity;
}

boolean destinationFull(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<FixedDestination*>(cinfo->dest);
    if (!dest->spilled) {
        dest->spilled = true;
        dest->pub.next_output_byte = dest->spill;
        dest->pub.free_in_buffer = sizeof dest->spill;
        return TRUE;
    }
    dest->overflow = true;
    failWith(reinterpret_cast<j_common_ptr>(cinfo), "picture larger than the output buffer");
}

void destinationTerm(j_compress_ptr) {}

struct EncodeJob {
    const uchar* pixels;
    qsizetype stride;
    int bytesPerPixel; // 3: R, G, B; 4: B, G, R, X
    int width;
    int height;
    int quality;
    uchar* out;
    std::size_t capacity;
    std::size_t written;
    bool overflow;
    char message[JMSG_LENGTH_MAX];
};

bool runEncode(EncodeJob& job) {
    jpeg_compress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    ErrorManager err;
    installErrorManager(err, false);
    FixedDestination dest;
    std::memset(&dest, 0, sizeof dest);
    dest.pub.init_destination = destinationInit;
    dest.pub.empty_output_buffer = destinationFull;
    dest.pub.term_destination = destinationTerm;
    dest.begin = job.out;
    dest.capacity = job.capacity;

    cinfo.err = &err.pub;
    if (setjmp(err.jump) != 0) {
        job.overflow = dest.overflow;
        std::memcpy(job.message, err.message, sizeof job.message);
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    cinfo.dest = &dest.pub;
    cinfo.image_width = JDIMENSION(job.width);
    cinfo.image_height = JDIMENSION(job.height);
    // libjpeg-turbo reads Qt's RGB32 (B, G, R, X in memory) directly, with its SIMD colour
    // conversion: no 24-bit copy of the picture is made.
    cinfo.input_components = job.bytesPerPixel;
    cinfo.in_color_space = job.bytesPerPixel == 4 ? JCS_EXT_BGRX : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    // The integer DCT: libjpeg-turbo's fastest accurate one (the floating-point one is slower
    // and no more accurate), and no decoder can tell which made the picture.
    cinfo.dct_method = JDCT_ISLOW;
    jpeg_set_quality(&cinfo, job.quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);

    JSAMPROW rows[16];
    while (cinfo.next_scanline < cinfo.image_height) {
        JDIMENSION count = 0;
        while (count < 16 && cinfo.next_scanline + count < cinfo.image_height) {
            rows[count] =
                const_cast<JSAMPROW>(job.pixels + qsizetype(cinfo.next_scanline + count) * job.stride);
            ++count;
        }
        jpeg_write_scanlines(&cinfo, rows, count);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    if (dest.spilled) {
        job.overflow = dest.pub.free_in_buffer < sizeof dest.spill;
        if (job.overflow) {
            return false;
        }
        job.written = job.capacity;
    } else {
        job.written = job.capacity - dest.pub.free_in_buffer;
    }
    return true;
}

// ---- decoding -------------------------------------------------------------------------------

using AllocateRows = uchar* (*)(void* context, int width, int height, qsizetype* stride);

struct DecodeJob {
    const uchar* data;
    std::size_t size;
    bool headerOnly;
    AllocateRows allocate; // called once the header has passed every check
    void* context;
    JpegHeaderInfo header;
    char message[JMSG_LENGTH_MAX];
};

// A progressive file is read scan by scan in jpeg_start_decompress; the progress monitor runs
// between them and stops a file that carries more scans than any sane encoder writes.
void onProgress(j_common_ptr cinfo) {
    if (cinfo->is_decompressor) {
        auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (d->input_scan_number > kMaxProgressiveScans) {
            failWith(cinfo, "too many scans");
        }
    }
}

// Returns null when the header is acceptable, else the reason. Plain C strings: this runs
// inside the longjmp frame.
const char* refusalOf(const jpeg_decompress_struct& cinfo) {
    if (cinfo.num_components != 1 && cinfo.num_components != 3) {
        return "unsupported number of colour components";
    }
    if (cinfo.image_width == 0 || cinfo.image_height == 0) {
        return "empty picture";
    }
    if (cinfo.image_width > JDIMENSION(kMaxPictureSidePx) ||
        cinfo.image_height > JDIMENSION(kMaxPictureSidePx)) {
        return "picture wider or higher than 4096 pixels";
    }
    return nullptr;
}

bool runDecode(DecodeJob& job) {
    jpeg_decompress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    ErrorManager err;
    installErrorManager(err, true);
    jpeg_progress_mgr progress;
    std::memset(&progress, 0, sizeof progress);
    progress.progress_monitor = onProgress;

    cinfo.err = &err.pub;
    if (setjmp(err.jump) != 0) {
        std::memcpy(job.message, err.message, sizeof job.message);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, job.data, static_cast<unsigned long>(job.size));
    jpeg_read_header(&cinfo, TRUE);

    job.header.width = int(cinfo.image_width);
    job.header.height = int(cinfo.image_height);
    job.header.components = cinfo.num_components;
    job.header.progressive = cinfo.progressive_mode != 0;
    job.header.arithmetic = cinfo.arith_code != 0;
    if (const char* refusal = refusalOf(cinfo)) {
        failWith(reinterpret_cast<j_common_ptr>(&cinfo), refusal);
    }
    if (job.headerOnly) {
        jpeg_destroy_decompress(&cinfo);
        return true;
    }

    cinfo.out_color_space = JCS_EXT_BGRX;
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_block_smoothing = TRUE;
    qsizetype stride = 0;
    uchar* pixels = job.allocate(job.context, int(cinfo.image_width), int(cinfo.image_height), &stride);
    if (pixels == nullptr) {
        failWith(reinterpret_cast<j_common_ptr>(&cinfo), "out of memory for the picture");
    }
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_width != cinfo.image_width || cinfo.output_height != cinfo.image_height ||
        cinfo.output_components != 4) {
        failWith(reinterpret_cast<j_common_ptr>(&cinfo), "unexpected output layout");
    }
    JSAMPROW rows[8];
    while (cinfo.output_scanline < cinfo.output_height) {
        JDIMENSION count = 0;
        while (count < 8 && cinfo.output_scanline + count < cinfo.output_height) {
            rows[count] = pixels + qsizetype(cinfo.output_scanline + count) * stride;
            ++count;
        }
        if (jpeg_read_scanlines(&cinfo, rows, count) == 0) {
            failWith(reinterpret_cast<j_common_ptr>(&cinfo), "decoder made no progress");
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

struct ImageTarget {
    QImage image;
};

uchar* allocateImage(void* context, int width, int height, qsizetype* stride) {
    auto* target = static_cast<ImageTarget*>(context);
    target->image = QImage(width, height, QImage::Format_RGB32);
    if (target->image.isNull()) {
        return nullptr;
    }
    *stride = target->image.bytesPerLine();
    return target->image.bits();
}

} // namespace

JpegEncodeResult encodeJpeg(const QImage& picture, int quality, uchar* out, qsizetype capacity) {
    JpegEncodeResult result;
    if (picture.isNull() || picture.width() <= 0 || picture.height() <= 0) {
        result.error = QStringLiteral("no picture to encode");
        return result;
    }
    if (picture.width() > JPEG_MAX_DIMENSION || picture.height() > JPEG_MAX_DIMENSION) {
        result.error = QStringLiteral("picture too large for JPEG");
        return result;
    }
    if (out == nullptr || capacity <= 0) {
        result.status = JpegEncodeStatus::TooLarge;
        return result;
    }
    // Frames arrive in one of the two already; anything else is converted once here.
    const bool direct = picture.format() == QImage::Format_RGB32 || picture.format() == QImage::Format_RGB888;
    const QImage rgb = direct ? picture : picture.convertToFormat(QImage::Format_RGB32);

    EncodeJob job{};
    job.pixels = rgb.constBits();
    job.bytesPerPixel = rgb.format() == QImage::Format_RGB888 ? 3 : 4;
    job.stride = rgb.bytesPerLine();
    job.width = rgb.width();
    job.height = rgb.height();
    job.quality = qBound(kMinJpegQuality, quality, kMaxJpegQuality);
    job.out = out;
    job.capacity = std::size_t(capacity);
    if (runEncode(job)) {
        result.status = JpegEncodeStatus::Ok;
        result.size = qsizetype(job.written);
    } else if (job.overflow) {
        result.status = JpegEncodeStatus::TooLarge;
    } else {
        result.error = QString::fromLocal8Bit(job.message);
    }
    return result;
}

QByteArray encodeJpeg(const QImage& picture, int quality) {
    // Generous: a JPEG file at quality 100 stays well below 3 bytes per pixel plus the headers.
    const qsizetype capacity = qsizetype(picture.width()) * picture.height() * 3 + 64 * 1024;
    QByteArray bytes(capacity, Qt::Uninitialized);
    const JpegEncodeResult r = encodeJpeg(picture, quality, reinterpret_cast<uchar*>(bytes.data()), capacity);
    if (r.status != JpegEncodeStatus::Ok) {
        throw Error(r.error.isEmpty() ? QStringLiteral("JPEG picture too large") : r.error);
    }
    bytes.truncate(r.size);
    return bytes;
}

std::optional<JpegHeaderInfo> probeJpeg(const uchar* data, qsizetype size) {
    if (data == nullptr || size <= 0) {
        return std::nullopt;
    }
    DecodeJob job{};
    job.data = data;
    job.size = std::size_t(size);
    job.headerOnly = true;
    // A header with refused dimensions still reports them; only unreadable bytes give nothing.
    if (runDecode(job) || job.header.width > 0) {
        return job.header;
    }
    return std::nullopt;
}

QImage decodeJpeg(const uchar* data, qsizetype size, QString* reason) {
    if (data == nullptr || size <= 0) {
        if (reason) {
            *reason = QStringLiteral("empty datagram");
        }
        return {};
    }
    ImageTarget target;
    DecodeJob job{};
    job.data = data;
    job.size = std::size_t(size);
    job.allocate = allocateImage;
    job.context = &target;
    if (!runDecode(job)) {
        if (reason) {
            *reason = QString::fromLocal8Bit(job.message);
        }
        return {};
    }
    return std::move(target.image);
}

} // namespace talvora
