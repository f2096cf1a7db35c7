// JPEG test helpers: libjpeg called directly (memory source, default
// settings) as the reference decoder, and a libjpeg encoder for fixtures.
#pragma once

#include <csetjmp>
#include <cstdio>
#include <vector>

#include "support.h"

#include <jpeglib.h>

namespace imagetest {

struct ReferenceJpeg {
  bool ok = false;
  uint32_t width = 0, height = 0, components = 0;
  std::vector<uint8_t> samples;  // rows of width x components
};

struct JpegErrorJump {
  jpeg_error_mgr manager;
  jmp_buf jump;
};

inline void jumpOnError(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JpegErrorJump*>(cinfo->err)->jump, 1); }

inline ReferenceJpeg referenceDecode(const std::vector<uint8_t>& file, J_DCT_METHOD method = JDCT_ISLOW) {
  ReferenceJpeg out;
  jpeg_decompress_struct cinfo;
  JpegErrorJump err;
  cinfo.err = jpeg_std_error(&err.manager);
  err.manager.error_exit = jumpOnError;
  err.manager.output_message = [](j_common_ptr) {};
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    out.ok = false;
    return out;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.dct_method = method;
  jpeg_start_decompress(&cinfo);
  out.width = cinfo.output_width;
  out.height = cinfo.output_height;
  out.components = cinfo.output_components;
  out.samples.resize(static_cast<size_t>(out.width) * out.height * out.components);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out.samples.data() + static_cast<size_t>(cinfo.output_scanline) * out.width * out.components;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  out.ok = true;
  return out;
}

// Encodes samples (1 or 3 components) as a baseline or progressive JPEG.
inline std::vector<uint8_t> encodeJpeg(const std::vector<uint8_t>& samples, uint32_t w, uint32_t h, int components,
                                       bool progressive, int quality = 90) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = w;
  cinfo.image_height = h;
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < h) {
    JSAMPROW row = const_cast<uint8_t*>(samples.data()) + static_cast<size_t>(cinfo.next_scanline) * w * components;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

inline std::vector<uint8_t> testSamples(uint32_t w, uint32_t h, int components) {
  std::vector<uint8_t> s(static_cast<size_t>(w) * h * components);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      for (int c = 0; c < components; ++c)
        s[(static_cast<size_t>(y) * w + x) * components + c] =
            static_cast<uint8_t>((x * (3 + c) + y * (5 - c) + ((x ^ y) & 16) * 4) & 0xFF);
  return s;
}

// Our decode against the reference samples: colour records hold
// (red << 16 | green << 8 | blue) with a zero top byte, grey ones the sample.
inline ::testing::AssertionResult sameAsReference(const DecodedImage& img, const ReferenceJpeg& ref) {
  if (!ref.ok) return ::testing::AssertionFailure() << "reference decode failed";
  if (img.width != ref.width || img.height != ref.height)
    return ::testing::AssertionFailure() << "size " << img.width << "x" << img.height;
  for (uint32_t y = 0; y < img.height; ++y)
    for (uint32_t x = 0; x < img.width; ++x) {
      const uint8_t* r = ref.samples.data() + (static_cast<size_t>(y) * ref.width + x) * ref.components;
      if (ref.components == 1) {
        if (img.pixels[static_cast<size_t>(y) * img.rowPitch + x] != r[0])
          return ::testing::AssertionFailure() << "grey pixel " << x << "," << y;
      } else {
        uint32_t v;
        std::memcpy(&v, img.pixels + static_cast<size_t>(y) * img.rowPitch + 4 * x, 4);
        uint32_t expected = (static_cast<uint32_t>(r[0]) << 16) | (r[1] << 8) | r[2];
        if (v != expected)
          return ::testing::AssertionFailure() << "pixel " << x << "," << y << ": " << std::hex << v << " vs "
                                               << expected;
      }
    }
  return ::testing::AssertionSuccess();
}

}  // namespace imagetest
