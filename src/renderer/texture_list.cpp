#include "renderer/texture_list.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "renderer/polygon_set.h"
#include "renderer/texel_decoder.h"
#include "texture/texture_from_image.h"

namespace nerro::renderer {
namespace {

constexpr uint32_t kBitmapHeaderSize = 54;

void putLe(uint8_t* at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// True when the name fits its field with the terminator.
bool acceptableName(const char* name) {
  return name != nullptr && ::strnlen(name, kMaxTextureName) < kMaxTextureName;
}

// Makes an entry that keeps `image` and its texture; null (with nothing
// left behind) on any failure.
std::unique_ptr<TextureList> makeEntry(IDirect3DDevice9* device, const char* name, std::unique_ptr<uint8_t[]> image,
                                       uint32_t imageSize, int32_t width, int32_t height) {
  // The device reads textures of every format the builder may pick.
  installTexelDecoder();
  try {
    auto entry = std::make_unique<TextureList>();
    std::memcpy(entry->name, name, ::strnlen(name, kMaxTextureName));
    if (FAILED(entry->build(device, std::move(image), imageSize, width, height))) throw std::runtime_error("failed.");
    return entry;
  } catch (const std::exception&) {
    return nullptr;  // the entry, if made, is destroyed again
  }
}

std::unique_ptr<uint8_t[]> copyOf(const uint8_t* bytes, uint32_t size) {
  std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[size]);
  if (copy) std::memcpy(copy.get(), bytes, size);
  return copy;
}

int32_t appendEntry(NerroPolygonSet& context, std::unique_ptr<TextureList> entry) {
  if (!entry) return 0;
  try {
    context.textureEntries.push_back(std::move(entry));
  } catch (const std::bad_alloc&) {
    return 0;  // the entry is released here, not lost
  }
  return 1;
}

}  // namespace

uint32_t bitmapFileSize(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return 0;
  const uint64_t size = uint64_t(width) * uint64_t(height) * 4 + kBitmapHeaderSize;
  return size > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(size);
}

std::unique_ptr<uint8_t[]> buildBitmapFile(const void* pixels, int32_t width, int32_t height) {
  const uint32_t size = bitmapFileSize(width, height);
  if (size == 0 || pixels == nullptr) return nullptr;
  std::unique_ptr<uint8_t[]> file(new (std::nothrow) uint8_t[size]);
  if (!file) return nullptr;
  uint8_t* h = file.get();
  std::memset(h, 0, kBitmapHeaderSize);
  h[0] = 'B';
  h[1] = 'M';
  putLe(h + 2, size, 4);
  putLe(h + 10, kBitmapHeaderSize, 4);
  putLe(h + 14, 40, 4);
  putLe(h + 18, static_cast<uint32_t>(width), 4);
  putLe(h + 22, static_cast<uint32_t>(height), 4);  // positive: rows bottom-up
  putLe(h + 26, 1, 2);
  putLe(h + 28, 32, 2);
  putLe(h + 34, size - kBitmapHeaderSize, 4);
  putLe(h + 38, 2834, 4);
  putLe(h + 42, 2834, 4);
  std::memcpy(h + kBitmapHeaderSize, pixels, size - kBitmapHeaderSize);
  return file;
}

TextureList::~TextureList() {
  if (texture != nullptr) texture->Release();
}

HRESULT TextureList::build(IDirect3DDevice9* device, std::unique_ptr<uint8_t[]> image, uint32_t imageSize,
                           int32_t w, int32_t h) {
  width = w;
  height = h;
  bitmapCopy = std::move(image);
  bitmapSize = imageSize;
  return makeTexture(device);
}

HRESULT TextureList::rebuild(IDirect3DDevice9* device) {
  if (texture != nullptr) {
    texture->Release();
    texture = nullptr;
  }
  return makeTexture(device);
}

HRESULT TextureList::makeTexture(IDirect3DDevice9* device) {
  // Host bitmaps are made at their own size; a file not yet measured takes
  // the image's size, unraised, the same way.
  const uint32_t w = width > 0 ? static_cast<uint32_t>(width) : texture::UseImageSize;
  const uint32_t h = height > 0 ? static_cast<uint32_t>(height) : texture::UseImageSize;
  image::ImageInfo info{};
  const HRESULT hr = texture::MakeTextureFromImage(
      device, bitmapCopy.get(), bitmapSize, w, h, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture::FilterLinear,
      texture::FilterLinear, 0, &info, nullptr, &texture);
  if (FAILED(hr)) {
    texture = nullptr;
    return E_FAIL;
  }
  width = static_cast<int32_t>(info.width);
  height = static_cast<int32_t>(info.height);
  return S_OK;
}

int32_t loadTexture(NerroPolygonSet& context, const char* name, const void* pixels, int32_t width, int32_t height) {
  if (!acceptableName(name)) return 0;
  context.bitmapScratch = buildBitmapFile(pixels, width, height);
  if (!context.bitmapScratch) return 0;
  // The entry keeps the scratch image as its copy: the same bytes, without
  // a second image-sized buffer. Either way the scratch pointer is empty
  // afterwards.
  auto entry = makeEntry(context.device, name, std::move(context.bitmapScratch), bitmapFileSize(width, height),
                         width, height);
  context.bitmapScratch.reset();
  return appendEntry(context, std::move(entry));
}

int32_t loadTextureImage(NerroPolygonSet& context, const char* name, const void* data, uint32_t size) {
  if (!acceptableName(name) || data == nullptr || size == 0) return 0;
  std::unique_ptr<uint8_t[]> copy = copyOf(static_cast<const uint8_t*>(data), size);
  if (!copy) return 0;
  return appendEntry(context, makeEntry(context.device, name, std::move(copy), size, 0, 0));
}

TextureList* findTexture(const NerroPolygonSet& context, const char* name) {
  if (name == nullptr) return nullptr;
  for (const auto& entry : context.textureEntries)
    if (std::strcmp(entry->name, name) == 0) return entry.get();
  return nullptr;
}

int32_t assignTexture(NerroPolygonSet& context, uint32_t id, const char* name, uint32_t slot, const float* coords) {
  NerroPolygon* polygon = context.polygonTable.find(id);
  if (polygon == nullptr) return 0;
  TextureList* entry = findTexture(context, name);
  if (entry == nullptr) return 0;
  if (slot > 1) return 1;  // no such slot: nothing changes
  if (coords == nullptr) return 0;
  polygon->assignTexture(slot, entry->texture, coords);
  return 1;
}

void clearTextures(NerroPolygonSet& context) {
  for (auto& entry : context.textureEntries) entry.reset();
  context.textureEntries.clear();
}

}  // namespace nerro::renderer
