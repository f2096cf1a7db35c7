#include "texture/surface_loading.h"

#include <gtest/gtest.h>

#include "texture_test_device.h"

namespace nerro::texture {
namespace {

using test_support::ComPtr;
using test_support::pattern;
using SurfaceLoading = test_support::DeviceTest;

TEST_F(SurfaceLoading, FilterDefaultIsTriangleWithDither) {
  const auto src = pattern(8 * 8);
  const RECT all = {0, 0, 8, 8};
  std::vector<uint32_t> results[2];
  const FilterOptions filters[2] = {FilterDefault, FilterTriangle | FilterDither};
  for (int i = 0; i < 2; ++i) {
    auto t = texture(5, 5, 1, D3DFMT_A8R8G8B8);
    auto s = level(t.get(), 0);
    ASSERT_EQ(FillSurfaceFromPixels(s.get(), nullptr, nullptr, src.data(), D3DFMT_A8R8G8B8, 32, nullptr, &all,
                                    filters[i], 0),
              S_OK);
    results[i] = pixels32(s.get());
  }
  EXPECT_EQ(results[0], results[1]);
}

TEST_F(SurfaceLoading, ArgumentsAreChecked) {
  auto t = texture(4, 4, 1, D3DFMT_A8R8G8B8);
  auto s = level(t.get(), 0);
  const auto src = pattern(16);
  const RECT all = {0, 0, 4, 4};
  const RECT outside = {0, 0, 5, 4}, inverted = {3, 0, 1, 4}, negative = {-1, 0, 2, 2}, empty = {2, 2, 2, 4};
  struct Case {
    IDirect3DSurface9* dest;
    const RECT* destRect;
    const void* pixels;
    const RECT* sourceRect;
    FilterOptions filter;
  } cases[] = {
      {nullptr, nullptr, src.data(), &all, FilterPoint},   {s.get(), nullptr, nullptr, &all, FilterPoint},
      {s.get(), nullptr, src.data(), nullptr, FilterPoint}, {s.get(), &outside, src.data(), &all, FilterPoint},
      {s.get(), &inverted, src.data(), &all, FilterPoint},  {s.get(), nullptr, src.data(), &inverted, FilterPoint},
      {s.get(), nullptr, src.data(), &negative, FilterPoint}, {s.get(), nullptr, src.data(), &empty, FilterPoint},
      {s.get(), nullptr, src.data(), &all, 0x10006},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FillSurfaceFromPixels(c.dest, nullptr, c.destRect, c.pixels, D3DFMT_A8R8G8B8, 16, nullptr, c.sourceRect,
                                    c.filter, 0),
              D3DERR_INVALIDCALL);
  EXPECT_EQ(FillSurfaceFromSurface(nullptr, nullptr, nullptr, s.get(), nullptr, nullptr, FilterPoint, 0),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(FillSurfaceFromSurface(s.get(), nullptr, nullptr, nullptr, nullptr, nullptr, FilterPoint, 0),
            D3DERR_INVALIDCALL);
}

TEST_F(SurfaceLoading, RectanglesAddressSourceAndDestination) {
  // The source rectangle counts from the pointer; the destination rectangle
  // is written and nothing else.
  const auto src = pattern(4 * 4, 3);
  auto t = texture(4, 4, 1, D3DFMT_A8R8G8B8);
  auto s = level(t.get(), 0);
  writePixels32(s.get(), std::vector<uint32_t>(16, 0x11111111));
  const RECT from = {1, 1, 3, 3}, to = {2, 0, 4, 2};
  ASSERT_EQ(FillSurfaceFromPixels(s.get(), nullptr, &to, src.data(), D3DFMT_A8R8G8B8, 16, nullptr, &from, FilterNone, 0),
            S_OK);
  const auto out = pixels32(s.get());
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 4; ++x) {
      const bool inside = x >= 2 && y < 2;
      EXPECT_EQ(out[y * 4 + x], inside ? src[(y + 1) * 4 + (x - 1)] : 0x11111111u) << x << "," << y;
    }
}

TEST_F(SurfaceLoading, DxtCopyTexturesAreWholeBlocks) {
  // Block textures have whole-block top levels, so the odd sizes are taken
  // from further down a chain.
  const struct {
    uint32_t size, copySize, levels, top, topLevel;
  } cases[] = {{6, 12, 2, 12, 1}, {5, 20, 3, 20, 2}, {8, 8, 1, 8, 0}};
  for (const auto& c : cases) {
    auto t = texture(c.top, c.top, c.topLevel + 1, D3DFMT_DXT1);
    ASSERT_TRUE(t);
    auto s = level(t.get(), c.topLevel);
    SurfaceLock lock;
    pixel::PixelRegion region;
    ASSERT_EQ(lock.lock(region, s.get(), nullptr, nullptr, 0, LockViaCopy | LockReadOnly), S_OK);
    ASSERT_NE(lock.copyTexture(), nullptr);
    D3DSURFACE_DESC top, used;
    lock.copyTexture()->GetLevelDesc(0, &top);
    lock.copySurface()->GetDesc(&used);
    EXPECT_EQ(top.Width, c.copySize);
    EXPECT_EQ(top.Height, c.copySize);
    EXPECT_EQ(lock.copyTexture()->GetLevelCount(), c.levels);
    EXPECT_EQ(used.Width, c.size);
    EXPECT_EQ(used.Height, c.size);
    EXPECT_EQ(top.Pool, D3DPOOL_SYSTEMMEM);
  }
}

// The byte a lock of `rect` starts at, relative to a whole lock.
ptrdiff_t lockOffset(IDirect3DSurface9* s, const RECT* rect, D3DBOX* box, D3DBOX* bounds) {
  SurfaceLock whole, part;
  pixel::PixelRegion all, region;
  EXPECT_EQ(whole.lock(all, s, nullptr, nullptr, 0, LockReadOnly), S_OK);
  const auto base = static_cast<uint8_t*>(all.pixels);
  whole.unlock();
  EXPECT_EQ(part.lock(region, s, nullptr, rect, 0, LockReadOnly), S_OK);
  *box = region.box;
  *bounds = region.bounds;
  return static_cast<uint8_t*>(region.pixels) - base;
}

TEST_F(SurfaceLoading, LockRectanglesWidenToBlocksAndPairs) {
  struct Case {
    D3DFORMAT format;
    uint32_t w, h;
    RECT rect;
    uint32_t lockLeft, lockTop;  // in pixels
    D3DBOX box;
    uint32_t boundsRight, boundsBottom;  // the surface's edges seen from the lock
  } cases[] = {
      {D3DFMT_DXT5, 8, 8, {1, 1, 5, 5}, 0, 0, {1, 1, 5, 5, 0, 1}, 8, 8},
      {D3DFMT_DXT5, 16, 16, {1, 1, 5, 5}, 0, 0, {1, 1, 5, 5, 0, 1}, 16, 16},
      {D3DFMT_DXT5, 16, 16, {5, 6, 9, 9}, 4, 4, {1, 2, 5, 5, 0, 1}, 12, 12},
      {D3DFMT_YUY2, 8, 2, {3, 0, 6, 2}, 2, 0, {1, 0, 4, 2, 0, 1}, 6, 2},
      {D3DFMT_A8R8G8B8, 8, 4, {3, 1, 6, 2}, 3, 1, {0, 0, 3, 1, 0, 1}, 5, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "format " << c.format << " rect " << c.rect.left << "," << c.rect.top);
    auto t = texture(c.w, c.h, 1, c.format);
    auto s = level(t.get(), 0);
    D3DLOCKED_RECT lr;
    ASSERT_EQ(s->LockRect(&lr, nullptr, D3DLOCK_READONLY), S_OK);
    s->UnlockRect();
    D3DBOX box, bounds;
    const ptrdiff_t offset = lockOffset(s.get(), &c.rect, &box, &bounds);
    const bool dxt = c.format == D3DFMT_DXT5;
    const ptrdiff_t expected = dxt ? ptrdiff_t(c.lockTop / 4) * lr.Pitch + (c.lockLeft / 4) * 16
                                   : ptrdiff_t(c.lockTop) * lr.Pitch + c.lockLeft * (c.format == D3DFMT_YUY2 ? 2 : 4);
    EXPECT_EQ(offset, expected);
    EXPECT_EQ(box.Left, c.box.Left);
    EXPECT_EQ(box.Top, c.box.Top);
    EXPECT_EQ(box.Right, c.box.Right);
    EXPECT_EQ(box.Bottom, c.box.Bottom);
    EXPECT_EQ(bounds.Right, c.boundsRight);
    EXPECT_EQ(bounds.Bottom, c.boundsBottom);
  }
}

TEST_F(SurfaceLoading, PartialWriteIntoBlocksKeepsTheRest) {
  auto dxt = texture(16, 16, 1, D3DFMT_DXT1);
  auto s = level(dxt.get(), 0);
  const std::vector<uint32_t> red(16 * 16, 0xFFFF0000u), blue(16, 0xFF0000FFu);
  const RECT all = {0, 0, 16, 16}, part = {5, 6, 9, 9}, four = {0, 0, 4, 3};
  ASSERT_EQ(FillSurfaceFromPixels(s.get(), nullptr, nullptr, red.data(), D3DFMT_A8R8G8B8, 64, nullptr, &all, FilterNone, 0), S_OK);
  ASSERT_EQ(FillSurfaceFromPixels(s.get(), nullptr, &part, blue.data(), D3DFMT_A8R8G8B8, 16, nullptr, &four, FilterNone, 0),
            S_OK);
  auto plain = texture(16, 16, 1, D3DFMT_A8R8G8B8);
  auto out = level(plain.get(), 0);
  ASSERT_EQ(FillSurfaceFromSurface(out.get(), nullptr, nullptr, s.get(), nullptr, nullptr, FilterNone, 0), S_OK);
  const auto px = pixels32(out.get());
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const bool inside = x >= 5 && x < 9 && y >= 6 && y < 9;
      EXPECT_EQ(px[y * 16 + x], inside ? 0xFF0000FFu : 0xFFFF0000u) << x << "," << y;
    }
}

TEST_F(SurfaceLoading, FailedLockGoesThroughCopyAndWritesBack) {
  auto t = texture(4, 4, 1, D3DFMT_A8R8G8B8);
  auto s = level(t.get(), 0);
  const auto px = pattern(16, 5);
  {
    SurfaceLock lock;
    pixel::PixelRegion region;
    d3d9::injectFault(d3d9::FaultPoint::Lock, 1);
    ASSERT_EQ(lock.lock(region, s.get(), nullptr, nullptr, 0, 0), S_OK);
    EXPECT_EQ(d3d9::faultsFired(d3d9::FaultPoint::Lock), 1u);
    ASSERT_NE(lock.copySurface(), nullptr);
    for (uint32_t y = 0; y < 4; ++y) std::memcpy(static_cast<uint8_t*>(region.pixels) + y * region.rowPitch, &px[y * 4], 16);
  }
  EXPECT_EQ(pixels32(s.get()), px);
}

TEST_F(SurfaceLoading, DefaultPoolSurfacesAreReachedThroughCopies) {
  // Not lockable: written through a system-memory copy and UpdateSurface,
  // read back through a render target and StretchRect.
  auto t = texture(8, 4, 1, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, D3DUSAGE_RENDERTARGET);
  auto s = level(t.get(), 0);
  const auto px = pattern(32, 7);
  const RECT all = {0, 0, 8, 4};
  ASSERT_EQ(FillSurfaceFromPixels(s.get(), nullptr, nullptr, px.data(), D3DFMT_A8R8G8B8, 32, nullptr, &all, FilterNone, 0),
            S_OK);
  auto sys = texture(8, 4, 1, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM);
  auto readBack = level(sys.get(), 0);
  const auto mutesBefore = d3d9::muteLog().calls;
  ASSERT_EQ(FillSurfaceFromSurface(readBack.get(), nullptr, nullptr, s.get(), nullptr, nullptr, FilterNone, 0), S_OK);
  EXPECT_EQ(pixels32(readBack.get()), px);
  // The probing calls were muted and the mute is off again.
  EXPECT_GT(d3d9::muteLog().calls, mutesBefore);
  EXPECT_EQ(d3d9::muteLog().lastValue, 0);
}

TEST_F(SurfaceLoading, DiscardOnlyForWholeWritesOfSingleLevelDynamicTextures) {
  const RECT part = {0, 0, 2, 2};
  const struct {
    uint32_t levels;
    const RECT* rect;
    uint32_t flags;
    bool discard;
  } cases[] = {{1, nullptr, 0, true}, {2, nullptr, 0, false}, {1, &part, 0, false}, {1, nullptr, LockReadOnly, false}};
  for (const auto& c : cases) {
    auto t = texture(4, 4, c.levels, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, D3DUSAGE_DYNAMIC);
    auto s = level(t.get(), 0);
    SurfaceLock lock;
    pixel::PixelRegion region;
    ASSERT_EQ(lock.lock(region, s.get(), nullptr, c.rect, 0, c.flags), S_OK);
    EXPECT_EQ((lock.lockFlags() & D3DLOCK_DISCARD) != 0, c.discard) << c.levels << " " << (c.rect != nullptr);
    EXPECT_NE(lock.lockFlags() & D3DLOCK_NOSYSLOCK, 0u);
    EXPECT_EQ((lock.lockFlags() & D3DLOCK_READONLY) != 0, (c.flags & LockReadOnly) != 0);
    EXPECT_EQ(lock.copySurface(), nullptr);
  }
}

TEST_F(SurfaceLoading, SameSurfaceIsReadThroughACopy) {
  auto t = texture(4, 4, 1, D3DFMT_A8R8G8B8);
  auto s = level(t.get(), 0);
  const auto px = pattern(16, 9);
  writePixels32(s.get(), px);
  // Overlapping: the 4 x 4 surface halved into its own top-left corner.
  const RECT corner = {0, 0, 2, 2};
  ASSERT_EQ(FillSurfaceFromSurface(s.get(), nullptr, &corner, s.get(), nullptr, nullptr, FilterPoint, 0), S_OK);
  const auto out = pixels32(s.get());
  EXPECT_EQ(out[0], px[0]);
  EXPECT_EQ(out[1], px[2]);
  EXPECT_EQ(out[4], px[8]);
  EXPECT_EQ(out[5], px[10]);
  EXPECT_EQ(out[2], px[2]);
  EXPECT_EQ(out[15], px[15]);
}

TEST_F(SurfaceLoading, DeviceShortcutFallsBackToLocking) {
  const auto px = pattern(16, 11);
  auto sys = texture(4, 4, 1, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM);
  auto source = level(sys.get(), 0);
  writePixels32(source.get(), px);
  for (bool fail : {false, true}) {
    auto def = texture(4, 4, 1, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, D3DUSAGE_RENDERTARGET);
    auto dest = level(def.get(), 0);
    d3d9::clearFaults();
    if (fail) d3d9::injectFault(d3d9::FaultPoint::Copy, 1);
    ASSERT_EQ(FillSurfaceFromSurface(dest.get(), nullptr, nullptr, source.get(), nullptr, nullptr, FilterTriangle, 0), S_OK);
    EXPECT_EQ(d3d9::faultsFired(d3d9::FaultPoint::Copy), fail ? 1u : 0u);
    auto back = texture(4, 4, 1, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM);
    auto readBack = level(back.get(), 0);
    ASSERT_EQ(FillSurfaceFromSurface(readBack.get(), nullptr, nullptr, dest.get(), nullptr, nullptr, FilterNone, 0), S_OK);
    EXPECT_EQ(pixels32(readBack.get()), px) << "fault " << fail;
  }
}

TEST_F(SurfaceLoading, LostDeviceSourceGivesDeviceLost) {
  auto def = texture(4, 4, 1, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, D3DUSAGE_DYNAMIC);
  auto source = level(def.get(), 0);
  auto managed = texture(2, 2, 1, D3DFMT_A8R8G8B8);
  auto dest = level(managed.get(), 0);
  EXPECT_EQ(FillSurfaceFromSurface(dest.get(), nullptr, nullptr, source.get(), nullptr, nullptr, FilterBox, 0), S_OK);
  d3d9::loseDevice(5);
  EXPECT_EQ(FillSurfaceFromSurface(dest.get(), nullptr, nullptr, source.get(), nullptr, nullptr, FilterBox, 0),
            D3DERR_DEVICELOST);
}

TEST_F(SurfaceLoading, CopySurfaceBitsCopiesRows) {
  auto a = texture(5, 3, 1, D3DFMT_A8R8G8B8), b = texture(5, 3, 1, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM);
  auto sa = level(a.get(), 0), sb = level(b.get(), 0);
  const auto px = pattern(15, 13);
  writePixels32(sa.get(), px);
  ASSERT_EQ(CopySurfaceBits(sa.get(), sb.get()), S_OK);
  EXPECT_EQ(pixels32(sb.get()), px);
  d3d9::injectFault(d3d9::FaultPoint::Lock, 1, 1);  // the destination's lock
  EXPECT_EQ(CopySurfaceBits(sa.get(), sb.get()), D3DERR_INVALIDCALL);
  // The source was unlocked again: it locks fine.
  EXPECT_EQ(pixels32(sa.get()), px);
}

class VolumeLoading : public test_support::DeviceTest {
 protected:
  ComPtr<IDirect3DVolume9> volume(uint32_t w, uint32_t h, uint32_t d, D3DPOOL pool = D3DPOOL_MANAGED,
                                  uint32_t usage = 0, uint32_t levels = 1) {
    ComPtr<IDirect3DVolumeTexture9> t;
    EXPECT_EQ(device_->CreateVolumeTexture(w, h, d, levels, usage, D3DFMT_A8R8G8B8, pool, t.put(), nullptr), S_OK);
    ComPtr<IDirect3DVolume9> v;
    EXPECT_EQ(t->GetVolumeLevel(0, v.put()), S_OK);
    return v;
  }
};

TEST_F(VolumeLoading, BoxesAreCheckedAndFilled) {
  auto v = volume(4, 2, 3);
  const auto px = pattern(4 * 2 * 3, 17);
  const D3DBOX all = {0, 0, 4, 2, 0, 3};
  ASSERT_EQ(FillVolumeFromPixels(v.get(), nullptr, nullptr, px.data(), D3DFMT_A8R8G8B8, 16, 32, nullptr, &all, FilterNone, 0),
            S_OK);
  // One slice into the middle slice of another volume.
  auto w = volume(4, 2, 3);
  const D3DBOX slice1 = {0, 0, 4, 2, 1, 2};
  ASSERT_EQ(FillVolumeFromVolume(w.get(), nullptr, &slice1, v.get(), nullptr, &slice1, FilterPoint, 0), S_OK);
  D3DLOCKED_BOX lb;
  ASSERT_EQ(w->LockBox(&lb, nullptr, D3DLOCK_READONLY), S_OK);
  const auto* bytes = static_cast<const uint8_t*>(lb.pBits);
  uint32_t got;
  std::memcpy(&got, bytes + lb.SlicePitch + lb.RowPitch + 12, 4);
  EXPECT_EQ(got, px[8 + 4 + 3]);
  w->UnlockBox();

  const D3DBOX badBoxes[] = {{0, 0, 5, 2, 0, 1}, {2, 0, 1, 2, 0, 1}, {0, 0, 4, 2, 2, 1}, {0, 0, 4, 2, 0, 4}};
  for (const D3DBOX& b : badBoxes)
    EXPECT_EQ(FillVolumeFromPixels(v.get(), nullptr, &b, px.data(), D3DFMT_A8R8G8B8, 16, 32, nullptr, &all, FilterNone, 0),
              D3DERR_INVALIDCALL);
  auto locked = volume(2, 2, 2, D3DPOOL_DEFAULT);
  EXPECT_EQ(FillVolumeFromPixels(locked.get(), nullptr, nullptr, px.data(), D3DFMT_A8R8G8B8, 16, 32, nullptr, &all,
                                 FilterNone, 0),
            D3DERR_INVALIDCALL);
}

}  // namespace
}  // namespace nerro::texture
