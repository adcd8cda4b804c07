#pragma once

// The bare library calls, without any of the phone's code: the yardstick that tests compare
// the codec's bytes and pixels with, and that benchmarks compare its speed with. Library errors
// end the program (the library's default), which is right for the valid input used here.

#include <QImage>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

namespace talvora::test {

struct ReferenceEncodeOptions {
    int quality = 90;
    J_DCT_METHOD dct = JDCT_FLOAT;
    bool progressive = false;
    const jpeg_scan_info* scans = nullptr; // custom scan script (progressive)
    int scanCount = 0;
    int components = 3; // 1 writes a greyscale file from the red channel
};

// Compresses an RGB888 picture into `out` (grown when needed); returns the size.
inline std::size_t referenceEncode(const QImage& rgb, const ReferenceEncodeOptions& o,
                                   std::vector<uchar>& out) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    if (out.size() < 1024) {
        out.resize(1024);
    }
    unsigned char* buf = out.data();
    unsigned long size = out.size();
    jpeg_mem_dest(&cinfo, &buf, &size);
    cinfo.image_width = JDIMENSION(rgb.width());
    cinfo.image_height = JDIMENSION(rgb.height());
    cinfo.input_components = o.components;
    cinfo.in_color_space = o.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    cinfo.dct_method = o.dct;
    jpeg_set_quality(&cinfo, o.quality, TRUE);
    if (o.progressive) {
        jpeg_simple_progression(&cinfo);
    }
    if (o.scans != nullptr) {
        cinfo.scan_info = o.scans;
        cinfo.num_scans = o.scanCount;
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uchar> grey(o.components == 1 ? std::size_t(rgb.width()) : 0);
    while (cinfo.next_scanline < cinfo.image_height) {
        const uchar* src = rgb.constScanLine(int(cinfo.next_scanline));
        JSAMPROW row = const_cast<JSAMPROW>(src);
        if (o.components == 1) {
            for (int x = 0; x < rgb.width(); ++x) {
                grey[std::size_t(x)] = src[3 * x];
            }
            row = grey.data();
        }
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    if (buf != out.data()) { // the library grew the buffer with malloc
        out.assign(buf, buf + size);
        std::free(buf);
    }
    return std::size_t(size);
}

inline std::vector<uchar> referenceEncode(const QImage& rgb, const ReferenceEncodeOptions& o) {
    std::vector<uchar> out(std::size_t(rgb.width()) * std::size_t(rgb.height()) * 3 + 65536);
    out.resize(referenceEncode(rgb, o, out));
    return out;
}

// Decodes with the receiver's settings (integer DCT, block smoothing) as RGB into `pixels`, rows of
// width * 3 bytes, reading one row per call.
inline bool referenceDecode(const uchar* data, std::size_t size, std::vector<uchar>& pixels, int* width,
                            int* height) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_block_smoothing = TRUE;
    jpeg_start_decompress(&cinfo);
    const std::size_t stride = std::size_t(cinfo.output_width) * 3;
    pixels.resize(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels.data() + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    *width = int(cinfo.output_width);
    *height = int(cinfo.output_height);
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace talvora::test
