#include "renderer/frame.h"

#include <algorithm>
#include <cstring>

#include "math/math.h"
#include "renderer/polygon_set.h"
#include "renderer/polygon_table.h"

namespace nerro::renderer {

namespace {

// Releases a surface held in one of the context's fields and clears it.
void releaseSurface(IDirect3DSurface9*& surface) {
  if (surface) {
    surface->Release();
    surface = nullptr;
  }
}

// Both transient surfaces of a read-back are released on every way out.
class ReadBackSurfaces {
 public:
  explicit ReadBackSurfaces(NerroPolygonSet& context) : context_(context) {}
  ReadBackSurfaces(const ReadBackSurfaces&) = delete;
  ReadBackSurfaces& operator=(const ReadBackSurfaces&) = delete;
  ~ReadBackSurfaces() {
    releaseSurface(context_.readbackSurface);
    releaseSurface(context_.backBuffer);
  }

 private:
  NerroPolygonSet& context_;
};

inline uint32_t expand5(uint32_t v) { return (v << 3) | (v >> 2); }
inline uint32_t expand6(uint32_t v) { return (v << 2) | (v >> 4); }
inline uint32_t expand4(uint32_t v) { return v * 0x11u; }

template <class Widen>
void widenRow(const void* source, uint32_t count, void* destination, Widen widen) {
  const auto* in = static_cast<const uint8_t*>(source);
  auto* out = static_cast<uint8_t*>(destination);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t p = static_cast<uint32_t>(in[2 * i]) | (static_cast<uint32_t>(in[2 * i + 1]) << 8);
    const uint32_t argb = widen(p);
    out[4 * i + 0] = static_cast<uint8_t>(argb);
    out[4 * i + 1] = static_cast<uint8_t>(argb >> 8);
    out[4 * i + 2] = static_cast<uint8_t>(argb >> 16);
    out[4 * i + 3] = static_cast<uint8_t>(argb >> 24);
  }
}

uint32_t bytesPerPixel(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
      return 4;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4:
      return 2;
    default:
      return 0;
  }
}

// Draws polygons in the order they are pushed, a few pushes behind, and
// asks for each polygon's memory as it is pushed. The table's visiting
// order scatters the polygons over the heap; without this every small
// polygon would wait for its own cache misses (its state, vertices and
// transforms) before the device could start on it.
class DrawAhead {
 public:
  explicit DrawAhead(IDirect3DDevice9* device) : device_(device) {}
  DrawAhead(const DrawAhead&) = delete;
  DrawAhead& operator=(const DrawAhead&) = delete;

  void push(const NerroPolygon* polygon) {
    const auto* bytes = reinterpret_cast<const char*>(polygon);
    for (size_t offset = 0; offset < sizeof(NerroPolygon); offset += kLine) __builtin_prefetch(bytes + offset);
    __builtin_prefetch(bytes + sizeof(NerroPolygon) - 1);
    if (count_ == kDepth) {
      drawPolygon(device_, *queue_[head_]);
      queue_[head_] = polygon;
      head_ = (head_ + 1) % kDepth;
    } else {
      queue_[(head_ + count_++) % kDepth] = polygon;
    }
  }

  // Draws what is still waiting.
  void finish() {
    for (; count_ > 0; --count_, head_ = (head_ + 1) % kDepth) drawPolygon(device_, *queue_[head_]);
  }

 private:
  static constexpr size_t kLine = 64;
  static constexpr int kDepth = 4;
  IDirect3DDevice9* device_;
  const NerroPolygon* queue_[kDepth] = {};
  int head_ = 0;
  int count_ = 0;
};

}  // namespace

bool backBufferRowToHost(D3DFORMAT format, const void* source, uint32_t count, void* destination) {
  switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
      std::memcpy(destination, source, static_cast<size_t>(count) * 4);
      return true;
    case D3DFMT_R5G6B5:
      widenRow(source, count, destination, [](uint32_t p) {
        return 0xFF000000u | expand5(p >> 11) << 16 | expand6((p >> 5) & 63) << 8 | expand5(p & 31);
      });
      return true;
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: {
      const bool hasAlpha = format == D3DFMT_A1R5G5B5;
      widenRow(source, count, destination, [hasAlpha](uint32_t p) {
        const uint32_t a = !hasAlpha || (p & 0x8000) ? 0xFFu : 0u;
        return a << 24 | expand5((p >> 10) & 31) << 16 | expand5((p >> 5) & 31) << 8 | expand5(p & 31);
      });
      return true;
    }
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4: {
      const bool hasAlpha = format == D3DFMT_A4R4G4B4;
      widenRow(source, count, destination, [hasAlpha](uint32_t p) {
        const uint32_t a = hasAlpha ? expand4(p >> 12) : 0xFFu;
        return a << 24 | expand4((p >> 8) & 15) << 16 | expand4((p >> 4) & 15) << 8 | expand4(p & 15);
      });
      return true;
    }
    default:
      return false;
  }
}

void drawPolygon(IDirect3DDevice9* device, const NerroPolygon& polygon) {
  if (polygon.disposed) return;
  for (const PolygonRenderState& s : kPolygonRenderStates) {
    if (s.stage < 0)
      device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(s.state), s.value);
    else
      device->SetTextureStageState(static_cast<uint32_t>(s.stage), static_cast<D3DTEXTURESTAGESTATETYPE>(s.state),
                                   s.value);
  }
  // An empty slot leaves the stage's binding alone: the texture an earlier
  // polygon (of this frame or an earlier one) bound stays in use.
  for (uint32_t slot = 0; slot < 2; ++slot)
    if (IDirect3DTexture9* texture = polygon.slotTextures[slot].get()) device->SetTexture(slot, texture);
  const D3DMATRIX world = composeWorld(polygon);
  device->SetTransform(D3DTS_WORLD, &world);
  device->SetFVF(kPolygonFvf);
  device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, polygon.quad ? 2 : 1, polygon.vertices, sizeof(PolygonVertex));
}

HRESULT readBack(NerroPolygonSet& context, void* pixels, int32_t width, int32_t height) {
  // Nothing can be written safely without a buffer or with a negative size.
  if (!pixels || width < 0 || height < 0) return E_FAIL;
  IDirect3DDevice9* device = context.device;
  ReadBackSurfaces release(context);

  if (device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &context.backBuffer) != S_OK) return E_FAIL;
  D3DSURFACE_DESC desc{};
  if (context.backBuffer->GetDesc(&desc) != S_OK) return E_FAIL;
  if (FAILED(device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM,
                                                 &context.readbackSurface, nullptr)))
    return E_OUTOFMEMORY;
  if (device->GetRenderTargetData(context.backBuffer, context.readbackSurface) != S_OK) return E_FAIL;
  D3DLOCKED_RECT locked{};
  if (FAILED(context.readbackSurface->LockRect(&locked, nullptr, D3DLOCK_READONLY | D3DLOCK_DONOTWAIT)))
    return E_FAIL;

  HRESULT result = S_OK;
  if (bytesPerPixel(desc.Format) == 0) {
    result = E_FAIL;  // a back-buffer format we cannot turn into host pixels
  } else {
    // Copy the overlap of the host's picture and the back buffer.
    const uint32_t columns = std::min(static_cast<uint32_t>(width), desc.Width);
    const uint32_t rows = std::min(static_cast<uint32_t>(height), desc.Height);
    const size_t hostPitch = static_cast<size_t>(width) * 4;
    const auto* source = static_cast<const uint8_t*>(locked.pBits);
    auto* host = static_cast<uint8_t*>(pixels);
    for (uint32_t i = 0; i < rows; ++i) {
      const uint8_t* row = source + static_cast<ptrdiff_t>(i) * locked.Pitch;
      uint8_t* target = host + static_cast<size_t>(static_cast<uint32_t>(height) - 1 - i) * hostPitch;
      backBufferRowToHost(desc.Format, row, columns, target);
    }
  }
  context.readbackSurface->UnlockRect();
  return result;
}

HRESULT drawFrame(NerroPolygonSet& context, void* pixels, int32_t width, int32_t height) {
  IDirect3DDevice9* device = context.device;
  const HRESULT level = device->TestCooperativeLevel();
  if (level == D3DERR_DEVICELOST) return E_FAIL;
  if (level == D3DERR_DEVICENOTRESET && resetDevice(context) != S_OK) return E_FAIL;

  device->Clear(0, nullptr, kClearFlags, kClearColor, kClearDepth, kClearStencil);
  purgeDisposed(context.polygonTable);
  device->BeginScene();

  D3DMATRIX view;
  math::mat4LookAtLH(&view, &kCameraEye, &kCameraTarget, &kCameraUp);
  device->SetTransform(D3DTS_VIEW, &view);
  D3DVIEWPORT9 viewport{};
  if (device->GetViewport(&viewport) != S_OK) {
    // Close the scene so the next frame can begin one again.
    device->EndScene();
    return E_FAIL;
  }
  const float aspect = static_cast<float>(static_cast<double>(viewport.Width) / static_cast<double>(viewport.Height));
  D3DMATRIX projection;
  math::mat4PerspectiveFovLH(&projection, kCameraFovY, aspect, kCameraNear, kCameraFar);
  device->SetTransform(D3DTS_PROJECTION, &projection);

  DrawAhead ahead(device);
  context.polygonTable.forEach([&ahead](uint32_t, const NerroPolygon* polygon) {
    if (polygon) ahead.push(polygon);
  });
  ahead.finish();

  device->EndScene();
  return readBack(context, pixels, width, height);
}

}  // namespace nerro::renderer
