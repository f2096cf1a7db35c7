// Resources of the software adapter: levels, pitches, reference counts and
// the lock rules of the pools.
#include <cstring>

#include "adapter_fixture.h"

namespace nerro::d3d9 {
namespace {

using adaptertest::AdapterTest;

TEST_F(AdapterTest, Direct3DCreate9NeedsTheSdkVersionAndAProfileWithDirect3D) {
  EXPECT_EQ(Direct3DCreate9(31), nullptr);
  selectAdapterProfile(AdapterProfile::noDirect3D());
  EXPECT_EQ(Direct3DCreate9(D3D_SDK_VERSION), nullptr);
}

TEST_F(AdapterTest, TextureLevelsHaveHalvedSizesAndRealPitches) {
  AdapterProfile profile = AdapterProfile::desktop();
  profile.pitchAlignment = 16;
  makeDevice(profile);
  struct Case {
    D3DFORMAT format;
    uint32_t width, height;
    int32_t pitch0;  // bytes of a stored row at level 0
    uint32_t levels;
  };
  const Case cases[] = {
      {D3DFMT_A8R8G8B8, 20, 8, 80, 5},  {D3DFMT_R8G8B8, 5, 3, 16, 3},  {D3DFMT_DXT1, 12, 8, 32, 4},
      {D3DFMT_DXT5, 8, 8, 32, 4},       {D3DFMT_YUY2, 6, 2, 16, 3},    {D3DFMT_A32B32G32R32F, 2, 2, 32, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(c.width, c.height, 0, 0, c.format, D3DPOOL_SCRATCH, &texture, nullptr), S_OK);
    EXPECT_EQ(texture->GetLevelCount(), c.levels);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(texture->GetLevelDesc(c.levels - 1, &desc), S_OK);
    EXPECT_EQ(desc.Width, 1u);
    EXPECT_EQ(desc.Format, c.format);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), S_OK);
    EXPECT_EQ(locked.Pitch, c.pitch0);
    EXPECT_EQ(texture->UnlockRect(0), S_OK);
    texture->Release();
  }
}

TEST_F(AdapterTest, LockRectangleOffsetsFollowTheFormat) {
  makeDevice();
  IDirect3DTexture9* texture = nullptr;
  ASSERT_EQ(device->CreateTexture(16, 16, 1, 0, D3DFMT_DXT3, D3DPOOL_MANAGED, &texture, nullptr), S_OK);
  D3DLOCKED_RECT whole{}, part{};
  ASSERT_EQ(texture->LockRect(0, &whole, nullptr, D3DLOCK_READONLY), S_OK);
  ASSERT_EQ(texture->UnlockRect(0), S_OK);
  const RECT blockRect{4, 8, 12, 16};
  ASSERT_EQ(texture->LockRect(0, &part, &blockRect, 0), S_OK);
  // Second row of blocks, second block: 16 bytes a DXT3 block.
  EXPECT_EQ(static_cast<uint8_t*>(part.pBits) - static_cast<uint8_t*>(whole.pBits), 2 * whole.Pitch + 16);
  EXPECT_EQ(texture->LockRect(0, &part, nullptr, 0), D3DERR_INVALIDCALL) << "a locked level locks once";
  ASSERT_EQ(texture->UnlockRect(0), S_OK);
  EXPECT_EQ(texture->UnlockRect(0), D3DERR_INVALIDCALL);
  const RECT offBlock{2, 0, 6, 4}, outside{0, 0, 20, 4};
  EXPECT_EQ(texture->LockRect(0, &part, &offBlock, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(texture->LockRect(0, &part, &outside, 0), D3DERR_INVALIDCALL);
  texture->Release();
}

TEST_F(AdapterTest, PoolsDecideWhatLocks) {
  makeDevice();
  struct Case {
    D3DPOOL pool;
    uint32_t usage;
    bool lockable;
  };
  const Case cases[] = {
      {D3DPOOL_DEFAULT, 0, false},
      {D3DPOOL_DEFAULT, D3DUSAGE_DYNAMIC, true},
      {D3DPOOL_DEFAULT, D3DUSAGE_RENDERTARGET, false},
      {D3DPOOL_MANAGED, 0, true},
      {D3DPOOL_SYSTEMMEM, 0, true},
      {D3DPOOL_SCRATCH, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "pool " << c.pool << " usage " << c.usage);
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 1, c.usage, D3DFMT_A8R8G8B8, c.pool, &texture, nullptr), S_OK);
    D3DLOCKED_RECT locked{};
    const HRESULT hr = texture->LockRect(0, &locked, nullptr, 0);
    EXPECT_EQ(hr, c.lockable ? S_OK : D3DERR_INVALIDCALL);
    if (SUCCEEDED(hr)) texture->UnlockRect(0);
    texture->Release();
  }
  IDirect3DTexture9* texture = nullptr;
  EXPECT_EQ(device->CreateTexture(8, 8, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &texture,
                                  nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(device->CreateTexture(6, 6, 1, 0, D3DFMT_DXT1, D3DPOOL_SYSTEMMEM, &texture, nullptr), D3DERR_INVALIDCALL)
      << "block formats start in whole blocks";
}

TEST_F(AdapterTest, LevelsShareTheirTexturesCountAndKnowTheirContainer) {
  makeDevice();
  IDirect3DCubeTexture9* cube = nullptr;
  ASSERT_EQ(device->CreateCubeTexture(16, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr), S_OK);
  EXPECT_EQ(cube->GetLevelCount(), 5u);
  IDirect3DSurface9* face = nullptr;
  ASSERT_EQ(cube->GetCubeMapSurface(D3DCUBEMAP_FACE_NEGATIVE_Z, 2, &face), S_OK);
  cube->Release();  // the face keeps the cube alive
  D3DSURFACE_DESC desc{};
  ASSERT_EQ(face->GetDesc(&desc), S_OK);
  EXPECT_EQ(desc.Width, 4u);
  void* container = nullptr;
  EXPECT_EQ(face->GetContainer(IID_IDirect3DTexture9, &container), E_NOINTERFACE);
  ASSERT_EQ(face->GetContainer(IID_IDirect3DCubeTexture9, &container), S_OK);
  EXPECT_EQ(static_cast<IDirect3DCubeTexture9*>(container)->GetType(), D3DRTYPE_CUBETEXTURE);
  static_cast<IDirect3DCubeTexture9*>(container)->Release();
  face->Release();

  IDirect3DVolumeTexture9* volume = nullptr;
  ASSERT_EQ(device->CreateVolumeTexture(8, 4, 2, 0, 0, D3DFMT_L8, D3DPOOL_SYSTEMMEM, &volume, nullptr), S_OK);
  EXPECT_EQ(volume->GetLevelCount(), 4u);
  D3DLOCKED_BOX box{};
  const D3DBOX part{0, 0, 4, 4, 1, 2};
  ASSERT_EQ(volume->LockBox(0, &box, &part, 0), S_OK);
  EXPECT_EQ(box.RowPitch, 8);
  EXPECT_EQ(box.SlicePitch, 32);
  EXPECT_EQ(volume->UnlockBox(0), S_OK);
  volume->Release();
}

TEST_F(AdapterTest, BoundTexturesDoNotKeepTheDeviceAlive) {
  makeDevice();
  IDirect3DTexture9* texture = nullptr;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), S_OK);
  ASSERT_EQ(device->SetTexture(0, texture), S_OK);
  texture->Release();  // the binding holds it now
  EXPECT_GT(liveObjectCount(), 2u);
  // TearDown releases device and Direct3D object and expects nothing left.
}

TEST_F(AdapterTest, ALeakedResourceShowsInTheLiveCount) {
  makeDevice();
  IDirect3DSurface9* surface = nullptr;
  ASSERT_EQ(device->CreateOffscreenPlainSurface(4, 4, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &surface, nullptr), S_OK);
  device->Release();
  device = nullptr;
  d3d->Release();
  d3d = nullptr;
  EXPECT_EQ(liveObjectCount(), 5u) << "surface, device and Direct3D object (kept by it), back and depth buffers";
  EXPECT_EQ(surface->Release(), 0u);
}

TEST_F(AdapterTest, CopiesFollowThePoolPairings) {
  makeDevice();
  IDirect3DSurface9 *sys = nullptr, *def = nullptr, *scratch = nullptr, *target = nullptr;
  ASSERT_EQ(device->CreateOffscreenPlainSurface(8, 8, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &sys, nullptr), S_OK);
  ASSERT_EQ(device->CreateOffscreenPlainSurface(8, 8, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &def, nullptr), S_OK);
  ASSERT_EQ(device->CreateOffscreenPlainSurface(8, 8, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &scratch, nullptr), S_OK);
  ASSERT_EQ(device->CreateRenderTarget(8, 8, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, &target, nullptr), S_OK);

  D3DLOCKED_RECT locked{};
  ASSERT_EQ(sys->LockRect(&locked, nullptr, 0), S_OK);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch)[x] = y * 8 + x;
  sys->UnlockRect();

  const RECT part{2, 2, 6, 6};
  const POINT at{0, 4};
  EXPECT_EQ(device->UpdateSurface(sys, &part, def, &at), S_OK);
  EXPECT_EQ(device->UpdateSurface(scratch, nullptr, def, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->UpdateSurface(sys, nullptr, scratch, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->StretchRect(def, nullptr, target, nullptr, D3DTEXF_NONE), S_OK);
  EXPECT_EQ(device->StretchRect(sys, nullptr, target, nullptr, D3DTEXF_NONE), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->GetRenderTargetData(def, sys), D3DERR_INVALIDCALL) << "a plain surface is no render target";

  // The moved pixels arrive where they were put: (2..5, 2..5) at (0..3, 4..7).
  ASSERT_EQ(target->LockRect(&locked, nullptr, D3DLOCK_READONLY), S_OK);
  auto pixel = [&](int x, int y) {
    return reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch)[x];
  };
  EXPECT_EQ(pixel(0, 4), 2u * 8 + 2);
  EXPECT_EQ(pixel(3, 7), 5u * 8 + 5);
  target->UnlockRect();

  EXPECT_EQ(device->GetRenderTargetData(target, sys), S_OK);
  ASSERT_EQ(sys->LockRect(&locked, nullptr, D3DLOCK_READONLY), S_OK);
  EXPECT_EQ(pixel(1, 5), 3u * 8 + 3);
  sys->UnlockRect();

  injectFault(FaultPoint::Copy);
  EXPECT_EQ(device->UpdateSurface(sys, nullptr, def, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(faultsFired(FaultPoint::Copy), 1u);
  EXPECT_EQ(device->UpdateSurface(sys, nullptr, def, nullptr), S_OK);
  for (IDirect3DSurface9* s : {sys, def, scratch, target}) s->Release();
}

TEST_F(AdapterTest, UpdateTextureCopiesEveryLevelFromSystemMemory) {
  makeDevice();
  IDirect3DTexture9 *staging = nullptr, *texture = nullptr;
  ASSERT_EQ(device->CreateTexture(8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &staging, nullptr), S_OK);
  ASSERT_EQ(device->CreateTexture(8, 8, 0, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture,
                                  nullptr),
            S_OK);
  for (uint32_t level = 0; level < 4; ++level) {
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(staging->LockRect(level, &locked, nullptr, 0), S_OK);
    static_cast<uint32_t*>(locked.pBits)[0] = 10 + level;
    staging->UnlockRect(level);
  }
  EXPECT_EQ(device->UpdateTexture(texture, staging), D3DERR_INVALIDCALL) << "only system memory to default";
  ASSERT_EQ(device->UpdateTexture(staging, texture), S_OK);
  // Read the smallest level back through a render-target copy.
  IDirect3DSurface9 *level3 = nullptr, *readback = nullptr;
  ASSERT_EQ(texture->GetSurfaceLevel(3, &level3), S_OK);
  D3DLOCKED_RECT locked{};
  EXPECT_EQ(level3->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3DERR_INVALIDCALL);
  ASSERT_EQ(device->CreateOffscreenPlainSurface(1, 1, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &readback, nullptr), S_OK);
  ASSERT_EQ(device->GetRenderTargetData(level3, readback), S_OK);
  ASSERT_EQ(readback->LockRect(&locked, nullptr, D3DLOCK_READONLY), S_OK);
  EXPECT_EQ(static_cast<uint32_t*>(locked.pBits)[0], 13u);
  readback->UnlockRect();
  readback->Release();
  level3->Release();
  staging->Release();
  texture->Release();
}

TEST_F(AdapterTest, InjectedCreationAndLockFaultsFireOnceThenPass) {
  makeDevice();
  IDirect3DTexture9* texture = nullptr;
  injectFault(FaultPoint::CreateResource, 1, 1);
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), S_OK);
  texture->Release();
  EXPECT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
            D3DERR_OUTOFVIDEOMEMORY);
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), S_OK);
  injectFault(FaultPoint::Lock);
  D3DLOCKED_RECT locked{};
  EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), S_OK);
  texture->UnlockRect(0);
  texture->Release();
}

}  // namespace
}  // namespace nerro::d3d9
