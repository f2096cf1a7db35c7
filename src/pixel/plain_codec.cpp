#include "pixel/plain_codec.h"

#include <cfloat>
#include <cstring>
#include <new>

#include "math/math.h"
#include "pixel/plain_formats.h"
#include "pixel/row_kernels.h"

namespace nerro::pixel::detail {

namespace {

inline uint8_t* RowAddress(uint8_t* pixels, uint32_t rowPitch, uint32_t slicePitch, uint32_t y,
                           uint32_t z) {
  return pixels + size_t{y} * rowPitch + size_t{z} * slicePitch;
}

// Codec of a format of bit fields.
template <class F>
class FieldCodec final : public PixelCodec {
 public:
  explicit FieldCodec(const PixelRegion& region) : PixelCodec(region, F::kBytes * 8, F::kRange) {
    const RowKernels fast = FindRowKernels(region.format);
    decode_ = fast.decode ? fast.decode : &GenericDecodeRow<F>;
    encode_ = fast.encode ? fast.encode : &GenericEncodeRow<F>;
  }

  HRESULT DecodeRow(uint32_t y, uint32_t z, D3DCOLORVALUE* out) override {
    decode_(RowAddress(pixels, rowPitch, slicePitch, y, z), out, width);
    FinishDecodeRow(out);
    return S_OK;
  }

  HRESULT EncodeRow(uint32_t y, uint32_t z, D3DCOLORVALUE* in) override {
    D3DCOLORVALUE* w = PrepareEncodeRow(in);
    if constexpr (F::kSpecial == Special::kLuminance) {
      for (uint32_t x = 0; x < width; ++x) {
        w[x].r = kLuminanceRed * w[x].r + kLuminanceGreen * w[x].g + kLuminanceBlue * w[x].b;
      }
    }
    AddDiffusedErrors(w);
    if constexpr (F::kSpecial == Special::kCxV8U8) {
      for (uint32_t x = 0; x < width; ++x) {
        const D3DVECTOR v = {w[x].r, w[x].g, w[x].b};
        D3DVECTOR n;
        math::vec3Normalize(&n, &v);
        w[x].r = n.x;
        w[x].g = n.y;
        w[x].b = n.z;
      }
    }
    uint8_t* const row = RowAddress(pixels, rowPitch, slicePitch, y, z);
    if (!errorRow) {
      // Without diffusion every pixel stands alone: only its dither value
      // depends on the serpentine order. The k-th pixel visited uses column
      // (z + k) mod 4, and k is x on even rows and width - 1 - x on odd
      // ones, so the column follows from x mod 4.
      const float* dRow = (*ditherTable)[y & 3];
      float dither[4];
      for (uint32_t m = 0; m < 4; ++m) {
        const uint32_t k = (y & 1) ? width - 1 - m : m;
        dither[m] = dRow[(z + k) & 3];
      }
      encode_(w, row, width, dither);
    } else {
      EncodeSerpentineSse2<F>(w, row, width, y, z, *ditherTable, errorRow.get());
    }
    return S_OK;
  }

 private:
  DecodeKernel decode_;
  EncodeKernel encode_;
};

// D3DFMT_P8 and D3DFMT_A8P8: indices into the codec's float palette.
template <bool kHasAlpha>
class PaletteCodec final : public PixelCodec {
  using AlphaLayout = Layout<2, RangeUnsigned, Special::kNone, false, U(kA, 8, 8)>;

 public:
  explicit PaletteCodec(const PixelRegion& region)
      : PixelCodec(region, kHasAlpha ? 16 : 8, RangeUnsigned) {}

  HRESULT DecodeRow(uint32_t y, uint32_t z, D3DCOLORVALUE* out) override {
    const uint8_t* src = RowAddress(pixels, rowPitch, slicePitch, y, z);
    for (uint32_t x = 0; x < width; ++x) {
      if constexpr (kHasAlpha) {
        out[x] = palette[src[2 * x]];
        out[x].a = static_cast<float>(src[2 * x + 1]) * (1.0f / 255.0f);
      } else {
        out[x] = palette[src[x]];
      }
    }
    FinishDecodeRow(out);
    return S_OK;
  }

  HRESULT EncodeRow(uint32_t y, uint32_t z, D3DCOLORVALUE* in) override {
    D3DCOLORVALUE* w = PrepareEncodeRow(in);
    uint8_t* const row = RowAddress(pixels, rowPitch, slicePitch, y, z);
    if constexpr (kHasAlpha) {
      // Alpha is quantised like any 8-bit field (dither, diffusion), then
      // the index goes into the low byte.
      AddDiffusedErrors(w);
      EncodeSerpentineSse2<AlphaLayout>(w, row, width, y, z, *ditherTable, errorRow.get());
      for (uint32_t x = 0; x < width; ++x) row[2 * x] = NearestIndex(w[x]);
    } else {
      for (uint32_t x = 0; x < width; ++x) row[x] = NearestIndex(w[x]);
    }
    return S_OK;
  }

 private:
  // Smallest sum of squared differences (alpha included for P8); ties keep
  // the lowest index.
  uint8_t NearestIndex(const D3DCOLORVALUE& c) const {
    float best = FLT_MAX;
    uint8_t index = 0;
    for (int i = 0; i < 256; ++i) {
      const D3DCOLORVALUE& p = palette[i];
      const float dr = c.r - p.r, dg = c.g - p.g, db = c.b - p.b;
      float dist = dr * dr + dg * dg + db * db;
      if constexpr (!kHasAlpha) {
        const float da = c.a - p.a;
        dist += da * da;
      }
      if (dist < best) {
        best = dist;
        index = static_cast<uint8_t>(i);
      }
    }
    return index;
  }
};

enum class FloatLayout { kR16F, kG16R16F, kA16B16G16R16F, kR32F, kG32R32F, kA32B32G32R32F };

// Floating-point formats: values are stored as they are, without clamping,
// dither or diffusion; halves go through the math library's converters.
template <FloatLayout L>
class FloatCodec final : public PixelCodec {
  static constexpr uint32_t kBits = L == FloatLayout::kR16F                ? 16
                                    : L == FloatLayout::kG16R16F           ? 32
                                    : L == FloatLayout::kA16B16G16R16F     ? 64
                                    : L == FloatLayout::kR32F              ? 32
                                    : L == FloatLayout::kG32R32F           ? 64
                                                                           : 128;

  static constexpr uint32_t kBounce = 64;  // pixels per bounce-buffer step

 public:
  explicit FloatCodec(const PixelRegion& region) : PixelCodec(region, kBits, RangeFloat) {}

  HRESULT DecodeRow(uint32_t y, uint32_t z, D3DCOLORVALUE* out) override {
    const uint8_t* src = RowAddress(pixels, rowPitch, slicePitch, y, z);
    if constexpr (L == FloatLayout::kA16B16G16R16F) {
      if (reinterpret_cast<uintptr_t>(src) % alignof(uint16_t) == 0) {
        math::float16To32Array(&out[0].r, reinterpret_cast<const uint16_t*>(src), 4 * width);
      } else {
        // Memory at an odd address: convert through an aligned bounce buffer.
        uint16_t halves[4 * kBounce];
        for (uint32_t x = 0; x < width; x += kBounce) {
          const uint32_t n = width - x < kBounce ? width - x : kBounce;
          std::memcpy(halves, src + size_t{x} * 8, size_t{n} * 8);
          math::float16To32Array(&out[x].r, halves, 4 * n);
        }
      }
    } else if constexpr (L == FloatLayout::kA32B32G32R32F) {
      std::memcpy(static_cast<void*>(out), src, size_t{width} * sizeof(D3DCOLORVALUE));
    } else {
      for (uint32_t x = 0; x < width; ++x) {
        float v[2] = {1.0f, 1.0f};
        const uint8_t* p = src + size_t{x} * bytesPerPixel;
        if constexpr (L == FloatLayout::kR16F || L == FloatLayout::kG16R16F) {
          uint16_t h[2];
          constexpr uint32_t n = L == FloatLayout::kR16F ? 1 : 2;
          std::memcpy(h, p, n * 2);
          math::float16To32Array(v, h, n);
        } else {
          std::memcpy(v, p, bytesPerPixel);
        }
        out[x] = {v[0], v[1], 1.0f, 1.0f};
      }
    }
    FinishDecodeRow(out);
    return S_OK;
  }

  HRESULT EncodeRow(uint32_t y, uint32_t z, D3DCOLORVALUE* in) override {
    const D3DCOLORVALUE* w = PrepareEncodeRow(in);
    uint8_t* dst = RowAddress(pixels, rowPitch, slicePitch, y, z);
    if constexpr (L == FloatLayout::kA16B16G16R16F) {
      if (reinterpret_cast<uintptr_t>(dst) % alignof(uint16_t) == 0) {
        math::float32To16Array(reinterpret_cast<uint16_t*>(dst), &w[0].r, 4 * width);
      } else {
        uint16_t halves[4 * kBounce];
        for (uint32_t x = 0; x < width; x += kBounce) {
          const uint32_t n = width - x < kBounce ? width - x : kBounce;
          math::float32To16Array(halves, &w[x].r, 4 * n);
          std::memcpy(dst + size_t{x} * 8, halves, size_t{n} * 8);
        }
      }
    } else if constexpr (L == FloatLayout::kA32B32G32R32F) {
      std::memcpy(dst, static_cast<const void*>(w), size_t{width} * sizeof(D3DCOLORVALUE));
    } else {
      for (uint32_t x = 0; x < width; ++x) {
        const float v[2] = {w[x].r, w[x].g};
        uint8_t* p = dst + size_t{x} * bytesPerPixel;
        if constexpr (L == FloatLayout::kR16F || L == FloatLayout::kG16R16F) {
          uint16_t h[2];
          constexpr uint32_t n = L == FloatLayout::kR16F ? 1 : 2;
          math::float32To16Array(h, v, n);
          std::memcpy(p, h, n * 2);
        } else {
          std::memcpy(p, v, bytesPerPixel);
        }
      }
    }
    return S_OK;
  }
};

template <class C>
std::unique_ptr<PixelCodec> Make(const PixelRegion& region) {
  return std::unique_ptr<PixelCodec>(new (std::nothrow) C(region));
}

}  // namespace

std::unique_ptr<PixelCodec> CreatePlainCodec(const PixelRegion& region) {
  switch (static_cast<uint32_t>(region.format)) {
    case D3DFMT_R8G8B8: return Make<FieldCodec<fmt::R8G8B8>>(region);
    case D3DFMT_A8R8G8B8: return Make<FieldCodec<fmt::A8R8G8B8>>(region);
    case D3DFMT_X8R8G8B8: return Make<FieldCodec<fmt::X8R8G8B8>>(region);
    case D3DFMT_R5G6B5: return Make<FieldCodec<fmt::R5G6B5>>(region);
    case D3DFMT_X1R5G5B5: return Make<FieldCodec<fmt::X1R5G5B5>>(region);
    case D3DFMT_A1R5G5B5: return Make<FieldCodec<fmt::A1R5G5B5>>(region);
    case D3DFMT_A4R4G4B4: return Make<FieldCodec<fmt::A4R4G4B4>>(region);
    case D3DFMT_R3G3B2: return Make<FieldCodec<fmt::R3G3B2>>(region);
    case D3DFMT_A8: return Make<FieldCodec<fmt::A8>>(region);
    case D3DFMT_A8R3G3B2: return Make<FieldCodec<fmt::A8R3G3B2>>(region);
    case D3DFMT_X4R4G4B4: return Make<FieldCodec<fmt::X4R4G4B4>>(region);
    case D3DFMT_A2B10G10R10: return Make<FieldCodec<fmt::A2B10G10R10>>(region);
    case D3DFMT_A8B8G8R8: return Make<FieldCodec<fmt::A8B8G8R8>>(region);
    case D3DFMT_X8B8G8R8: return Make<FieldCodec<fmt::X8B8G8R8>>(region);
    case D3DFMT_G16R16: return Make<FieldCodec<fmt::G16R16>>(region);
    case D3DFMT_A2R10G10B10: return Make<FieldCodec<fmt::A2R10G10B10>>(region);
    case D3DFMT_A16B16G16R16: return Make<FieldCodec<fmt::A16B16G16R16>>(region);
    case D3DFMT_A8P8: return Make<PaletteCodec<true>>(region);
    case D3DFMT_P8: return Make<PaletteCodec<false>>(region);
    case D3DFMT_L8: return Make<FieldCodec<fmt::L8>>(region);
    case D3DFMT_A8L8: return Make<FieldCodec<fmt::A8L8>>(region);
    case D3DFMT_A4L4: return Make<FieldCodec<fmt::A4L4>>(region);
    case D3DFMT_L16:
    case D3DFMT_D16_LOCKABLE: return Make<FieldCodec<fmt::L16>>(region);
    case D3DFMT_INTERNAL_AL16: return Make<FieldCodec<fmt::AL16>>(region);
    case D3DFMT_INTERNAL_R16: return Make<FieldCodec<fmt::R16>>(region);
    case D3DFMT_V8U8: return Make<FieldCodec<fmt::V8U8>>(region);
    case D3DFMT_L6V5U5: return Make<FieldCodec<fmt::L6V5U5>>(region);
    case D3DFMT_X8L8V8U8: return Make<FieldCodec<fmt::X8L8V8U8>>(region);
    case D3DFMT_Q8W8V8U8: return Make<FieldCodec<fmt::Q8W8V8U8>>(region);
    case D3DFMT_V16U16: return Make<FieldCodec<fmt::V16U16>>(region);
    case D3DFMT_A2W10V10U10: return Make<FieldCodec<fmt::A2W10V10U10>>(region);
    case D3DFMT_Q16W16V16U16: return Make<FieldCodec<fmt::Q16W16V16U16>>(region);
    case D3DFMT_CxV8U8: return Make<FieldCodec<fmt::CxV8U8>>(region);
    case D3DFMT_R16F: return Make<FloatCodec<FloatLayout::kR16F>>(region);
    case D3DFMT_G16R16F: return Make<FloatCodec<FloatLayout::kG16R16F>>(region);
    case D3DFMT_A16B16G16R16F: return Make<FloatCodec<FloatLayout::kA16B16G16R16F>>(region);
    case D3DFMT_R32F:
    case D3DFMT_D32F_LOCKABLE: return Make<FloatCodec<FloatLayout::kR32F>>(region);
    case D3DFMT_G32R32F: return Make<FloatCodec<FloatLayout::kG32R32F>>(region);
    case D3DFMT_A32B32G32R32F: return Make<FloatCodec<FloatLayout::kA32B32G32R32F>>(region);
    default: return nullptr;
  }
}

}  // namespace nerro::pixel::detail
