#include "api/context.h"

#include <memory>
#include <new>
#include <stdexcept>

#include "api/host_memory.h"
#include "platform/platform.h"

namespace nerro::api {
namespace {

std::unique_ptr<renderer::NerroPolygonSet> gContext;

// A failure while making the context; caught inside the library.
class ContextError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A new context with a device on `window`, or null. A failed device set-up
// destroys the half-made context here, releasing whatever it made.
std::unique_ptr<renderer::NerroPolygonSet> makeContext(HWND window) {
  try {
    auto set = std::make_unique<renderer::NerroPolygonSet>();
    if (set->initDevice(window) != S_OK) throw ContextError("failed to make D3D Object.");
    return set;
  } catch (const ContextError&) {
    return nullptr;
  }
}

}  // namespace

renderer::NerroPolygonSet* context() { return gContext.get(); }

int32_t ensureContext() {
  if (gContext) return 1;
  try {
    gContext = makeContext(platform::foregroundWindow());
    if (!gContext) throw ContextError("cannot make object.");
    return 1;
  } catch (...) {  // a failed creation, or memory exhaustion while making the context
    gContext.reset();
    return 0;
  }
}

void disposeContext() {
  // The destructor releases in the order polygons, texture entries, scratch
  // image, read-back surfaces, device, Direct3D object; it raises nothing.
  gContext.reset();
}

void* resolveBitmapPixels(uint32_t handle, int32_t width, int32_t height, bool writable) {
  if (width <= 0 || height <= 0) return nullptr;
  const uint64_t pixelBytes = uint64_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(height) * 4;
  if (pixelBytes + 54 > 0xFFFFFFFFull) return nullptr;
  // The chain holds 32-bit values and is computed in 32-bit arithmetic.
  const uint32_t a0 = 2u * handle + 16u;
  uint32_t p1 = 0, p2 = 0, pixels = 0;
  if (!readHostWord(a0, &p1)) return nullptr;
  if (!readHostWord(uint32_t{p1 + 8u}, &p2)) return nullptr;
  if (!readHostWord(uint32_t{p2 + 16u}, &pixels)) return nullptr;
  if (!isMappedRange(pixels, static_cast<size_t>(pixelBytes), writable)) return nullptr;
  return reinterpret_cast<void*>(static_cast<uintptr_t>(pixels));
}

}  // namespace nerro::api
