// PNG through libpng: the transformations requested, how colour types and
// depths become pixel formats, and the palette with transparency and gamma.
#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "image/image.h"

namespace nerro::image {
namespace {

struct ReadCursor {
  const uint8_t* next;
  size_t left;
};

void readFromMemory(png_structp png, png_bytep destination, size_t length) {
  auto* cursor = static_cast<ReadCursor*>(png_get_io_ptr(png));
  if (length > cursor->left) png_error(png, "read error");
  std::memcpy(destination, cursor->next, length);
  cursor->next += length;
  cursor->left -= length;
}

[[noreturn]] void onError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void onWarning(png_structp, png_const_charp) {}

uint32_t channelsOf(D3DFORMAT f) {
  switch (f) {
    case D3DFMT_P8:
    case D3DFMT_L8:
    case D3DFMT_L16:
      return 1;
    case D3DFMT_A8L8:
      return 2;
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A8R8G8B8:
    case D3DFMT_A16B16G16R16:
      return 4;
    default:
      if (f == D3DFMT_INTERNAL_AL16) return 2;
      if (f == D3DFMT_INTERNAL_R16) return 3;
      return 0;
  }
}

// The libpng structures of one decode, destroyed on every path.
struct PngReader {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngReader() {
    if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
  }
};

// Everything the decode keeps across the jump point lives here, so that a
// non-local return from libpng finds it intact.
struct PngState {
  D3DFORMAT format = D3DFMT_UNKNOWN;
  bool gammaSet = false;
  double fileGamma = 0.0;
  double screenGamma = 2.2;
  png_color plte[256] = {};
  int plteCount = 0;
  std::unique_ptr<png_bytep[]> rows;
};

}  // namespace

HRESULT DecodedImage::decodePng(const uint8_t* data, uint32_t size) {
  if (size < 8 || png_sig_cmp(data, 0, 8) != 0) return E_FAIL;

  PngReader reader;
  reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
  if (reader.png == nullptr) return E_OUTOFMEMORY;
  reader.info = png_create_info_struct(reader.png);
  if (reader.info == nullptr) return E_OUTOFMEMORY;

  ReadCursor cursor{data, size};
  PngState state;
  png_structp png = reader.png;
  png_infop info = reader.info;

  if (setjmp(png_jmpbuf(png))) return E_FAIL;

  png_set_read_fn(png, &cursor, readFromMemory);
  png_read_info(png, info);
  png_uint_32 w = 0, h = 0;
  int bitDepth = 0, colourType = 0;
  png_get_IHDR(png, info, &w, &h, &bitDepth, &colourType, nullptr, nullptr, nullptr);

  switch (colourType) {
    case PNG_COLOR_TYPE_GRAY: state.format = D3DFMT_L8; break;
    case PNG_COLOR_TYPE_RGB: state.format = D3DFMT_R8G8B8; break;
    case PNG_COLOR_TYPE_PALETTE: state.format = D3DFMT_P8; break;
    case PNG_COLOR_TYPE_GRAY_ALPHA: state.format = D3DFMT_A8L8; break;
    case PNG_COLOR_TYPE_RGB_ALPHA: state.format = D3DFMT_A8R8G8B8; break;
    default: return E_FAIL;
  }
  if (bitDepth == 16) {
    png_set_swap(png);
    switch (state.format) {
      case D3DFMT_R8G8B8: state.format = D3DFMT_INTERNAL_R16; break;
      case D3DFMT_A8R8G8B8: state.format = D3DFMT_A16B16G16R16; break;
      case D3DFMT_L8: state.format = D3DFMT_L16; break;
      case D3DFMT_A8L8: state.format = D3DFMT_INTERNAL_AL16; break;
      default: return E_FAIL;
    }
  }
  if (bitDepth < 8) png_set_packing(png);
  if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand(png);

  int intent = 0;
  double gamma = 0.0;
  if (png_get_sRGB(png, info, &intent)) {
    png_set_sRGB(png, info, intent);
  } else if (png_get_gAMA(png, info, &gamma)) {
    png_set_gamma(png, state.screenGamma, gamma);
    state.gammaSet = true;
    state.fileGamma = gamma;
  }

  if (state.format != D3DFMT_P8 && png_get_valid(png, info, PNG_INFO_tRNS)) {
    png_set_expand(png);
    if (state.format == D3DFMT_R8G8B8) state.format = D3DFMT_A8R8G8B8;
    else if (state.format == D3DFMT_L8) state.format = D3DFMT_A8L8;
    else if (state.format == D3DFMT_L16) state.format = D3DFMT_INTERNAL_AL16;
    else if (state.format == D3DFMT_INTERNAL_R16) state.format = D3DFMT_A16B16G16R16;
  }
  // Blue, green, red in memory for the 8-bit colour formats and " R16";
  // D3DFMT_A16B16G16R16 keeps the file's red-first order.
  if (state.format == D3DFMT_R8G8B8 || state.format == D3DFMT_INTERNAL_R16 || state.format == D3DFMT_A8R8G8B8)
    png_set_bgr(png);
  if (state.format == D3DFMT_R8G8B8) {
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    state.format = D3DFMT_X8R8G8B8;
  }

  // The palette as stored in the file, taken before libpng applies its own
  // transformations to it, so that gamma is applied exactly once (below).
  if (state.format == D3DFMT_P8 && png_get_valid(png, info, PNG_INFO_PLTE)) {
    png_colorp plte = nullptr;
    int count = 0;
    if (png_get_PLTE(png, info, &plte, &count) && plte != nullptr) {
      state.plteCount = count < 256 ? count : 256;
      std::memcpy(state.plte, plte, static_cast<size_t>(state.plteCount) * sizeof(png_color));
    }
  }

  png_read_update_info(png, info);
  if (png_get_channels(png, info) != channelsOf(state.format)) return E_FAIL;

  const size_t rowBytes = png_get_rowbytes(png, info);
  if (rowBytes > 0xFFFFFFFFu) return E_FAIL;
  format = state.format;
  width = w;
  height = h;
  depth = 1;
  rowPitch = static_cast<uint32_t>(rowBytes);
  slicePitch = 0;
  if (!wantPixels) return S_OK;

  uint8_t* buffer = allocatePixels(static_cast<uint64_t>(rowBytes) * h);
  if (buffer == nullptr) return E_OUTOFMEMORY;
  state.rows.reset(new (std::nothrow) png_bytep[h == 0 ? 1 : h]);
  if (!state.rows) return E_OUTOFMEMORY;
  for (png_uint_32 y = 0; y < h; ++y) state.rows[y] = buffer + static_cast<size_t>(y) * rowBytes;
  png_read_image(png, state.rows.get());

  if (state.format == D3DFMT_P8) {
    png_bytep trans = nullptr;
    int transCount = 0;
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_get_tRNS(png, info, &trans, &transCount, nullptr);
    if (trans == nullptr) transCount = 0;
    uint8_t table[256];
    if (state.gammaSet && state.fileGamma > 1e-6 && state.screenGamma > 1e-6) {
      const double exponent = 1.0 / (state.screenGamma * state.fileGamma);
      for (int i = 0; i < 256; ++i) {
        double v = std::pow(i * (1.0 / 255.0), exponent) * 255.0 + 0.5;
        table[i] = static_cast<uint8_t>(v > 255.0 ? 255.0 : v);
      }
    } else {
      for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i);
    }
    PALETTEENTRY* pal = allocatePalette();
    if (pal == nullptr) return E_OUTOFMEMORY;
    int i = 0;
    for (; i < transCount && i < 256; ++i)
      pal[i] = PALETTEENTRY{table[state.plte[i].red], table[state.plte[i].green], table[state.plte[i].blue], trans[i]};
    for (; i < state.plteCount; ++i)
      pal[i] = PALETTEENTRY{table[state.plte[i].red], table[state.plte[i].green], table[state.plte[i].blue], 255};
    for (; i < 256; ++i) pal[i] = PALETTEENTRY{255, 255, 255, 255};
  }
  return S_OK;
}

}  // namespace nerro::image
