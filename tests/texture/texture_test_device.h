// A software-adapter device and small helpers for the texture builder tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "../support/test_device.h"

namespace nerro::texture::test_support {

using d3d9::ComPtr;

class DeviceTest : public nerro::testing::AdapterStateTest {
 protected:
  void SetUp() override {
    AdapterStateTest::SetUp();
    ASSERT_EQ(device_.create(nerro::testing::windowedParameters(64, 64, D3DFMT_X8R8G8B8)), S_OK);
  }

  void releaseObjects() override { device_.reset(); }

  ComPtr<IDirect3DTexture9> texture(uint32_t w, uint32_t h, uint32_t levels, D3DFORMAT format,
                                    D3DPOOL pool = D3DPOOL_MANAGED, uint32_t usage = 0) {
    ComPtr<IDirect3DTexture9> t;
    EXPECT_EQ(device_->CreateTexture(w, h, levels, usage, format, pool, t.put(), nullptr), S_OK);
    return t;
  }

  static ComPtr<IDirect3DSurface9> level(IDirect3DTexture9* t, uint32_t i) {
    ComPtr<IDirect3DSurface9> s;
    EXPECT_EQ(t->GetSurfaceLevel(i, s.put()), S_OK);
    return s;
  }

  // The 32-bit pixels of a lockable A8R8G8B8 / X8R8G8B8 surface, row by row.
  static std::vector<uint32_t> pixels32(IDirect3DSurface9* s) {
    D3DSURFACE_DESC desc;
    s->GetDesc(&desc);
    std::vector<uint32_t> out(size_t(desc.Width) * desc.Height);
    D3DLOCKED_RECT lr;
    if (s->LockRect(&lr, nullptr, D3DLOCK_READONLY) != S_OK) {
      ADD_FAILURE() << "surface cannot be locked";
      return out;
    }
    for (uint32_t y = 0; y < desc.Height; ++y)
      std::memcpy(&out[size_t(y) * desc.Width], static_cast<uint8_t*>(lr.pBits) + size_t(y) * lr.Pitch, desc.Width * 4);
    s->UnlockRect();
    return out;
  }

  static void writePixels32(IDirect3DSurface9* s, const std::vector<uint32_t>& px) {
    D3DSURFACE_DESC desc;
    s->GetDesc(&desc);
    D3DLOCKED_RECT lr;
    ASSERT_EQ(s->LockRect(&lr, nullptr, 0), S_OK);
    for (uint32_t y = 0; y < desc.Height; ++y)
      std::memcpy(static_cast<uint8_t*>(lr.pBits) + size_t(y) * lr.Pitch, &px[size_t(y) * desc.Width], desc.Width * 4);
    s->UnlockRect();
  }

  nerro::testing::SoftwareDevice device_;
};

inline std::vector<uint32_t> pattern(size_t count, uint32_t seed = 1) {
  std::vector<uint32_t> px(count);
  uint32_t v = seed * 2654435761u;
  for (auto& p : px) p = (v = v * 1664525u + 1013904223u);
  return px;
}

}  // namespace nerro::texture::test_support
