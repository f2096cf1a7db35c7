// The image loader: finds out which container a block of bytes holds and
// decodes it into a DecodedImage record (one level of one face, with chains
// of further mip levels and cube faces for DDS).
#pragma once

#include <cstdint>
#include <memory>

#include "d3d9/d3d9types.h"

namespace nerro::image {

// The numbering of containers, as reported in ImageInfo::fileFormat.
enum ImageFileFormat : uint32_t {
  FileBmp = 0,
  FileJpg = 1,
  FileTga = 2,
  FilePng = 3,
  FileDds = 4,
  FilePpm = 5,
  FileDib = 6,
  FileHdr = 7,
  FilePfm = 8,
};

// The summary the loader reports: seven 32-bit fields.
struct ImageInfo {
  uint32_t width;
  uint32_t height;
  uint32_t depth;
  uint32_t mipLevels;
  D3DFORMAT format;  // internal formats resolved to Direct3D ones
  D3DRESOURCETYPE resourceType;
  ImageFileFormat fileFormat;
};
static_assert(sizeof(ImageInfo) == 7 * sizeof(uint32_t));

// One image level of one face. `pixels` and `palette` either point into the
// caller's data (the caller's bytes must then outlive the record) or into
// blocks the decoder allocated, as the ownership flags say. Releasing the
// head of a chain frees every level and face below it.
class DecodedImage {
 public:
  DecodedImage() = default;
  ~DecodedImage() { release(); }
  DecodedImage(const DecodedImage&) = delete;
  DecodedImage& operator=(const DecodedImage&) = delete;

  // Decodes `data` (`size` bytes). Returns S_OK, D3DERR_INVALIDCALL (no data
  // or size 0) or ERR_INVALIDDATA (no decoder accepts the bytes). `info` may
  // be null; with `wantPixels` false only headers are read where the
  // container allows it. After a failure the record owns nothing.
  HRESULT load(const void* data, uint32_t size, ImageInfo* info, bool wantPixels);

  // Frees what the record owns: pixels, palette, then the next level and the
  // next face (with everything hanging off them).
  void release();

  // The container decoders, tried by load() in a fixed order. Each returns
  // S_OK, E_FAIL or E_OUTOFMEMORY; on failure the record may still own
  // blocks, which load() frees before the next attempt.
  HRESULT decodeBmp(const uint8_t* data, uint32_t size);
  HRESULT decodeDib(const uint8_t* data, uint32_t size);
  HRESULT decodeTga(const uint8_t* data, uint32_t size);
  HRESULT decodeDds(const uint8_t* data, uint32_t size);
  HRESULT decodePpm(const uint8_t* data, uint32_t size);
  HRESULT decodePfm(const uint8_t* data, uint32_t size);
  HRESULT decodeHdr(const uint8_t* data, uint32_t size);
  HRESULT decodeJpg(const uint8_t* data, uint32_t size);
  HRESULT decodePng(const uint8_t* data, uint32_t size);

  D3DFORMAT format = D3DFMT_UNKNOWN;
  const uint8_t* pixels = nullptr;
  const PALETTEENTRY* palette = nullptr;  // 256 entries, or none
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t depth = 0;
  D3DBOX region{};  // the whole level, set by load()
  uint32_t rowPitch = 0;    // for block formats: one row of 4x4 blocks
  uint32_t slicePitch = 0;  // 0 for every container but DDS
  bool ownsPixels = false;
  bool ownsPalette = false;
  bool wantPixels = false;
  D3DRESOURCETYPE resourceType = D3DRTYPE_TEXTURE;
  ImageFileFormat fileFormat = FileBmp;
  std::unique_ptr<DecodedImage> nextLevel;  // next smaller mip level of this face
  std::unique_ptr<DecodedImage> nextFace;   // top level of the next cube face

 private:
  // Allocates an owned pixel buffer of `bytes` bytes (zeroed when `zero`).
  // Returns the writable address or null when memory runs out (or the size
  // cannot be represented).
  uint8_t* allocatePixels(uint64_t bytes, bool zero = false);
  // Allocates the owned 256-entry palette, or returns null.
  PALETTEENTRY* allocatePalette();
  // Frees owned blocks and chains and clears the six fields involved.
  void clearOwned();
};

}  // namespace nerro::image
