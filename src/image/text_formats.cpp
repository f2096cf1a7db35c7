// Containers with a text header: portable pixmaps (P3, P6), portable float
// maps (PF, Pf) and Radiance RGBE pictures. Numbers are parsed with the
// standard scanners; the loader has put the thread in the "C" numeric
// conventions beforehand.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "image/bytes.h"
#include "image/image.h"
#include "platform/platform.h"

namespace nerro::image {
namespace {

bool isBlank(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Reads one decimal field of a pixmap: blanks and "#" comments before it,
// digits ended by a blank or the end of the data. The terminator is left
// unread.
bool readPnmField(const uint8_t* data, uint32_t size, uint64_t& pos, uint32_t& value) {
  for (;;) {
    if (pos >= size) return false;
    uint8_t c = data[pos];
    if (isBlank(c)) {
      ++pos;
    } else if (c == '#') {
      const void* lf = std::memchr(data + pos, '\n', size - pos);
      if (lf == nullptr) return false;
      pos = static_cast<const uint8_t*>(lf) - data + 1;
    } else {
      break;
    }
  }
  uint64_t v = 0;
  uint64_t digits = 0;
  while (pos < size && !isBlank(data[pos])) {
    uint8_t c = data[pos];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
    if (v > 0xFFFFFFFFu) return false;  // not a 32-bit number
    ++digits;
    ++pos;
  }
  if (digits == 0) return false;
  value = static_cast<uint32_t>(v);
  return true;
}

inline uint32_t scaleSample(uint32_t value, uint32_t maximum) {
  // Samples above the maximum are not clamped before scaling; the scaled
  // value saturates at 255 instead of wrapping.
  uint64_t s = static_cast<uint64_t>(value) * 255 / maximum;
  return s > 255 ? 255 : static_cast<uint32_t>(s);
}

// Finds a line feed within the 256 bytes from `pos`, not as the first byte,
// and copies the text before it (terminated) into `line`. Returns the
// offset of the line feed or 0 on failure.
uint64_t takeLine(const uint8_t* data, uint32_t size, uint64_t pos, char (&line)[257], uint64_t minOffset = 1) {
  if (pos >= size) return 0;
  uint64_t span = size - pos < 256 ? size - pos : 256;
  const void* lf = std::memchr(data + pos, '\n', span);
  if (lf == nullptr) return 0;
  uint64_t at = static_cast<const uint8_t*>(lf) - data;
  if (at - pos < minOffset) return 0;
  std::memcpy(line, data + pos, at - pos);
  line[at - pos] = '\0';
  return at;
}

bool parseOneFloat(const char* text, float& value) {
  char rest[257];
  return std::sscanf(text, "%f%256s", &value, rest) == 1;
}

// Red, green, blue bytes to 0xFFRRGGBB pixels; returns how many pixels it
// converted (a multiple of 8, leaving the tail to the caller). `avail` is
// the number of readable input bytes, so the 16-byte loads never reach past
// the data.
#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) uint64_t rgbToXrgbAvx2(const uint8_t* in, uint64_t avail, uint32_t* out,
                                                       uint64_t count) {
  const __m256i shuffle = _mm256_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1,  //
                                           2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
  const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  uint64_t i = 0;
  for (; i + 8 <= count && 3 * i + 28 <= avail; i += 8) {
    const uint8_t* p = in + 3 * i;
    __m256i v = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
    v = _mm256_or_si256(_mm256_shuffle_epi8(v, shuffle), opaque);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), v);
  }
  return i;
}
#endif

}  // namespace

HRESULT DecodedImage::decodePpm(const uint8_t* data, uint32_t size) {
  if (size < 2 || data[0] != 'P' || (data[1] != '3' && data[1] != '6')) return E_FAIL;
  const bool text = data[1] == '3';
  uint64_t pos = 2;
  if (pos >= size) return E_FAIL;
  uint32_t w, h, maximum;
  if (!readPnmField(data, size, pos, w) || w == 0) return E_FAIL;
  if (!readPnmField(data, size, pos, h) || h == 0) return E_FAIL;
  // Every pixel needs at least three bytes (binary) or three digits with
  // separators (text): data that cannot hold them is refused before the
  // buffer is made.
  const uint64_t count = static_cast<uint64_t>(w) * h;
  if (count * (text ? 6 : 3) > static_cast<uint64_t>(size) - pos + (text ? 1 : 0)) return E_FAIL;
  uint8_t* buffer = allocatePixels(count * 4);
  if (buffer == nullptr) return E_OUTOFMEMORY;
  format = D3DFMT_X8R8G8B8;
  width = w;
  height = h;
  depth = 1;
  rowPitch = w * 4;
  slicePitch = 0;
  if (!readPnmField(data, size, pos, maximum) || maximum == 0) return E_FAIL;

  auto* out = reinterpret_cast<uint32_t*>(buffer);
  if (text) {
    for (uint64_t i = 0; i < count; ++i) {
      uint32_t r, g, b;
      if (!readPnmField(data, size, pos, r) || !readPnmField(data, size, pos, g) || !readPnmField(data, size, pos, b))
        return E_FAIL;
      out[i] = 0xFF000000u | (scaleSample(r, maximum) << 16) | (scaleSample(g, maximum) << 8) | scaleSample(b, maximum);
    }
    return S_OK;
  }

  if (maximum > 255) return E_FAIL;
  if (pos < size) {
    bool cr = data[pos] == '\r';
    ++pos;
    if (cr && size - pos >= 1 && size - (pos - 1) >= 2) ++pos;
  }
  if (pos > size || (size - pos) / 3 < count) return E_FAIL;
  const uint8_t* in = data + pos;
  if (maximum == 255) {
    uint64_t done = 0;
#if defined(__x86_64__) || defined(__i386__)
    if (platform::cpuFeatures().avx2) done = rgbToXrgbAvx2(in, size - pos, out, count);
#endif
    in += 3 * done;
    for (uint64_t i = done; i < count; ++i, in += 3)
      out[i] = 0xFF000000u | (static_cast<uint32_t>(in[0]) << 16) | (static_cast<uint32_t>(in[1]) << 8) | in[2];
  } else {
    uint8_t table[256];
    for (uint32_t v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>(scaleSample(v, maximum));
    for (uint64_t i = 0; i < count; ++i, in += 3)
      out[i] = 0xFF000000u | (static_cast<uint32_t>(table[in[0]]) << 16) | (static_cast<uint32_t>(table[in[1]]) << 8) |
               table[in[2]];
  }
  return S_OK;
}

HRESULT DecodedImage::decodePfm(const uint8_t* data, uint32_t size) {
  if (size < 4 || data[0] != 'P' || (data[1] != 'F' && data[1] != 'f') || data[2] != '\n') return E_FAIL;
  const uint32_t channels = data[1] == 'F' ? 3 : 1;
  char line[257];
  uint64_t pos = 3;
  uint64_t lf = takeLine(data, size, pos, line);
  if (lf == 0) return E_FAIL;
  unsigned w = 0, h = 0;
  char rest[257];
  if (std::sscanf(line, "%u %u%256s", &w, &h, rest) != 2) return E_FAIL;
  // An empty image is refused: with width 0 the row loop below would run
  // over a height of up to 2^32 rows of nothing.
  if (w == 0 || h == 0) return E_FAIL;
  pos = lf + 1;
  if (pos >= size) return E_FAIL;
  lf = takeLine(data, size, pos, line);
  if (lf == 0) return E_FAIL;
  float scale;
  if (!parseOneFloat(line, scale)) return E_FAIL;
  pos = lf + 1;
  const uint64_t count = static_cast<uint64_t>(w) * h;
  if (count * channels * 4 > size - pos) return E_FAIL;

  uint8_t* buffer = allocatePixels(count * 16);
  if (buffer == nullptr) return E_OUTOFMEMORY;
  format = D3DFMT_A32B32G32R32F;
  width = w;
  height = h;
  depth = 1;
  rowPitch = w * 16;
  slicePitch = 0;

  const bool littleEndian = scale < 0.0f;
  const uint8_t* in = data + pos;
  auto sample = [&](const uint8_t* p) {
    uint32_t bits = detail::readLe32(p);
    if (!littleEndian) bits = __builtin_bswap32(bits);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  };
  for (uint64_t r = 0; r < h; ++r) {
    float* out = reinterpret_cast<float*>(buffer + (h - 1 - r) * static_cast<uint64_t>(w) * 16);
    for (uint64_t x = 0; x < w; ++x, out += 4) {
      if (channels == 3) {
        out[0] = sample(in);
        out[1] = sample(in + 4);
        out[2] = sample(in + 8);
        in += 12;
      } else {
        out[0] = out[1] = out[2] = sample(in);
        in += 4;
      }
      out[3] = 1.0f;
    }
  }
  return S_OK;
}

namespace {

struct Axis {
  bool isY;
  bool plus;
};

// Reads the Radiance resolution line ("-Y 480 +X 640" and its seven
// relatives) into the two axes and their lengths.
bool parseResolution(const char* line, Axis& first, Axis& second, unsigned& firstLen, unsigned& secondLen) {
  if ((line[1] != 'Y' && line[1] != 'X') || (line[0] != '-' && line[0] != '+')) return false;
  first = Axis{line[1] == 'Y', line[0] == '+'};
  if (std::sscanf(line + 2, "%u", &firstLen) != 1) return false;
  const char* sign = std::strpbrk(line + 2, "-+");
  if (sign == nullptr || (sign[1] != 'Y' && sign[1] != 'X')) return false;
  second = Axis{sign[1] == 'Y', sign[0] == '+'};
  if (second.isY == first.isY) return false;  // both numbers would name the same axis
  return std::sscanf(sign + 2, "%u", &secondLen) == 1;
}

}  // namespace

HRESULT DecodedImage::decodeHdr(const uint8_t* data, uint32_t size) {
  if (size <= 10 || std::memcmp(data, "#?RADIANCE", 10) != 0) return E_FAIL;
  uint64_t pos = 0;
  double exposure = 1.0;
  bool formatSeen = false;
  char line[257];
  static constexpr char kFormat[] = "FORMAT=";
  static constexpr char kExposure[] = "EXPOSURE=";
  while (pos < size) {
    if (data[pos] == '\n') {
      ++pos;
      break;
    }
    const uint64_t left = size - pos;
    if (left > 7 && std::memcmp(data + pos, kFormat, 7) == 0) {
      pos += 7;
      while (pos < size && (data[pos] == ' ' || data[pos] == '\t')) ++pos;
      if (pos >= size || size - pos < 16) return E_FAIL;
      if (std::memcmp(data + pos, "32-bit_rle_rgbe", 15) != 0 && std::memcmp(data + pos, "32-bit_rle_xyze", 15) != 0)
        return E_FAIL;
      pos += 16;
      formatSeen = true;
    } else if (left > 9 && std::memcmp(data + pos, kExposure, 9) == 0) {
      pos += 9;
      while (pos < size && (data[pos] == ' ' || data[pos] == '\t')) ++pos;
      uint64_t lf = takeLine(data, size, pos, line);
      if (lf == 0) return E_FAIL;
      float value;
      if (!parseOneFloat(line, value)) return E_FAIL;
      exposure *= value;
      pos = lf + 1;
    } else {
      // Without a line feed in the rest of the data no resolution line can
      // follow, so the picture is refused at once.
      const void* lf = std::memchr(data + pos, '\n', left);
      if (lf == nullptr) return E_FAIL;
      pos = static_cast<const uint8_t*>(lf) - data + 1;
    }
  }
  if (!formatSeen) return E_FAIL;

  uint64_t lf = takeLine(data, size, pos, line, 3);
  if (lf == 0) return E_FAIL;
  Axis first, second;
  unsigned firstLen = 0, secondLen = 0;
  if (!parseResolution(line, first, second, firstLen, secondLen)) return E_FAIL;
  pos = lf + 1;
  const uint64_t w = first.isY ? secondLen : firstLen;
  const uint64_t h = first.isY ? firstLen : secondLen;
  if (w * h == 0) return E_FAIL;
  const uint64_t scanlines = firstLen, length = secondLen;
  // Every scanline starts with four bytes.
  if (scanlines * 4 > size - pos) return E_FAIL;

  uint8_t* buffer = allocatePixels(w * h * 16);
  if (buffer == nullptr) return E_OUTOFMEMORY;
  std::unique_ptr<uint8_t, decltype(&std::free)> rgbe(static_cast<uint8_t*>(std::malloc(length * 4)), &std::free);
  if (!rgbe) {
    clearOwned();
    return E_OUTOFMEMORY;
  }
  format = D3DFMT_A32B32G32R32F;
  width = static_cast<uint32_t>(w);
  height = static_cast<uint32_t>(h);
  depth = 1;
  rowPitch = static_cast<uint32_t>(w * 16);
  slicePitch = 0;

  // Where scanline s, position i lands, in pixels: start + s * sStep + i * iStep.
  auto axisStart = [&](const Axis& a) -> int64_t {
    if (a.isY) return a.plus ? static_cast<int64_t>((h - 1) * w) : 0;
    return a.plus ? 0 : static_cast<int64_t>(w - 1);
  };
  auto axisStep = [&](const Axis& a) -> int64_t {
    if (a.isY) return a.plus ? -static_cast<int64_t>(w) : static_cast<int64_t>(w);
    return a.plus ? 1 : -1;
  };
  const int64_t start = axisStart(first) + axisStart(second);
  const int64_t sStep = axisStep(first), iStep = axisStep(second);

  double powers[256];
  for (int e = 0; e < 256; ++e) powers[e] = std::ldexp(1.0, e - 136);

  auto fail = [&]() {
    clearOwned();
    return E_FAIL;
  };
  uint8_t* line4 = rgbe.get();
  float* out = reinterpret_cast<float*>(buffer);
  for (uint64_t s = 0; s < scanlines; ++s) {
    if (size - pos < 4) return fail();
    const uint8_t* head = data + pos;
    pos += 4;
    if (head[0] == 2 && head[1] == 2 && (head[2] & 0x80) == 0) {
      if ((static_cast<uint64_t>(head[2]) << 8 | head[3]) != length) return fail();
      for (int c = 0; c < 4; ++c) {
        uint64_t i = 0;
        while (i < length) {
          if (pos >= size) return fail();
          uint32_t n = data[pos++];
          if (n > 128) {
            n -= 128;
            if (pos >= size || length - i < n) return fail();
            uint8_t v = data[pos++];
            for (uint32_t k = 0; k < n; ++k) line4[(i + k) * 4 + c] = v;
          } else {
            if (size - pos < n || length - i < n) return fail();
            for (uint32_t k = 0; k < n; ++k) line4[(i + k) * 4 + c] = data[pos + k];
            pos += n;
          }
          i += n;
        }
      }
    } else {
      std::memcpy(line4, head, 4);
      uint64_t stored = 1;
      uint32_t shift = 0;
      while (stored < length) {
        if (size - pos < 4) return fail();
        const uint8_t* p = data + pos;
        pos += 4;
        if (p[0] == 1 && p[1] == 1 && p[2] == 1) {
          if (shift > 32) return fail();
          uint64_t repeat = static_cast<uint64_t>(p[3]) << shift;
          if (repeat > length - stored) return fail();
          for (uint64_t k = 0; k < repeat; ++k) std::memcpy(line4 + (stored + k) * 4, line4 + (stored - 1) * 4, 4);
          stored += repeat;
          shift += 8;
        } else {
          std::memcpy(line4 + stored * 4, p, 4);
          ++stored;
          shift = 0;
        }
      }
    }
    int64_t at = start + static_cast<int64_t>(s) * sStep;
    for (uint64_t i = 0; i < length; ++i, at += iStep) {
      const uint8_t* px = line4 + i * 4;
      const double scale = powers[px[3]];
      float* o = out + at * 4;
      if (exposure == 1.0) {
        o[0] = static_cast<float>((px[0] + 0.5) * scale);
        o[1] = static_cast<float>((px[1] + 0.5) * scale);
        o[2] = static_cast<float>((px[2] + 0.5) * scale);
      } else {
        o[0] = static_cast<float>((px[0] + 0.5) * scale / exposure);
        o[1] = static_cast<float>((px[1] + 0.5) * scale / exposure);
        o[2] = static_cast<float>((px[2] + 0.5) * scale / exposure);
      }
      o[3] = 1.0f;
    }
  }
  return S_OK;
}

}  // namespace nerro::image
