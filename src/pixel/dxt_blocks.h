// Per-block routines of the DXT1 to DXT5 formats: one decoder and one encoder
// per format, each turning one 4x4 block into 16 float colours or back.
//
// Texel order everywhere: texel (row r, column c) of a block is entry 4r + c.
// Blocks are little-endian: DXT1 is an 8-byte colour block; DXT2/DXT3 carry
// 8 bytes of explicit 4-bit alpha before it, DXT4/DXT5 8 bytes of
// interpolated alpha. DXT2 and DXT4 store colours premultiplied by alpha.
//
// The encoder is deterministic: every value it writes follows from fixed
// single-precision arithmetic (quantisation truncates x * scale + 0.5), so
// the same input always gives the same bytes on every build.
#pragma once

#include <cstdint>

#include "d3d9/d3d9types.h"

namespace nerro::pixel {

// (16 colours out, one block in) -> S_OK.
using BlockDecodeFn = HRESULT (*)(D3DCOLORVALUE* out, const void* block);
// (one block out, 16 colours in, dither flag) -> S_OK. A set dither flag
// diffuses quantisation error inside the block (Floyd-Steinberg).
using BlockEncodeFn = HRESULT (*)(void* block, const D3DCOLORVALUE* in, bool dither);

HRESULT DecodeDxt1Block(D3DCOLORVALUE* out, const void* block);
HRESULT DecodeDxt2Block(D3DCOLORVALUE* out, const void* block);
HRESULT DecodeDxt3Block(D3DCOLORVALUE* out, const void* block);
HRESULT DecodeDxt4Block(D3DCOLORVALUE* out, const void* block);
HRESULT DecodeDxt5Block(D3DCOLORVALUE* out, const void* block);

HRESULT EncodeDxt1Block(void* block, const D3DCOLORVALUE* in, bool dither);
HRESULT EncodeDxt2Block(void* block, const D3DCOLORVALUE* in, bool dither);
HRESULT EncodeDxt3Block(void* block, const D3DCOLORVALUE* in, bool dither);
HRESULT EncodeDxt4Block(void* block, const D3DCOLORVALUE* in, bool dither);
HRESULT EncodeDxt5Block(void* block, const D3DCOLORVALUE* in, bool dither);

// Routines, block size and alpha precision of one DXT format.
struct BlockFormatRoutines {
  BlockDecodeFn decode;
  BlockEncodeFn encode;
  unsigned bytesPerBlock;  // 8 for DXT1, 16 otherwise
};
// False for formats that are not DXT1..DXT5.
bool FindBlockFormatRoutines(D3DFORMAT format, BlockFormatRoutines* out);

// A colour in the encoder's luminance-weighted space (red, green, blue).
struct WeightedColor {
  float r, g, b;
};

// Red, green, blue weights that make colour distances roughly perceptual
// (luminance coefficients 0.2125, 0.7154, 0.0721 divided by the green one),
// and their inverses.
inline constexpr WeightedColor kLuminanceWeights{0.29703665f, 1.0f, 0.10078278f};
inline constexpr WeightedColor kInverseLuminanceWeights{3.3665881f, 1.0f, 9.9223299f};

// 5:6:5 word -> colour with alpha 1.
D3DCOLORVALUE Expand565(uint16_t w);
// Colour -> 5:6:5 word; channels are clamped to [0, 1] first.
uint16_t Pack565(const D3DCOLORVALUE& c);

// Writes the 8-byte colour block for 16 colours. With alphaMode, texels with
// alpha below 0.5 become transparent (three-colour mode).
void EncodeColorBlock(uint8_t* block, const D3DCOLORVALUE* in, bool alphaMode, bool dither);

// Least-squares fit of two endpoints to 16 weighted points for a ramp of
// `steps` (3 or 4) entries.
void OptimizeColorEndpoints(const WeightedColor* points, unsigned steps, WeightedColor* a,
                            WeightedColor* b);

// Fit of two alpha endpoints x <= y to 16 alphas for a ramp of `steps`
// (6 or 8) entries; both results lie in [0, 1].
void OptimizeAlphaEndpoints(const float* alphas, unsigned steps, float* x, float* y);

// In place on 16 texels: rgb * a, and its inverse (alpha 0 gives black,
// channels not below alpha become 1, alpha >= 1 is left alone).
void PremultiplyBlock(D3DCOLORVALUE* texels);
void UnpremultiplyBlock(D3DCOLORVALUE* texels);

namespace detail {
// Plain-float builds of EncodeColorBlock and OptimizeColorEndpoints (the
// public ones run on SSE). Same arithmetic in the same order, hence the same
// bits; kept so that tests can hold the two against each other.
void EncodeColorBlockScalar(uint8_t* block, const D3DCOLORVALUE* in, bool alphaMode, bool dither);
void OptimizeColorEndpointsScalar(const WeightedColor* points, unsigned steps, WeightedColor* a,
                                  WeightedColor* b);
}  // namespace detail

}  // namespace nerro::pixel
