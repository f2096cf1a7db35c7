#include "texture/box_fast_path.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "math/math.h"
#include "platform/platform.h"

namespace nerro::texture {

namespace {

// Fields of one packed format split into two groups whose fields are at
// least two bits apart, so the sum of four pixels (two bits wider than a
// field) never reaches the next field of the group. The rounding word adds
// 2 at the lowest bit of every field of the group.
template <typename Pixel, uint32_t kMaskA, uint32_t kMaskB>
struct FieldGroups {
  static constexpr uint32_t roundFor(uint32_t mask) {
    uint32_t round = 0;
    for (int bit = 0; bit < 32; ++bit) {
      const bool set = (mask >> bit) & 1u;
      const bool below = bit > 0 && ((mask >> (bit - 1)) & 1u);
      if (set && !below) round += 2u << bit;
    }
    return round;
  }
  static constexpr uint32_t kRoundA = roundFor(kMaskA);
  static constexpr uint32_t kRoundB = roundFor(kMaskB);

  static void halve(const uint8_t* source, uint32_t sourcePitch, uint8_t* dest, uint32_t destPitch,
                    uint32_t destWidth, uint32_t rows) {
    for (uint32_t y = 0; y < rows; ++y) {
      const uint8_t* row0 = source + static_cast<size_t>(2 * y) * sourcePitch;
      const uint8_t* row1 = row0 + sourcePitch;
      uint8_t* out = dest + static_cast<size_t>(y) * destPitch;
      for (uint32_t x = 0; x < destWidth; ++x) {
        Pixel p[4];
        std::memcpy(&p[0], row0 + 2 * x * sizeof(Pixel), 2 * sizeof(Pixel));
        std::memcpy(&p[2], row1 + 2 * x * sizeof(Pixel), 2 * sizeof(Pixel));
        uint32_t a = kRoundA, b = kRoundB;
        for (Pixel v : p) {
          a += v & kMaskA;
          b += v & kMaskB;
        }
        const Pixel result = static_cast<Pixel>(((a >> 2) & kMaskA) | ((b >> 2) & kMaskB));
        std::memcpy(out + x * sizeof(Pixel), &result, sizeof(Pixel));
      }
    }
  }
};

// Four 8-bit fields in 32 bits: bytes 0 and 2 in one group, 1 and 3 shifted
// down into the same lanes in the other. `keep` selects the bytes written.
template <uint32_t kKeep>
inline void halve32(const uint8_t* source, uint32_t sourcePitch, uint8_t* dest, uint32_t destPitch,
                    uint32_t destWidth, uint32_t rows) {
  constexpr uint32_t kLanes = 0x00FF00FFu;
  constexpr uint32_t kRound = 0x00020002u;
  for (uint32_t y = 0; y < rows; ++y) {
    const uint8_t* row0 = source + static_cast<size_t>(2 * y) * sourcePitch;
    const uint8_t* row1 = row0 + sourcePitch;
    uint8_t* out = dest + static_cast<size_t>(y) * destPitch;
    for (uint32_t x = 0; x < destWidth; ++x) {
      uint32_t p[4];
      std::memcpy(&p[0], row0 + 8 * x, 8);
      std::memcpy(&p[2], row1 + 8 * x, 8);
      const uint32_t even = (p[0] & kLanes) + (p[1] & kLanes) + (p[2] & kLanes) + (p[3] & kLanes) + kRound;
      const uint32_t odd = ((p[0] >> 8) & kLanes) + ((p[1] >> 8) & kLanes) + ((p[2] >> 8) & kLanes) +
                           ((p[3] >> 8) & kLanes) + kRound;
      const uint32_t result = (((even >> 2) & kLanes) | (((odd >> 2) & kLanes) << 8)) & kKeep;
      std::memcpy(out + 4 * x, &result, 4);
    }
  }
}

#if defined(__SSE2__)
// Eight source pixels of each row (32 bytes) give four destination pixels:
// bytes widen to 16-bit lanes, the two rows and then neighbouring pixels
// are added, and (sum + 2) >> 2 narrows back. The sums fit in 10 bits, so
// the result equals the plain routine's exactly. The tail of a row that is
// not a multiple of eight source pixels goes through the plain code.
template <uint32_t kKeep>
inline void halve32Sse2(const uint8_t* source, uint32_t sourcePitch, uint8_t* dest, uint32_t destPitch,
                        uint32_t destWidth, uint32_t rows) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i two = _mm_set1_epi16(2);
  const __m128i keep = _mm_set1_epi32(static_cast<int>(kKeep));
  const uint32_t blocks = destWidth / 4;
  for (uint32_t y = 0; y < rows; ++y) {
    const uint8_t* row0 = source + static_cast<size_t>(2 * y) * sourcePitch;
    const uint8_t* row1 = row0 + sourcePitch;
    uint8_t* out = dest + static_cast<size_t>(y) * destPitch;
    for (uint32_t i = 0; i < blocks; ++i) {
      const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row0 + 32 * i));
      const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row0 + 32 * i + 16));
      const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row1 + 32 * i));
      const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row1 + 32 * i + 16));
      // Vertical sums, pixels 0-1, 2-3, 4-5, 6-7 in 16-bit lanes.
      const __m128i v01 = _mm_add_epi16(_mm_unpacklo_epi8(a0, zero), _mm_unpacklo_epi8(b0, zero));
      const __m128i v23 = _mm_add_epi16(_mm_unpackhi_epi8(a0, zero), _mm_unpackhi_epi8(b0, zero));
      const __m128i v45 = _mm_add_epi16(_mm_unpacklo_epi8(a1, zero), _mm_unpacklo_epi8(b1, zero));
      const __m128i v67 = _mm_add_epi16(_mm_unpackhi_epi8(a1, zero), _mm_unpackhi_epi8(b1, zero));
      // Horizontal: pixel 2k plus pixel 2k + 1.
      const __m128i h01 = _mm_add_epi16(_mm_unpacklo_epi64(v01, v23), _mm_unpackhi_epi64(v01, v23));
      const __m128i h23 = _mm_add_epi16(_mm_unpacklo_epi64(v45, v67), _mm_unpackhi_epi64(v45, v67));
      const __m128i r01 = _mm_srli_epi16(_mm_add_epi16(h01, two), 2);
      const __m128i r23 = _mm_srli_epi16(_mm_add_epi16(h23, two), 2);
      const __m128i result = _mm_and_si128(_mm_packus_epi16(r01, r23), keep);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * i), result);
    }
    const uint32_t done = blocks * 4;
    if (done < destWidth)
      halve32<kKeep>(row0 + 8 * done, sourcePitch, out + 4 * done, destPitch, destWidth - done, 1);
  }
}
#endif

void firstUseArgb32(const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t, uint32_t);
void firstUseXrgb32(const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t, uint32_t);

// Process-wide, set at first use and kept for the life of the process.
#if defined(__x86_64__) || defined(__i386__)
#define NERRO_BOX_AVX2 1
// The same on 256-bit registers: sixteen source pixels of each row give
// eight destination pixels. Byte unpacking and packing work within 128-bit
// halves, so the packed result's middle quarters are swapped back into
// order. The rest of a row goes through the SSE2 routine.
template <uint32_t kKeep>
__attribute__((target("avx2"))) void halve32Avx2(const uint8_t* source, uint32_t sourcePitch, uint8_t* dest,
                                                 uint32_t destPitch, uint32_t destWidth, uint32_t rows) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i two = _mm256_set1_epi16(2);
  const __m256i keep = _mm256_set1_epi32(static_cast<int>(kKeep));
  const uint32_t blocks = destWidth / 8;
  for (uint32_t y = 0; y < rows; ++y) {
    const uint8_t* row0 = source + static_cast<size_t>(2 * y) * sourcePitch;
    const uint8_t* row1 = row0 + sourcePitch;
    uint8_t* out = dest + static_cast<size_t>(y) * destPitch;
    for (uint32_t i = 0; i < blocks; ++i) {
      const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row0 + 64 * i));
      const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row0 + 64 * i + 32));
      const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row1 + 64 * i));
      const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row1 + 64 * i + 32));
      const __m256i lo0 = _mm256_add_epi16(_mm256_unpacklo_epi8(a0, zero), _mm256_unpacklo_epi8(b0, zero));
      const __m256i hi0 = _mm256_add_epi16(_mm256_unpackhi_epi8(a0, zero), _mm256_unpackhi_epi8(b0, zero));
      const __m256i lo1 = _mm256_add_epi16(_mm256_unpacklo_epi8(a1, zero), _mm256_unpacklo_epi8(b1, zero));
      const __m256i hi1 = _mm256_add_epi16(_mm256_unpackhi_epi8(a1, zero), _mm256_unpackhi_epi8(b1, zero));
      const __m256i h0 = _mm256_add_epi16(_mm256_unpacklo_epi64(lo0, hi0), _mm256_unpackhi_epi64(lo0, hi0));
      const __m256i h1 = _mm256_add_epi16(_mm256_unpacklo_epi64(lo1, hi1), _mm256_unpackhi_epi64(lo1, hi1));
      const __m256i r0 = _mm256_srli_epi16(_mm256_add_epi16(h0, two), 2);
      const __m256i r1 = _mm256_srli_epi16(_mm256_add_epi16(h1, two), 2);
      const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(r0, r1), 0xD8);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32 * i), _mm256_and_si256(packed, keep));
    }
    const uint32_t done = blocks * 8;
    if (done < destWidth)
      halve32Sse2<kKeep>(row0 + 8 * done, sourcePitch, out + 4 * done, destPitch, destWidth - done, 1);
  }
}
#endif

BoxHalveRoutine gArgb32Routine = firstUseArgb32;
BoxHalveRoutine gXrgb32Routine = firstUseXrgb32;

void chooseRoutines() {
  if (math::isMmxAvailable()) {
    const bool avx2 = platform::cpuFeatures().avx2;
    gArgb32Routine = avx2 ? boxHalveArgb32Avx2 : boxHalveArgb32Simd;
    gXrgb32Routine = avx2 ? boxHalveXrgb32Avx2 : boxHalveXrgb32Simd;
  } else {
    gArgb32Routine = boxHalveArgb32Plain;
    gXrgb32Routine = boxHalveXrgb32Plain;
  }
}

void firstUseArgb32(const uint8_t* s, uint32_t sp, uint8_t* d, uint32_t dp, uint32_t w, uint32_t r) {
  chooseRoutines();
  gArgb32Routine(s, sp, d, dp, w, r);
}

void firstUseXrgb32(const uint8_t* s, uint32_t sp, uint8_t* d, uint32_t dp, uint32_t w, uint32_t r) {
  chooseRoutines();
  gXrgb32Routine(s, sp, d, dp, w, r);
}

// The stored pointers start at the first-use routines; callers always go
// through these trampolines so they pick up the choice once it is made.
void callArgb32(const uint8_t* s, uint32_t sp, uint8_t* d, uint32_t dp, uint32_t w, uint32_t r) {
  gArgb32Routine(s, sp, d, dp, w, r);
}

void callXrgb32(const uint8_t* s, uint32_t sp, uint8_t* d, uint32_t dp, uint32_t w, uint32_t r) {
  gXrgb32Routine(s, sp, d, dp, w, r);
}

}  // namespace

void resetBoxHalveRoutines() {
  gArgb32Routine = firstUseArgb32;
  gXrgb32Routine = firstUseXrgb32;
}

void boxHalveArgb32Plain(const uint8_t* s, uint32_t sp, uint8_t* d, uint32_t dp, uint32_t w, uint32_t r) {
  halve32<0xFFFFFFFFu>(s, sp, d, dp, w, r);
}

void boxHalveXrgb32Plain(const uint8_t* s, uint32_t sp, uint8_t* d, uint32_t dp, uint32_t w, uint32_t r) {
  halve32<0x00FFFFFFu>(s, sp, d, dp, w, r);
}

void boxHalveArgb32Simd(const uint8_t* s, uint32_t sp, uint8_t* d, uint32_t dp, uint32_t w, uint32_t r) {
#if defined(__SSE2__)
  halve32Sse2<0xFFFFFFFFu>(s, sp, d, dp, w, r);
#else
  halve32<0xFFFFFFFFu>(s, sp, d, dp, w, r);
#endif
}

void boxHalveXrgb32Simd(const uint8_t* s, uint32_t sp, uint8_t* d, uint32_t dp, uint32_t w, uint32_t r) {
#if defined(__SSE2__)
  halve32Sse2<0x00FFFFFFu>(s, sp, d, dp, w, r);
#else
  halve32<0x00FFFFFFu>(s, sp, d, dp, w, r);
#endif
}

void boxHalveArgb32Avx2(const uint8_t* s, uint32_t sp, uint8_t* d, uint32_t dp, uint32_t w, uint32_t r) {
#if defined(NERRO_BOX_AVX2) && defined(__SSE2__)
  if (platform::cpuFeatures().avx2) return halve32Avx2<0xFFFFFFFFu>(s, sp, d, dp, w, r);
#endif
  boxHalveArgb32Simd(s, sp, d, dp, w, r);
}

void boxHalveXrgb32Avx2(const uint8_t* s, uint32_t sp, uint8_t* d, uint32_t dp, uint32_t w, uint32_t r) {
#if defined(NERRO_BOX_AVX2) && defined(__SSE2__)
  if (platform::cpuFeatures().avx2) return halve32Avx2<0x00FFFFFFu>(s, sp, d, dp, w, r);
#endif
  boxHalveXrgb32Simd(s, sp, d, dp, w, r);
}

BoxHalveRoutine chosenArgb32Routine() {
  if (gArgb32Routine == firstUseArgb32) chooseRoutines();
  return gArgb32Routine;
}

BoxHalveRoutine boxHalveRoutine(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_A8B8G8R8:
      return callArgb32;
    case D3DFMT_X8R8G8B8:
    case D3DFMT_X8B8G8R8:
      return callXrgb32;
    case D3DFMT_R5G6B5:
      return FieldGroups<uint16_t, 0xF81F, 0x07E0>::halve;
    case D3DFMT_X1R5G5B5:
      return FieldGroups<uint16_t, 0x7C1F, 0x03E0>::halve;
    case D3DFMT_A1R5G5B5:
      return FieldGroups<uint16_t, 0x7C1F, 0x83E0>::halve;
    case D3DFMT_A4R4G4B4:
      return FieldGroups<uint16_t, 0x0F0F, 0xF0F0>::halve;
    case D3DFMT_R3G3B2:
      return FieldGroups<uint8_t, 0xE3, 0x1C>::halve;
    case D3DFMT_A8:
    case D3DFMT_L8:
      return FieldGroups<uint8_t, 0xFF, 0x00>::halve;
    case D3DFMT_A8R3G3B2:
      return FieldGroups<uint16_t, 0x00E3, 0xFF1C>::halve;
    case D3DFMT_X4R4G4B4:
      return FieldGroups<uint16_t, 0x0F0F, 0x00F0>::halve;
    case D3DFMT_A8L8:
      return FieldGroups<uint16_t, 0x00FF, 0xFF00>::halve;
    case D3DFMT_A4L4:
      return FieldGroups<uint8_t, 0x0F, 0xF0>::halve;
    default:
      return nullptr;
  }
}

}  // namespace nerro::texture
