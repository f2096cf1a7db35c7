// nerro-image: looks at image files the way the texture builder does.
//   nerro-image info FILE...   one JSON object a file with its ImageInfo
//   nerro-image decode FILE OUT
//                              the top level of face 0 as PNG (8-bit RGBA,
//                              16-bit for formats deeper than 8 bits a
//                              channel) or, for OUT ending in .pfm, as float
//                              RGB; pixels converted through the pixel codecs
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/image.h"
#include "pixel/pixel.h"

namespace {

using nerro::image::DecodedImage;
using nerro::image::ImageInfo;

const char* formatName(uint32_t f) {
  struct Name {
    uint32_t value;
    const char* name;
  };
  static const Name names[] = {
      {D3DFMT_R8G8B8, "D3DFMT_R8G8B8"}, {D3DFMT_A8R8G8B8, "D3DFMT_A8R8G8B8"},
      {D3DFMT_X8R8G8B8, "D3DFMT_X8R8G8B8"}, {D3DFMT_R5G6B5, "D3DFMT_R5G6B5"},
      {D3DFMT_X1R5G5B5, "D3DFMT_X1R5G5B5"}, {D3DFMT_A1R5G5B5, "D3DFMT_A1R5G5B5"},
      {D3DFMT_A4R4G4B4, "D3DFMT_A4R4G4B4"}, {D3DFMT_R3G3B2, "D3DFMT_R3G3B2"},
      {D3DFMT_A8, "D3DFMT_A8"}, {D3DFMT_A8R3G3B2, "D3DFMT_A8R3G3B2"},
      {D3DFMT_X4R4G4B4, "D3DFMT_X4R4G4B4"}, {D3DFMT_A2B10G10R10, "D3DFMT_A2B10G10R10"},
      {D3DFMT_A8B8G8R8, "D3DFMT_A8B8G8R8"}, {D3DFMT_X8B8G8R8, "D3DFMT_X8B8G8R8"},
      {D3DFMT_G16R16, "D3DFMT_G16R16"}, {D3DFMT_A2R10G10B10, "D3DFMT_A2R10G10B10"},
      {D3DFMT_A16B16G16R16, "D3DFMT_A16B16G16R16"}, {D3DFMT_A8P8, "D3DFMT_A8P8"},
      {D3DFMT_P8, "D3DFMT_P8"}, {D3DFMT_L8, "D3DFMT_L8"},
      {D3DFMT_A8L8, "D3DFMT_A8L8"}, {D3DFMT_A4L4, "D3DFMT_A4L4"},
      {D3DFMT_V8U8, "D3DFMT_V8U8"}, {D3DFMT_L6V5U5, "D3DFMT_L6V5U5"},
      {D3DFMT_X8L8V8U8, "D3DFMT_X8L8V8U8"}, {D3DFMT_Q8W8V8U8, "D3DFMT_Q8W8V8U8"},
      {D3DFMT_V16U16, "D3DFMT_V16U16"}, {D3DFMT_A2W10V10U10, "D3DFMT_A2W10V10U10"},
      {D3DFMT_D16_LOCKABLE, "D3DFMT_D16_LOCKABLE"}, {D3DFMT_L16, "D3DFMT_L16"},
      {D3DFMT_D32F_LOCKABLE, "D3DFMT_D32F_LOCKABLE"}, {D3DFMT_Q16W16V16U16, "D3DFMT_Q16W16V16U16"},
      {D3DFMT_R16F, "D3DFMT_R16F"}, {D3DFMT_G16R16F, "D3DFMT_G16R16F"},
      {D3DFMT_A16B16G16R16F, "D3DFMT_A16B16G16R16F"}, {D3DFMT_R32F, "D3DFMT_R32F"},
      {D3DFMT_G32R32F, "D3DFMT_G32R32F"}, {D3DFMT_A32B32G32R32F, "D3DFMT_A32B32G32R32F"},
      {D3DFMT_CxV8U8, "D3DFMT_CxV8U8"}, {D3DFMT_UYVY, "D3DFMT_UYVY"},
      {D3DFMT_R8G8_B8G8, "D3DFMT_R8G8_B8G8"}, {D3DFMT_YUY2, "D3DFMT_YUY2"},
      {D3DFMT_G8R8_G8B8, "D3DFMT_G8R8_G8B8"}, {D3DFMT_DXT1, "D3DFMT_DXT1"},
      {D3DFMT_DXT2, "D3DFMT_DXT2"}, {D3DFMT_DXT3, "D3DFMT_DXT3"},
      {D3DFMT_DXT4, "D3DFMT_DXT4"}, {D3DFMT_DXT5, "D3DFMT_DXT5"},
  };
  for (const Name& n : names)
    if (n.value == f) return n.name;
  return "unknown";
}

const char* fileFormatName(uint32_t f) {
  static const char* const names[] = {"FileBmp", "FileJpg", "FileTga", "FilePng", "FileDds",
                                      "FilePpm", "FileDib", "FileHdr", "FilePfm"};
  return f < 9 ? names[f] : "unknown";
}

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

bool readWhole(const std::string& path, std::vector<uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

int info(int argc, char** argv) {
  int status = 0;
  for (int i = 2; i < argc; ++i) {
    std::vector<uint8_t> bytes;
    if (!readWhole(argv[i], bytes)) {
      std::fprintf(stderr, "nerro-image: cannot read %s\n", argv[i]);
      status = 1;
      continue;
    }
    DecodedImage img;
    ImageInfo inf{};
    HRESULT hr = bytes.size() > 0xFFFFFFFFu ? D3DERR_INVALIDCALL
                                            : img.load(bytes.data(), static_cast<uint32_t>(bytes.size()), &inf, false);
    if (hr != S_OK) {
      std::fprintf(stderr, "nerro-image: %s: not a recognised image (0x%08X)\n", argv[i], static_cast<unsigned>(hr));
      status = 1;
      continue;
    }
    std::printf(
        "{\"file\":%s,\"width\":%u,\"height\":%u,\"depth\":%u,\"mipLevels\":%u,\"format\":\"%s\",\"formatNumber\":%u,"
        "\"resourceType\":%u,\"fileFormat\":\"%s\",\"fileFormatNumber\":%u}\n",
        jsonString(argv[i]).c_str(), inf.width, inf.height, inf.depth, inf.mipLevels, formatName(inf.format),
        static_cast<unsigned>(inf.format), static_cast<unsigned>(inf.resourceType), fileFormatName(inf.fileFormat),
        static_cast<unsigned>(inf.fileFormat));
  }
  return status;
}

bool endsWith(const std::string& s, const std::string& suffix) {
  if (s.size() < suffix.size()) return false;
  std::string tail = s.substr(s.size() - suffix.size());
  std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
  return tail == suffix;
}

bool writePng(const std::string& path, uint32_t w, uint32_t h, bool sixteen, const std::vector<D3DCOLORVALUE>& px) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop pinfo = png != nullptr ? png_create_info_struct(png) : nullptr;
  std::vector<uint8_t> row(static_cast<size_t>(w) * 4 * (sixteen ? 2 : 1));
  if (pinfo == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, pinfo != nullptr ? &pinfo : nullptr);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, pinfo, w, h, sixteen ? 16 : 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, pinfo);
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      const D3DCOLORVALUE& c = px[static_cast<size_t>(y) * w + x];
      const float ch[4] = {c.r, c.g, c.b, c.a};
      for (int k = 0; k < 4; ++k) {
        float v = std::isnan(ch[k]) ? 0.0f : std::clamp(ch[k], 0.0f, 1.0f);
        size_t i = static_cast<size_t>(x) * 4 + k;
        if (sixteen) {
          unsigned s = static_cast<unsigned>(std::lround(v * 65535.0f));
          row[2 * i] = static_cast<uint8_t>(s >> 8);
          row[2 * i + 1] = static_cast<uint8_t>(s);
        } else {
          row[i] = static_cast<uint8_t>(std::lround(v * 255.0f));
        }
      }
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, pinfo);
  png_destroy_write_struct(&png, &pinfo);
  return std::fclose(f) == 0;
}

bool writePfm(const std::string& path, uint32_t w, uint32_t h, const std::vector<D3DCOLORVALUE>& px) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fprintf(f, "PF\n%u %u\n-1.0\n", w, h);
  std::vector<float> row(static_cast<size_t>(w) * 3);
  bool ok = true;
  for (uint32_t y = h; y-- > 0 && ok;) {  // rows run bottom to top
    for (uint32_t x = 0; x < w; ++x) {
      const D3DCOLORVALUE& c = px[static_cast<size_t>(y) * w + x];
      row[3 * x] = c.r, row[3 * x + 1] = c.g, row[3 * x + 2] = c.b;
    }
    ok = std::fwrite(row.data(), sizeof(float), row.size(), f) == row.size();
  }
  return std::fclose(f) == 0 && ok;
}

int decode(const std::string& in, const std::string& out) {
  std::vector<uint8_t> bytes;
  if (!readWhole(in, bytes)) {
    std::fprintf(stderr, "nerro-image: cannot read %s\n", in.c_str());
    return 1;
  }
  DecodedImage img;
  ImageInfo inf{};
  HRESULT hr = bytes.size() > 0xFFFFFFFFu ? D3DERR_INVALIDCALL
                                          : img.load(bytes.data(), static_cast<uint32_t>(bytes.size()), &inf, true);
  if (hr != S_OK) {
    std::fprintf(stderr, "nerro-image: %s: not a recognised image (0x%08X)\n", in.c_str(), static_cast<unsigned>(hr));
    return 1;
  }
  nerro::pixel::PixelRegion region;
  region.pixels = const_cast<uint8_t*>(img.pixels);
  region.format = img.format;
  region.rowPitch = img.rowPitch;
  region.slicePitch = img.slicePitch;
  region.bounds = img.region;
  region.box = img.region;
  region.box.Back = region.box.Front + 1;  // the first slice of a volume
  region.palette = img.palette;
  auto codec = nerro::pixel::CreatePixelCodec(region);
  if (!codec) {
    std::fprintf(stderr, "nerro-image: %s: no pixel codec for format %s (%u)\n", in.c_str(), formatName(img.format),
                 static_cast<unsigned>(img.format));
    return 1;
  }
  std::vector<D3DCOLORVALUE> px(static_cast<size_t>(img.width) * img.height);
  for (uint32_t y = 0; y < img.height; ++y)
    if (FAILED(codec->DecodeRow(y, 0, px.data() + static_cast<size_t>(y) * img.width))) {
      std::fprintf(stderr, "nerro-image: %s: row %u does not decode\n", in.c_str(), y);
      return 1;
    }
  bool ok;
  if (endsWith(out, ".pfm")) {
    ok = writePfm(out, img.width, img.height, px);
  } else {
    const auto& d = nerro::pixel::FindFormatDescriptor(img.format);
    const bool deep = std::max({d.alphaBits, d.redBits, d.greenBits, d.blueBits}) > 8 ||
                      img.format == D3DFMT_A32B32G32R32F;
    ok = writePng(out, img.width, img.height, deep, px);
  }
  if (!ok) {
    std::fprintf(stderr, "nerro-image: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}

void usage() {
  std::fprintf(stderr,
               "usage: nerro-image info FILE...\n"
               "       nerro-image decode FILE OUT   (OUT: .png, or .pfm for float RGB)\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "info") == 0) return info(argc, argv);
  if (argc == 4 && std::strcmp(argv[1], "decode") == 0) return decode(argv[2], argv[3]);
  usage();
  return 2;
}
