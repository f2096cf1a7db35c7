// Helpers for the image tests: temporary directories, running the reference
// tools (ImageMagick, netpbm, Pillow, libjpeg's djpeg) and turning decoded
// records into plain RGBA samples for comparison.
#pragma once

// GCC 12 reports false overflows inside std::vector<uint8_t> growth once the
// fixture builders below are inlined; the code is plain push_back/insert.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#endif

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/image.h"

namespace imagetest {

using nerro::image::DecodedImage;

inline std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline bool haveCommand(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

inline bool havePillow() {
  return std::system("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0;
}

inline bool run(const std::string& command) { return std::system(("( " + command + " ) >/dev/null 2>&1").c_str()) == 0; }

// A fresh directory, removed with everything in it at the end of the scope.
class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base != nullptr ? base : "/tmp") + "/nerro-image-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) != nullptr) path_ = buf.data();
  }
  ~TempDir() {
    if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  bool ok() const { return !path_.empty(); }

 private:
  std::string path_;
};

// A 37 x 23 pattern with colour gradients, a checker and an alpha ramp,
// written as a PAM file (RGBA, 8 bits) that every tool reads.
inline void writePattern(const std::string& path, uint32_t w = 37, uint32_t h = 23) {
  std::string header = "P7\nWIDTH " + std::to_string(w) + "\nHEIGHT " + std::to_string(h) +
                       "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
  std::vector<uint8_t> bytes(header.begin(), header.end());
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      bytes.push_back(static_cast<uint8_t>(x * 255 / (w - 1)));
      bytes.push_back(static_cast<uint8_t>(y * 255 / (h - 1)));
      bytes.push_back(static_cast<uint8_t>(((x / 4 + y / 4) & 1) ? 200 : 40));
      bytes.push_back(static_cast<uint8_t>(55 + (x * 7 + y * 3) % 200));
    }
  writeFile(path, bytes);
}

// ImageMagick's reading of `path` as 8- or 16-bit RGBA samples.
inline std::vector<uint8_t> magickRgba(const std::string& path, const std::string& raw, int bits = 8) {
  if (!run("convert '" + path + "' -depth " + std::to_string(bits) + " rgba:'" + raw + "'")) return {};
  return readFile(raw);
}

// Pillow's reading of `path` as 8-bit RGBA samples.
inline std::vector<uint8_t> pillowRgba(const std::string& path, const std::string& raw) {
  std::string script = "from PIL import Image; im=Image.open('" + path + "').convert('RGBA'); open('" + raw +
                       "','wb').write(im.tobytes())";
  if (!run("/usr/bin/python3 -c \"" + script + "\"")) return {};
  return readFile(raw);
}

inline uint8_t widen(uint32_t v, uint32_t bits) {
  uint32_t max = (1u << bits) - 1;
  return static_cast<uint8_t>((v * 255 + max / 2) / max);
}

// The top level of `img` as 8-bit RGBA (red first); formats without alpha
// read as opaque. Fails the test for a format it does not know.
inline std::vector<uint8_t> rgba8(const DecodedImage& img) {
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(img.width) * img.height * 4);
  for (uint32_t y = 0; y < img.height; ++y) {
    const uint8_t* row = img.pixels + static_cast<size_t>(y) * img.rowPitch;
    for (uint32_t x = 0; x < img.width; ++x) {
      uint8_t r = 0, g = 0, b = 0, a = 255;
      uint32_t v16 = 0;
      switch (static_cast<uint32_t>(img.format)) {
        case D3DFMT_P8: {
          const PALETTEENTRY& e = img.palette[row[x]];
          r = e.peRed, g = e.peGreen, b = e.peBlue, a = e.peFlags;
          break;
        }
        case D3DFMT_L8: r = g = b = row[x]; break;
        case D3DFMT_A8L8: r = g = b = row[2 * x], a = row[2 * x + 1]; break;
        case D3DFMT_R8G8B8: b = row[3 * x], g = row[3 * x + 1], r = row[3 * x + 2]; break;
        case D3DFMT_X8R8G8B8:
        case D3DFMT_A8R8G8B8:
          b = row[4 * x], g = row[4 * x + 1], r = row[4 * x + 2];
          if (img.format == D3DFMT_A8R8G8B8) a = row[4 * x + 3];
          break;
        case D3DFMT_A8B8G8R8:
        case D3DFMT_X8B8G8R8:
          r = row[4 * x], g = row[4 * x + 1], b = row[4 * x + 2];
          if (img.format == D3DFMT_A8B8G8R8) a = row[4 * x + 3];
          break;
        case D3DFMT_R5G6B5:
          std::memcpy(&v16, row + 2 * x, 2);
          r = widen(v16 >> 11, 5), g = widen((v16 >> 5) & 63, 6), b = widen(v16 & 31, 5);
          break;
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5:
          std::memcpy(&v16, row + 2 * x, 2);
          r = widen((v16 >> 10) & 31, 5), g = widen((v16 >> 5) & 31, 5), b = widen(v16 & 31, 5);
          if (img.format == D3DFMT_A1R5G5B5) a = (v16 & 0x8000) ? 255 : 0;
          break;
        case D3DFMT_A4R4G4B4:
        case D3DFMT_X4R4G4B4:
          std::memcpy(&v16, row + 2 * x, 2);
          r = widen((v16 >> 8) & 15, 4), g = widen((v16 >> 4) & 15, 4), b = widen(v16 & 15, 4);
          if (img.format == D3DFMT_A4R4G4B4) a = widen(v16 >> 12, 4);
          break;
        default:
          ADD_FAILURE() << "rgba8: format " << img.format;
          return {};
      }
      out.insert(out.end(), {r, g, b, a});
    }
  }
  return out;
}

// The top level of a 16-bit-per-channel image as 16-bit RGBA (red first,
// native order).
inline std::vector<uint16_t> rgba16(const DecodedImage& img) {
  std::vector<uint16_t> out;
  for (uint32_t y = 0; y < img.height; ++y) {
    const uint8_t* row = img.pixels + static_cast<size_t>(y) * img.rowPitch;
    for (uint32_t x = 0; x < img.width; ++x) {
      uint16_t s[4] = {0, 0, 0, 0xFFFF};
      auto word = [&](size_t i) {
        uint16_t v;
        std::memcpy(&v, row + 2 * i, 2);
        return v;
      };
      uint32_t f = img.format;
      if (f == D3DFMT_L16) {
        s[0] = s[1] = s[2] = word(x);
      } else if (f == D3DFMT_INTERNAL_AL16) {
        s[0] = s[1] = s[2] = word(2 * x), s[3] = word(2 * x + 1);
      } else if (f == D3DFMT_INTERNAL_R16) {
        s[2] = word(3 * x), s[1] = word(3 * x + 1), s[0] = word(3 * x + 2);
      } else if (f == D3DFMT_A16B16G16R16) {
        for (int c = 0; c < 4; ++c) s[c] = word(4 * x + c);
      } else {
        ADD_FAILURE() << "rgba16: format " << f;
        return {};
      }
      out.insert(out.end(), s, s + 4);
    }
  }
  return out;
}

// Compares two RGBA sample arrays, allowing `tolerance` per sample and
// ignoring alpha when `alpha` is false. Reports the first mismatch.
// Keeps the top `bits` bits of every 8-bit sample: formats with fewer bits a
// channel are compared at their own precision, whatever widening rule the
// other tool uses.
inline std::vector<uint8_t> truncated(std::vector<uint8_t> v, int bits) {
  for (auto& s : v) s = static_cast<uint8_t>(s >> (8 - bits));
  return v;
}

template <typename T>
::testing::AssertionResult samePixels(const std::vector<T>& ours, const std::vector<T>& theirs, uint32_t width,
                                      int tolerance = 0, bool alpha = true) {
  if (ours.size() != theirs.size())
    return ::testing::AssertionFailure() << "sizes " << ours.size() << " vs " << theirs.size();
  for (size_t i = 0; i < ours.size(); ++i) {
    if (!alpha && i % 4 == 3) continue;
    if (std::abs(static_cast<int>(ours[i]) - static_cast<int>(theirs[i])) > tolerance)
      return ::testing::AssertionFailure() << "pixel (" << (i / 4) % width << ", " << (i / 4) / width << ") channel "
                                           << i % 4 << ": " << +ours[i] << " vs " << +theirs[i];
  }
  return ::testing::AssertionSuccess();
}

// Builds byte strings for hand-made fixtures.
struct Bytes {
  std::vector<uint8_t> v;
  Bytes& u8(uint32_t x) {
    v.push_back(static_cast<uint8_t>(x));
    return *this;
  }
  Bytes& u16(uint32_t x) { return u8(x).u8(x >> 8); }
  Bytes& u32(uint32_t x) { return u16(x).u16(x >> 16); }
  Bytes& str(const std::string& s) {
    v.insert(v.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& fill(size_t n, uint8_t value) {
    v.insert(v.end(), n, value);
    return *this;
  }
  Bytes& append(const std::vector<uint8_t>& other) {
    v.insert(v.end(), other.begin(), other.end());
    return *this;
  }
};

}  // namespace imagetest
