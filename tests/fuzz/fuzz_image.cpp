// libFuzzer targets for the image loader. Built twice by run.sh:
//   FUZZ_DECODERS undefined: the whole loader, with and without pixels;
//   FUZZ_DECODERS defined:   one decoder chosen by the first byte, so every
//                            container's rules are reached directly.
// Every record that comes back is read from end to end, so a pixel pointer
// or pitch that reaches outside the input (or an owned buffer) is caught by
// AddressSanitizer.
#include <cstddef>
#include <cstdint>

#include "image/image.h"
#include "pixel/format_table.h"

namespace {

using nerro::image::DecodedImage;

volatile uint32_t gSink;

bool isBlockFormat(D3DFORMAT f) {
  return f == D3DFMT_DXT1 || f == D3DFMT_DXT2 || f == D3DFMT_DXT3 || f == D3DFMT_DXT4 || f == D3DFMT_DXT5;
}
bool isPairFormat(D3DFORMAT f) {
  return f == D3DFMT_YUY2 || f == D3DFMT_UYVY || f == D3DFMT_R8G8_B8G8 || f == D3DFMT_G8R8_G8B8;
}

// Reads the bytes a record says it holds.
void touch(const DecodedImage& img) {
  if (img.pixels == nullptr) return;
  uint32_t sum = 0;
  uint64_t rows, rowBytes;
  if (isBlockFormat(img.format)) {
    rows = (img.height + 3) / 4;
    rowBytes = img.rowPitch;
  } else if (isPairFormat(img.format)) {
    rows = img.height;
    rowBytes = img.rowPitch;
  } else {
    rows = img.height;
    rowBytes = (static_cast<uint64_t>(img.width) * nerro::pixel::FindFormatDescriptor(img.format).bitsPerPixel + 7) / 8;
  }
  if (rowBytes == 0) return;
  const uint32_t slices = img.depth == 0 ? 1 : img.depth;
  // Huge (but legal) images are sampled: at most about 4096 rows a slice and
  // 64 slices, always including the last row of the last slice, whose last
  // byte is the highest address the record claims.
  const uint64_t rowStep = rows > 4096 ? rows / 4096 : 1;
  const uint64_t sliceStep = slices > 64 ? slices / 64 : 1;
  for (uint64_t z = 0; z < slices; z = (z + sliceStep < slices || z == slices - 1) ? z + sliceStep : slices - 1)
    for (uint64_t y = 0; y < rows; y = (y + rowStep < rows || y == rows - 1) ? y + rowStep : rows - 1) {
      const uint8_t* row = img.pixels + z * static_cast<uint64_t>(img.slicePitch) + y * img.rowPitch;
      for (uint64_t x = 0; x < rowBytes; x += 61) sum += row[x];
      if (rowBytes > 0) sum += row[rowBytes - 1];
    }
  if (img.palette != nullptr) sum += img.palette[0].peRed + img.palette[255].peFlags;
  gSink = sum;
}

void touchAll(const DecodedImage& head) {
  for (const DecodedImage* face = &head; face != nullptr; face = face->nextFace.get())
    for (const DecodedImage* level = face; level != nullptr; level = level->nextLevel.get()) touch(*level);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
#ifdef FUZZ_DECODERS
  if (size < 1) return 0;
  using Decoder = HRESULT (DecodedImage::*)(const uint8_t*, uint32_t);
  static constexpr Decoder kDecoders[] = {
      &DecodedImage::decodeBmp, &DecodedImage::decodeDib, &DecodedImage::decodeTga,
      &DecodedImage::decodeDds, &DecodedImage::decodePpm, &DecodedImage::decodePfm,
      &DecodedImage::decodeHdr, &DecodedImage::decodeJpg, &DecodedImage::decodePng,
  };
  const uint8_t selector = data[0];
  const uint8_t* body = data + 1;
  const uint32_t bodySize = static_cast<uint32_t>(size - 1);
  DecodedImage img;
  img.wantPixels = (selector & 0x80) == 0;
  if (bodySize > 0 && SUCCEEDED((img.*kDecoders[selector % 9])(body, bodySize)) && img.wantPixels) touchAll(img);
#else
  for (bool want : {true, false}) {
    DecodedImage img;
    nerro::image::ImageInfo info{};
    if (img.load(data, static_cast<uint32_t>(size), &info, want) == S_OK) {
      if (want) touchAll(img);
      gSink = info.width + info.mipLevels;
    }
  }
#endif
  return 0;
}
