// Truevision TGA: colour-mapped, true-colour and greyscale images, raw or
// run-length encoded, in any of the four origins.
#include <cstring>

#include "image/bytes.h"
#include "image/image.h"

namespace nerro::image {
namespace {

using detail::readLe16;

PALETTEENTRY paletteEntry(const uint8_t* e, uint32_t entrySize) {
  auto widen = [](uint32_t v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); };
  switch (entrySize) {
    case 15:
    case 16: {
      uint32_t v = readLe16(e);
      uint8_t alpha = entrySize == 15 ? 255 : ((v & 0x8000) ? 255 : 0);
      return PALETTEENTRY{widen((v >> 10) & 31), widen((v >> 5) & 31), widen(v & 31), alpha};
    }
    case 24:
      return PALETTEENTRY{e[2], e[1], e[0], 255};
    default:
      return PALETTEENTRY{e[2], e[1], e[0], e[3]};
  }
}

// Places pixels, given in file order, into the buffer. A run that goes past
// the end of a row continues on the next row; pixels past the last row are
// dropped (the caller stops before that happens).
template <int PB>
class PixelPlacer {
 public:
  PixelPlacer(uint8_t* buffer, uint32_t width, uint32_t height, bool topFirst, bool rightToLeft)
      : buffer_(buffer), width_(width), height_(height), topFirst_(topFirst), rightToLeft_(rightToLeft) {
    startRow();
  }
  bool done() const { return row_ >= height_; }
  // Stores `count` copies of the pixel at `value`.
  void fill(const uint8_t* value, uint32_t count) {
    while (count > 0 && !done()) {
      uint32_t n = width_ - col_ < count ? width_ - col_ : count;
      for (uint32_t i = 0; i < n; ++i) {
        std::memcpy(out_, value, PB);
        out_ += step_;
      }
      advance(n);
      count -= n;
    }
  }
  // Stores `count` pixels read one after another from `values`.
  void copy(const uint8_t* values, uint32_t count) {
    while (count > 0 && !done()) {
      uint32_t n = width_ - col_ < count ? width_ - col_ : count;
      if (step_ > 0) {
        std::memcpy(out_, values, static_cast<size_t>(n) * PB);
        out_ += static_cast<ptrdiff_t>(n) * PB;
      } else {
        for (uint32_t i = 0; i < n; ++i) {
          std::memcpy(out_, values + static_cast<size_t>(i) * PB, PB);
          out_ -= PB;
        }
      }
      values += static_cast<size_t>(n) * PB;
      advance(n);
      count -= n;
    }
  }
  uint32_t rowRemaining() const { return width_ - col_; }

 private:
  void startRow() {
    col_ = 0;
    if (done()) return;
    size_t bufferRow = topFirst_ ? row_ : height_ - 1 - row_;
    uint8_t* rowStart = buffer_ + bufferRow * static_cast<size_t>(width_) * PB;
    out_ = rightToLeft_ ? rowStart + static_cast<size_t>(width_ - 1) * PB : rowStart;
    step_ = rightToLeft_ ? -PB : PB;
  }
  void advance(uint32_t n) {
    col_ += n;
    if (col_ == width_) {
      ++row_;
      startRow();
    }
  }

  uint8_t* buffer_;
  uint32_t width_, height_;
  bool topFirst_, rightToLeft_;
  uint32_t row_ = 0, col_ = 0;
  uint8_t* out_ = nullptr;
  ptrdiff_t step_ = PB;
};

template <int PB>
HRESULT readPixels(const uint8_t* in, uint64_t avail, uint8_t* buffer, uint32_t width, uint32_t height, bool topFirst,
                   bool rightToLeft, bool rle) {
  PixelPlacer<PB> out(buffer, width, height, topFirst, rightToLeft);
  uint64_t cursor = 0;
  if (!rle) {
    while (!out.done()) {
      uint32_t n = out.rowRemaining();
      if ((avail - cursor) / PB < n) return E_FAIL;
      out.copy(in + cursor, n);
      cursor += static_cast<uint64_t>(n) * PB;
    }
    return S_OK;
  }
  while (!out.done()) {
    if (cursor >= avail) return E_FAIL;
    uint32_t header = in[cursor++];
    uint32_t count = (header & 0x7F) + 1;
    if (header & 0x80) {
      if (avail - cursor < PB) return E_FAIL;
      out.fill(in + cursor, count);
      cursor += PB;
    } else {
      if ((avail - cursor) / PB < count) return E_FAIL;
      out.copy(in + cursor, count);
      cursor += static_cast<uint64_t>(count) * PB;
    }
  }
  return S_OK;
}

}  // namespace

HRESULT DecodedImage::decodeTga(const uint8_t* data, uint32_t size) {
  if (size < 18) return E_FAIL;
  const uint32_t idLength = data[0];
  const uint32_t mapType = data[1];
  const uint32_t imageType = data[2];
  const uint32_t mapFirst = readLe16(data + 3);
  const uint32_t mapLength = readLe16(data + 5);
  const uint32_t mapEntrySize = data[7];
  const uint32_t w = readLe16(data + 12);
  const uint32_t h = readLe16(data + 14);
  const uint32_t pixelDepth = data[16];
  const uint32_t descriptor = data[17];
  if (mapType > 1 || (imageType & ~0x0Bu) != 0 || w == 0 || h == 0) return E_FAIL;
  if (mapType == 1 && mapEntrySize != 15 && mapEntrySize != 16 && mapEntrySize != 24 && mapEntrySize != 32)
    return E_FAIL;

  D3DFORMAT fmt;
  switch (imageType & 3) {
    case 1:
      if (mapType != 1 || pixelDepth != 8) return E_FAIL;
      fmt = D3DFMT_P8;
      break;
    case 2:
      if (pixelDepth == 15) fmt = D3DFMT_X1R5G5B5;
      else if (pixelDepth == 16) fmt = D3DFMT_A1R5G5B5;
      else if (pixelDepth == 24) fmt = D3DFMT_R8G8B8;
      else if (pixelDepth == 32) fmt = D3DFMT_A8R8G8B8;
      else return E_FAIL;
      break;
    case 3:
      if (pixelDepth != 8) return E_FAIL;
      fmt = D3DFMT_L8;
      break;
    default:
      return E_FAIL;
  }
  const uint32_t pixelBytes = (pixelDepth + 7) / 8;
  const uint32_t entryBytes = (mapEntrySize + 7) / 8;

  uint64_t cursor = 18 + idLength;
  if (cursor > size) return E_FAIL;
  const uint64_t mapBytes = mapType == 1 ? static_cast<uint64_t>(mapLength) * entryBytes : 0;
  if (mapBytes > size - cursor) return E_FAIL;

  if (wantPixels && fmt == D3DFMT_P8) {
    if (mapFirst + mapLength > 256) return E_FAIL;
    PALETTEENTRY* pal = allocatePalette();
    if (pal == nullptr) return E_OUTOFMEMORY;
    std::memset(pal, 255, 256 * sizeof(PALETTEENTRY));
    bool anyAlpha = false;
    for (uint32_t i = 0; i < mapLength; ++i) {
      pal[mapFirst + i] = paletteEntry(data + cursor + static_cast<uint64_t>(i) * entryBytes, mapEntrySize);
      anyAlpha |= pal[mapFirst + i].peFlags != 0;
    }
    // A map whose alpha is zero throughout carries no alpha at all.
    if (!anyAlpha)
      for (uint32_t i = 0; i < mapLength; ++i) pal[mapFirst + i].peFlags = 255;
  }
  cursor += mapBytes;

  format = fmt;
  pixels = data + cursor;
  ownsPixels = false;
  rowPitch = w * pixelBytes;
  slicePitch = 0;
  width = w;
  height = h;
  depth = 1;
  if (!wantPixels) return S_OK;

  const bool rle = (imageType & 8) != 0;
  const bool topFirst = (descriptor & 0x20) != 0;
  const bool rightToLeft = (descriptor & 0x10) != 0;
  const uint64_t imageBytes = static_cast<uint64_t>(w) * h * pixelBytes;
  const uint64_t avail = size - cursor;
  if (!rle && topFirst && !rightToLeft) {
    if (avail < imageBytes) return E_FAIL;
    return S_OK;
  }
  // Raw data must be all there before anything is allocated; run-length
  // data needs at least one header and one value for every 128 pixels.
  if (!rle && avail < imageBytes) return E_FAIL;
  if (rle && (avail / (1 + pixelBytes) + 1) * 128 < static_cast<uint64_t>(w) * h) return E_FAIL;

  uint8_t* buffer = allocatePixels(imageBytes);
  if (buffer == nullptr) return E_OUTOFMEMORY;
  const uint8_t* in = data + cursor;
  HRESULT hr;
  switch (pixelBytes) {
    case 1: hr = readPixels<1>(in, avail, buffer, w, h, topFirst, rightToLeft, rle); break;
    case 2: hr = readPixels<2>(in, avail, buffer, w, h, topFirst, rightToLeft, rle); break;
    case 3: hr = readPixels<3>(in, avail, buffer, w, h, topFirst, rightToLeft, rle); break;
    default: hr = readPixels<4>(in, avail, buffer, w, h, topFirst, rightToLeft, rle); break;
  }
  if (FAILED(hr)) return hr;

  if (format == D3DFMT_A1R5G5B5) {
    bool alpha = false;
    for (uint64_t i = 0; i < static_cast<uint64_t>(w) * h && !alpha; ++i) alpha = (buffer[2 * i + 1] & 0x80) != 0;
    if (!alpha) format = D3DFMT_X1R5G5B5;
  }
  return S_OK;
}

}  // namespace nerro::image
