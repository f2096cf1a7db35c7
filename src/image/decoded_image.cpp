// The loader: tries the container decoders in a fixed order and fills the
// summary; plus the record's memory management.
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale.h>

#include "image/image.h"
#include "pixel/format_table.h"

namespace nerro::image {
namespace {

// Switches the calling thread (only) to the "C" numeric conventions for the
// duration of a load, so the text containers parse "-1.0" the same whatever
// locale the process runs in. The process-wide locale is neither read nor
// changed, so other threads never see a switch.
class ThreadCNumericLocale {
 public:
  ThreadCNumericLocale() {
    static thread_local locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    if (cLocale != static_cast<locale_t>(0)) previous_ = uselocale(cLocale);
  }
  ~ThreadCNumericLocale() {
    if (previous_ != static_cast<locale_t>(0)) uselocale(previous_);
  }
  ThreadCNumericLocale(const ThreadCNumericLocale&) = delete;
  ThreadCNumericLocale& operator=(const ThreadCNumericLocale&) = delete;

 private:
  locale_t previous_ = static_cast<locale_t>(0);
};

using Decoder = HRESULT (DecodedImage::*)(const uint8_t*, uint32_t);

struct Attempt {
  ImageFileFormat fileFormat;
  Decoder decode;
};

// Containers with a magic number first; TGA and the bare DIB, which have
// none, last.
constexpr Attempt kAttempts[] = {
    {FileBmp, &DecodedImage::decodeBmp}, {FilePpm, &DecodedImage::decodePpm},
    {FileDds, &DecodedImage::decodeDds}, {FileJpg, &DecodedImage::decodeJpg},
    {FilePng, &DecodedImage::decodePng}, {FilePfm, &DecodedImage::decodePfm},
    {FileHdr, &DecodedImage::decodeHdr}, {FileTga, &DecodedImage::decodeTga},
    {FileDib, &DecodedImage::decodeDib},
};

void setRegion(DecodedImage& image) {
  image.region = D3DBOX{0, 0, image.width, image.height, 0, image.depth};
}

}  // namespace

HRESULT DecodedImage::load(const void* data, uint32_t size, ImageInfo* info, bool wantPixelsArg) {
  if (data == nullptr || size == 0) return D3DERR_INVALIDCALL;
  if (info == nullptr && !wantPixelsArg) return S_OK;

  const auto* bytes = static_cast<const uint8_t*>(data);
  bool accepted = false;
  {
    ThreadCNumericLocale cLocale;
    for (const Attempt& attempt : kAttempts) {
      wantPixels = wantPixelsArg;
      resourceType = D3DRTYPE_TEXTURE;
      fileFormat = attempt.fileFormat;
      if (SUCCEEDED((this->*attempt.decode)(bytes, size))) {
        accepted = true;
        break;
      }
      clearOwned();
    }
  }
  if (!accepted) return ERR_INVALIDDATA;

  if (info != nullptr) {
    uint32_t levels = 1;
    for (const DecodedImage* level = nextLevel.get(); level != nullptr; level = level->nextLevel.get()) ++levels;
    info->width = width;
    info->height = height;
    info->depth = depth;
    info->mipLevels = levels;
    info->format = pixel::ResolveInternalFormat(format);
    info->resourceType = resourceType;
    info->fileFormat = fileFormat;
  }
  for (DecodedImage* face = this; face != nullptr; face = face->nextFace.get())
    for (DecodedImage* level = face; level != nullptr; level = level->nextLevel.get()) setRegion(*level);
  return S_OK;
}

void DecodedImage::clearOwned() {
  if (ownsPixels) std::free(const_cast<uint8_t*>(pixels));
  if (ownsPalette) std::free(const_cast<PALETTEENTRY*>(palette));
  pixels = nullptr;
  palette = nullptr;
  ownsPixels = false;
  ownsPalette = false;
  // Long chains are unlinked iteratively so that no recursion depth grows
  // with the number of levels or faces.
  while (nextLevel) nextLevel = std::move(nextLevel->nextLevel);
  while (nextFace) {
    std::unique_ptr<DecodedImage> face = std::move(nextFace);
    nextFace = std::move(face->nextFace);
  }
}

void DecodedImage::release() { clearOwned(); }

uint8_t* DecodedImage::allocatePixels(uint64_t bytes, bool zero) {
  // Pitches and slice sizes are 32-bit quantities; a level that could not
  // be addressed with them is refused rather than truncated.
  if (bytes > 0xFFFFFFFFull) return nullptr;
  size_t n = bytes == 0 ? 1 : static_cast<size_t>(bytes);
  void* block = zero ? std::calloc(n, 1) : std::malloc(n);
  if (block == nullptr) return nullptr;
  if (ownsPixels) std::free(const_cast<uint8_t*>(pixels));
  pixels = static_cast<uint8_t*>(block);
  ownsPixels = true;
  return static_cast<uint8_t*>(block);
}

PALETTEENTRY* DecodedImage::allocatePalette() {
  void* block = std::malloc(256 * sizeof(PALETTEENTRY));
  if (block == nullptr) return nullptr;
  if (ownsPalette) std::free(const_cast<PALETTEENTRY*>(palette));
  palette = static_cast<PALETTEENTRY*>(block);
  ownsPalette = true;
  return static_cast<PALETTEENTRY*>(block);
}

}  // namespace nerro::image
