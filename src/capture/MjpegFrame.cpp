#include "capture/MjpegFrame.h"

// jpeglib.h needs the declarations of size_t and FILE before it.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

namespace talvora {

namespace {

// A progressive frame is read scan by scan; a hostile one can repeat tiny scans to keep the
// decoder busy. Cameras send baseline pictures.
constexpr int kMaxScans = 100;

// libjpeg reports a fatal error through error_exit, which must not return: it longjmps back to
// runDecode, which therefore holds no C++ object with a destructor.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void onError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings (level -1) mean damaged data the library would paper over with grey blocks: such a
// frame is dropped. Many cameras pad their frames with a few bytes before the end marker; that
// costs nothing and is accepted. Trace messages (level >= 0) are ignored.
void onMessage(j_common_ptr cinfo, int level) {
    if (level < 0 && cinfo->err->msg_code != JWRN_EXTRANEOUS_DATA)
        std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void onOutputMessage(j_common_ptr) {}

void onProgress(j_common_ptr cinfo) {
    if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
        onError(cinfo);
}

struct DecodeJob {
    const uchar* data;
    unsigned long size;
    JDIMENSION width;
    JDIMENSION height;
    unsigned int scaleDenominator;
    JDIMENSION outWidth;
    JDIMENSION outHeight;
    uchar* dst;
    qsizetype dstStride;
    MjpegDecodeStatus status;
};

// Missing Huffman tables need no help: libjpeg-turbo's decoder installs the standard ones
// (those every UVC camera uses) when a frame's scan starts without a DHT segment.
void runDecode(DecodeJob& job) {
    jpeg_decompress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    ErrorManager err;
    jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = onMessage;
    err.pub.output_message = onOutputMessage;
    jpeg_progress_mgr progress;
    std::memset(&progress, 0, sizeof progress);
    progress.progress_monitor = onProgress;
    cinfo.err = &err.pub;
    job.status = MjpegDecodeStatus::Corrupt;
    if (setjmp(err.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, job.data, job.size);
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width > JDIMENSION(kMaxJpegFrameEdge) ||
        cinfo.image_height > JDIMENSION(kMaxJpegFrameEdge) ||
        (cinfo.num_components != 1 && cinfo.num_components != 3)) {
        job.status = MjpegDecodeStatus::Refused;
        jpeg_destroy_decompress(&cinfo);
        return;
    }
    if (cinfo.image_width != job.width || cinfo.image_height != job.height) {
        job.status = MjpegDecodeStatus::WrongSize;
        jpeg_destroy_decompress(&cinfo);
        return;
    }
    cinfo.out_color_space = JCS_EXT_BGR;
    cinfo.scale_num = 1;
    cinfo.scale_denom = job.scaleDenominator;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_width != job.outWidth || cinfo.output_height != job.outHeight ||
        cinfo.output_components != 3)
        onError(reinterpret_cast<j_common_ptr>(&cinfo));
    JSAMPROW rows[16];
    while (cinfo.output_scanline < cinfo.output_height) {
        JDIMENSION count = 0;
        while (count < 16 && cinfo.output_scanline + count < cinfo.output_height) {
            const qsizetype row = qsizetype(cinfo.output_height - 1 - (cinfo.output_scanline + count));
            rows[count] = job.dst + row * job.dstStride;
            ++count;
        }
        if (jpeg_read_scanlines(&cinfo, rows, count) == 0)
            onError(reinterpret_cast<j_common_ptr>(&cinfo));
    }
    // Every row is in: whatever follows the picture data (the end marker, padding) does not
    // matter, so the decoder is abandoned instead of finished.
    job.status = MjpegDecodeStatus::Ok;
    jpeg_destroy_decompress(&cinfo);
}

struct EncodeJob {
    const uchar* rgb;
    JDIMENSION width;
    JDIMENSION height;
    int quality;
    unsigned char* out; // malloc'd by the library's memory destination
    unsigned long outSize;
};

bool runEncode(EncodeJob& job) {
    jpeg_compress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    ErrorManager err;
    jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.output_message = onOutputMessage;
    cinfo.err = &err.pub;
    if (setjmp(err.jump) != 0) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &job.out, &job.outSize);
    cinfo.image_width = job.width;
    cinfo.image_height = job.height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, job.quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    // The standard tables stay unwritten, as UVC cameras leave them out.
    for (int i = 0; i < NUM_HUFF_TBLS; ++i) {
        if (cinfo.dc_huff_tbl_ptrs[i])
            cinfo.dc_huff_tbl_ptrs[i]->sent_table = TRUE;
        if (cinfo.ac_huff_tbl_ptrs[i])
            cinfo.ac_huff_tbl_ptrs[i]->sent_table = TRUE;
    }
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uchar*>(job.rgb) + std::size_t(cinfo.next_scanline) * job.width * 3;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

int scaleDenominatorFor(int width) {
    return width >= kMjpegHalfSizeWidth ? 2 : 1;
}

} // namespace

QSize mjpegDeliveredSize(int width, int height) {
    const int d = scaleDenominatorFor(width);
    return {(width + d - 1) / d, (height + d - 1) / d};
}

QByteArray encodeMjpegFrame(const uchar* rgb, int width, int height, int quality) {
    if (rgb == nullptr || width <= 0 || height <= 0 || width > kMaxJpegFrameEdge ||
        height > kMaxJpegFrameEdge)
        return {};
    EncodeJob job{rgb, JDIMENSION(width), JDIMENSION(height), quality, nullptr, 0};
    const bool ok = runEncode(job);
    QByteArray out;
    if (ok && job.out)
        out = QByteArray(reinterpret_cast<const char*>(job.out), qsizetype(job.outSize));
    std::free(job.out);
    return out;
}

MjpegDecodeStatus decodeMjpegFrame(const uchar* data, qsizetype size, int width, int height, uchar* dst,
                                   qsizetype dstStride) {
    if (data == nullptr || size < 4 || dst == nullptr || width <= 0 || height <= 0 ||
        width > kMaxJpegFrameEdge || height > kMaxJpegFrameEdge)
        return MjpegDecodeStatus::Refused;
    const QSize out = mjpegDeliveredSize(width, height);
    if (dstStride < qsizetype(out.width()) * 3)
        return MjpegDecodeStatus::Refused;
    DecodeJob job{data,
                  static_cast<unsigned long>(size),
                  JDIMENSION(width),
                  JDIMENSION(height),
                  unsigned(scaleDenominatorFor(width)),
                  JDIMENSION(out.width()),
                  JDIMENSION(out.height()),
                  dst,
                  dstStride,
                  MjpegDecodeStatus::Corrupt};
    runDecode(job);
    return job.status;
}

} // namespace talvora
