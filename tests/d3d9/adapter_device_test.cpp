// The software device: profiles and caps, creation rules, default states
// and Reset, loss, Clear and read-back, drawing, the debug-mute export and
// the texel decoder hook.
#include <cstring>

#include "adapter_fixture.h"
#include "platform/platform.h"

namespace nerro::d3d9 {
namespace {

using adaptertest::AdapterTest;
using adaptertest::testWindow;
using adaptertest::windowedParameters;

TEST_F(AdapterTest, ProfilesShapeCapsAndFormatChecks) {
  struct Case {
    AdapterProfile profile;
    uint32_t capsBits;
    uint32_t maxWidth;
    uint32_t aspect;
  };
  const Case cases[] = {
      {AdapterProfile::desktop(), 0, 4096, 0},
      {AdapterProfile::pow2(), D3DPTEXTURECAPS_POW2, 4096, 0},
      {AdapterProfile::nonPow2Conditional(), D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_NONPOW2CONDITIONAL, 4096, 0},
      {AdapterProfile::squareOnly(), D3DPTEXTURECAPS_SQUAREONLY, 4096, 0},
      {AdapterProfile::smallMaxima(256, 128), 0, 256, 0},
      {AdapterProfile::aspectLimit(2), 0, 4096, 2},
  };
  for (const Case& c : cases) {
    selectAdapterProfile(c.profile);
    IDirect3D9* direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(direct3d, nullptr);
    D3DCAPS9 caps{};
    ASSERT_EQ(direct3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), S_OK);
    EXPECT_EQ(caps.TextureCaps & (D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_NONPOW2CONDITIONAL |
                                  D3DPTEXTURECAPS_SQUAREONLY),
              c.capsBits);
    EXPECT_NE(caps.TextureCaps & D3DPTEXTURECAPS_MIPMAP, 0u);
    EXPECT_EQ(caps.MaxTextureWidth, c.maxWidth);
    EXPECT_EQ(caps.MaxTextureAspectRatio, c.aspect);
    EXPECT_EQ(caps.DeviceType, D3DDEVTYPE_HAL);
    direct3d->Release();
  }

  selectAdapterProfile(AdapterProfile::refusing({D3DFMT_A8R8G8B8, D3DFMT_DXT1}));
  IDirect3D9* direct3d = Direct3DCreate9(D3D_SDK_VERSION);
  auto check = [&](uint32_t usage, D3DRESOURCETYPE type, D3DFORMAT format) {
    return direct3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, usage, type, format);
  };
  EXPECT_EQ(check(0, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(check(0, D3DRTYPE_TEXTURE, D3DFMT_DXT1), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(check(0, D3DRTYPE_TEXTURE, D3DFMT_X8R8G8B8), S_OK);
  EXPECT_EQ(check(0, D3DRTYPE_VOLUMETEXTURE, D3DFMT_DXT5), S_OK);
  EXPECT_EQ(check(0, D3DRTYPE_TEXTURE, D3DFMT_R8G8B8), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(check(0, D3DRTYPE_TEXTURE, D3DFMT_D16), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(check(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D16), S_OK);
  EXPECT_EQ(check(D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, D3DFMT_L8), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(direct3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_A8R8G8B8, 0, D3DRTYPE_TEXTURE, D3DFMT_L8),
            D3DERR_INVALIDCALL)
      << "the adapter format must be a display format";
  direct3d->Release();
}

TEST_F(AdapterTest, TextureCreationHonoursTheCaps) {
  struct Case {
    AdapterProfile profile;
    uint32_t width, height, levels;
    D3DFORMAT format;
    HRESULT expected;
  };
  const Case cases[] = {
      {AdapterProfile::desktop(), 100, 60, 0, D3DFMT_A8R8G8B8, S_OK},
      {AdapterProfile::pow2(), 100, 60, 0, D3DFMT_A8R8G8B8, D3DERR_INVALIDCALL},
      {AdapterProfile::pow2(), 128, 64, 0, D3DFMT_A8R8G8B8, S_OK},
      {AdapterProfile::nonPow2Conditional(), 100, 60, 1, D3DFMT_A8R8G8B8, S_OK},
      {AdapterProfile::nonPow2Conditional(), 100, 60, 2, D3DFMT_A8R8G8B8, D3DERR_INVALIDCALL},
      {AdapterProfile::nonPow2Conditional(), 100, 60, 1, D3DFMT_DXT1, D3DERR_INVALIDCALL},
      {AdapterProfile::squareOnly(), 64, 32, 1, D3DFMT_A8R8G8B8, D3DERR_INVALIDCALL},
      {AdapterProfile::smallMaxima(256, 128), 256, 256, 1, D3DFMT_A8R8G8B8, D3DERR_INVALIDCALL},
      {AdapterProfile::aspectLimit(2), 512, 64, 1, D3DFMT_A8R8G8B8, D3DERR_INVALIDCALL},
      {AdapterProfile::aspectLimit(2), 128, 64, 1, D3DFMT_A8R8G8B8, S_OK},
      {AdapterProfile::refusing({D3DFMT_A8R8G8B8}), 8, 8, 1, D3DFMT_A8R8G8B8, D3DERR_INVALIDCALL},
      {AdapterProfile::desktop(), 8, 8, 5, D3DFMT_A8R8G8B8, D3DERR_INVALIDCALL},  // more levels than the chain
  };
  for (const Case& c : cases) {
    makeDevice(c.profile, windowedParameters(64, 32, D3DFMT_X8R8G8B8));
    SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << " levels " << c.levels);
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(device->CreateTexture(c.width, c.height, c.levels, 0, c.format, D3DPOOL_MANAGED, &texture, nullptr),
              c.expected);
    if (texture) texture->Release();
    // The scratch pool is not bound by the device's rules.
    if (c.format != D3DFMT_DXT1 && c.levels <= 1) {
      ASSERT_EQ(device->CreateTexture(c.width, c.height, c.levels, 0, c.format, D3DPOOL_SCRATCH, &texture, nullptr),
                S_OK);
      texture->Release();
    }
    device->Release();
    d3d->Release();
    device = nullptr;
    d3d = nullptr;
  }
}

TEST_F(AdapterTest, CreateDeviceNeedsAWindowAnAcceptedFormatAndADeviceType) {
  selectAdapterProfile(AdapterProfile::noHal());
  d3d = Direct3DCreate9(D3D_SDK_VERSION);
  D3DPRESENT_PARAMETERS pp = windowedParameters();
  IDirect3DDevice9* made = nullptr;
  EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, testWindow(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &made),
            D3DERR_NOTAVAILABLE);
  EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_REF, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &made),
            D3DERR_INVALIDCALL)
      << "no focus or device window";
  EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_REF, testWindow(), D3DCREATE_SOFTWARE_VERTEXPROCESSING |
                                                                   D3DCREATE_HARDWARE_VERTEXPROCESSING,
                              &pp, &made),
            D3DERR_INVALIDCALL)
      << "two vertex-processing modes";
  D3DPRESENT_PARAMETERS bad = pp;
  bad.BackBufferFormat = D3DFMT_L8;
  EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_REF, testWindow(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &bad, &made),
            D3DERR_NOTAVAILABLE);
  bad = pp;
  bad.BackBufferWidth = 0xFFFFFFF0u;  // a negative width stored as unsigned
  EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_REF, testWindow(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &bad, &made),
            D3DERR_INVALIDCALL);
  bad = pp;
  bad.BackBufferFormat = D3DFMT_UNKNOWN;  // the display's format
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_REF, testWindow(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &bad, &made),
            S_OK);
  IDirect3DSurface9* back = nullptr;
  ASSERT_EQ(made->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), S_OK);
  D3DSURFACE_DESC desc{};
  back->GetDesc(&desc);
  EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(desc.Width, 64u);
  back->Release();
  made->Release();
  EXPECT_EQ(callCounts().devicesMade, 1u);
  EXPECT_EQ(createDeviceCalls().size(), 6u);
}

TEST_F(AdapterTest, StatesStartAtDirect3DDefaultsAndResetRestoresThem) {
  makeDevice();
  struct RenderCase {
    D3DRENDERSTATETYPE state;
    uint32_t value;
  };
  const RenderCase defaults[] = {
      {D3DRS_ZENABLE, D3DZB_TRUE},         {D3DRS_ZWRITEENABLE, TRUE},      {D3DRS_CULLMODE, D3DCULL_CCW},
      {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},     {D3DRS_LIGHTING, TRUE},          {D3DRS_ALPHABLENDENABLE, FALSE},
      {D3DRS_SRCBLEND, D3DBLEND_ONE},      {D3DRS_DESTBLEND, D3DBLEND_ZERO}, {D3DRS_ALPHAFUNC, D3DCMP_ALWAYS},
      {D3DRS_FOGEND, 0x3F800000u},         {D3DRS_COLORWRITEENABLE, 0xF},   {D3DRS_STENCILMASK, 0xFFFFFFFFu},
  };
  auto expectDefaults = [&] {
    for (const auto& d : defaults) {
      uint32_t value = 0xDEAD;
      ASSERT_EQ(device->GetRenderState(d.state, &value), S_OK);
      EXPECT_EQ(value, d.value) << "render state " << d.state;
    }
    uint32_t v = 0;
    device->GetTextureStageState(0, D3DTSS_COLOROP, &v);
    EXPECT_EQ(v, uint32_t{D3DTOP_MODULATE});
    device->GetTextureStageState(1, D3DTSS_COLOROP, &v);
    EXPECT_EQ(v, uint32_t{D3DTOP_DISABLE});
    device->GetTextureStageState(3, D3DTSS_TEXCOORDINDEX, &v);
    EXPECT_EQ(v, 3u);
    device->GetSamplerState(1, D3DSAMP_ADDRESSU, &v);
    EXPECT_EQ(v, uint32_t{D3DTADDRESS_WRAP});
    device->GetSamplerState(0, D3DSAMP_MAGFILTER, &v);
    EXPECT_EQ(v, uint32_t{D3DTEXF_POINT});
    D3DMATRIX m{};
    device->GetTransform(D3DTS_VIEW, &m);
    EXPECT_EQ(m._11, 1.0f);
    EXPECT_EQ(m._41, 0.0f);
    IDirect3DBaseTexture9* bound = reinterpret_cast<IDirect3DBaseTexture9*>(1);
    device->GetTexture(0, &bound);
    EXPECT_EQ(bound, nullptr);
  };
  expectDefaults();

  IDirect3DTexture9* texture = nullptr;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), S_OK);
  device->SetTexture(0, texture);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
  device->SetSamplerState(1, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
  D3DMATRIX moved{};
  moved._11 = moved._22 = moved._33 = moved._44 = 1.0f;
  moved._41 = 5.0f;
  device->SetTransform(D3DTS_VIEW, &moved);
  EXPECT_EQ(device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(3), 1), D3DERR_INVALIDCALL);

  D3DPRESENT_PARAMETERS pp = windowedParameters(40, 20);
  ASSERT_EQ(device->Reset(&pp), S_OK);
  expectDefaults();
  D3DVIEWPORT9 viewport{};
  ASSERT_EQ(device->GetViewport(&viewport), S_OK);
  EXPECT_EQ(viewport.Width, 40u);
  EXPECT_EQ(viewport.Height, 20u);
  texture->Release();  // the reset let go of the binding: this is the last reference
}

TEST_F(AdapterTest, ResetNeedsTheDefaultPoolEmptiedAndTheBackBufferReturned) {
  makeDevice();
  D3DPRESENT_PARAMETERS pp = windowedParameters();
  IDirect3DSurface9* held = nullptr;
  ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &held), S_OK);
  EXPECT_EQ(device->Reset(&pp), D3DERR_INVALIDCALL);
  held->Release();
  EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET) << "a failed reset leaves the device lost";
  IDirect3DTexture9* texture = nullptr;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr), S_OK);
  EXPECT_EQ(device->Reset(&pp), D3DERR_INVALIDCALL);
  texture->Release();
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), S_OK);
  EXPECT_EQ(device->Reset(&pp), S_OK) << "managed textures survive a reset";
  EXPECT_EQ(device->TestCooperativeLevel(), S_OK);
  texture->Release();
}

TEST_F(AdapterTest, ALostDeviceBecomesResettableAndResetsUnlessTheResetFails) {
  makeDevice();
  loseDevice(2);
  EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
  D3DPRESENT_PARAMETERS pp = windowedParameters();
  EXPECT_EQ(device->Reset(&pp), D3DERR_DEVICELOST) << "not yet resettable";
  EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
  EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
  injectFault(FaultPoint::Reset);
  EXPECT_EQ(device->Reset(&pp), D3DERR_DEVICELOST);
  EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
  EXPECT_EQ(device->Reset(&pp), S_OK);
  EXPECT_EQ(device->TestCooperativeLevel(), S_OK);
  EXPECT_EQ(callCounts().reset, 3u);
}

TEST_F(AdapterTest, ClearWritesColourAndD16DepthInsideTheViewport) {
  makeDevice(AdapterProfile::desktop(), windowedParameters(8, 4));
  const D3DRECT rect{2, 1, 4, 3};
  ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x11223344u, 1.0f, 0), S_OK);
  ASSERT_EQ(device->Clear(1, &rect, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xAABBCCDDu, 0.5f, 0), S_OK);
  EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 2.0f, 0), D3DERR_INVALIDCALL);

  IDirect3DSurface9 *back = nullptr, *copy = nullptr, *depth = nullptr;
  ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), S_OK);
  ASSERT_EQ(device->CreateOffscreenPlainSurface(8, 4, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &copy, nullptr), S_OK);
  ASSERT_EQ(device->GetRenderTargetData(back, copy), S_OK);
  D3DLOCKED_RECT locked{};
  ASSERT_EQ(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY | D3DLOCK_DONOTWAIT), S_OK);
  auto pixel = [&](int x, int y) {
    return reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch)[x];
  };
  EXPECT_EQ(pixel(0, 0), 0x11223344u);
  EXPECT_EQ(pixel(2, 1), 0xAABBCCDDu);
  EXPECT_EQ(pixel(3, 2), 0xAABBCCDDu);
  EXPECT_EQ(pixel(4, 2), 0x11223344u);
  copy->UnlockRect();

  ASSERT_EQ(device->GetDepthStencilSurface(&depth), S_OK);
  D3DSURFACE_DESC desc{};
  depth->GetDesc(&desc);
  EXPECT_EQ(desc.Format, D3DFMT_D16);
  EXPECT_EQ(depth->LockRect(&locked, nullptr, 0), D3DERR_INVALIDCALL) << "D16 is not lockable";
  EXPECT_EQ(back->LockRect(&locked, nullptr, D3DLOCK_READONLY), S_OK) << "the back buffer was asked lockable";
  back->UnlockRect();

  injectFault(FaultPoint::GetRenderTargetData);
  EXPECT_EQ(device->GetRenderTargetData(back, copy), D3DERR_DEVICELOST);
  loseDevice(1);
  EXPECT_EQ(device->GetRenderTargetData(back, copy), D3DERR_DEVICELOST) << "a lost device has no contents";
  for (IDirect3DSurface9* s : {back, copy, depth}) s->Release();
}

TEST_F(AdapterTest, ClearOfARectangleWithUniformBytesTouchesOnlyThatRectangle) {
  // Black (every byte alike) takes the byte-fill path; it must stay inside
  // the rectangle on every row.
  makeDevice(AdapterProfile::desktop(), windowedParameters(8, 4));
  const D3DRECT rect{1, 1, 6, 3};
  ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x11223344u, 0.25f, 0), S_OK);
  ASSERT_EQ(device->Clear(1, &rect, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00000000u, 1.0f, 0), S_OK);
  IDirect3DSurface9 *back = nullptr, *copy = nullptr;
  ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), S_OK);
  ASSERT_EQ(device->CreateOffscreenPlainSurface(8, 4, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &copy, nullptr), S_OK);
  ASSERT_EQ(device->GetRenderTargetData(back, copy), S_OK);
  D3DLOCKED_RECT locked{};
  ASSERT_EQ(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY), S_OK);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) {
      const uint32_t p =
          reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch)[x];
      const bool inside = x >= 1 && x < 6 && y >= 1 && y < 3;
      EXPECT_EQ(p, inside ? 0u : 0x11223344u) << x << "," << y;
    }
  copy->UnlockRect();
  for (IDirect3DSurface9* s : {back, copy}) s->Release();
}

TEST_F(AdapterTest, DrawPrimitiveUpDrawsTheBoundTextureThroughTheDecoder) {
  makeDevice(AdapterProfile::desktop(), windowedParameters(4, 4));
  // An L8 texture is read through the installed decoder; its level is
  // decoded again only after the next lock.
  struct GreyDecoder : TexelDecoder {
    int calls = 0;
    bool decodeLevel(D3DFORMAT format, const uint8_t* bits, int32_t pitch, uint32_t width, uint32_t height,
                     uint32_t* out) override {
      ++calls;
      if (format != D3DFMT_L8) return false;
      for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) out[y * width + x] = 0xFF000000u | bits[y * pitch + x] * 0x010101u;
      return true;
    }
  };
  auto decoder = std::make_shared<GreyDecoder>();
  setTexelDecoder(decoder);

  IDirect3DTexture9* texture = nullptr;
  ASSERT_EQ(device->CreateTexture(1, 1, 1, 0, D3DFMT_L8, D3DPOOL_MANAGED, &texture, nullptr), S_OK);
  D3DLOCKED_RECT locked{};
  texture->LockRect(0, &locked, nullptr, 0);
  *static_cast<uint8_t*>(locked.pBits) = 0x80;
  texture->UnlockRect(0);

  // A screen-filling quad in clip space (identity transforms).
  const float quad[4][5] = {{-1, 1, 0.5f, 0, 0}, {1, 1, 0.5f, 1, 0}, {-1, -1, 0.5f, 0, 1}, {1, -1, 0.5f, 1, 1}};
  device->SetFVF(D3DFVF_XYZ | D3DFVF_TEX1);
  device->SetTexture(0, texture);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
  EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof quad[0]), D3DERR_INVALIDCALL)
      << "outside a scene";
  ASSERT_EQ(device->BeginScene(), S_OK);
  ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof quad[0]), S_OK);
  ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof quad[0]), S_OK);
  ASSERT_EQ(device->EndScene(), S_OK);
  EXPECT_EQ(decoder->calls, 1) << "decoded once, cached for the second draw";

  uint32_t w = 0, h = 0;
  const uint32_t* texels = decodedTexels(texture, 0, &w, &h);
  ASSERT_NE(texels, nullptr);
  EXPECT_EQ(texels[0], 0xFF808080u);
  texture->LockRect(0, &locked, nullptr, 0);
  texture->UnlockRect(0);
  decodedTexels(texture, 0, &w, &h);
  EXPECT_EQ(decoder->calls, 2) << "a lock makes the decoded copy stale";

  IDirect3DSurface9* back = nullptr;
  device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
  back->LockRect(&locked, nullptr, D3DLOCK_READONLY);
  const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(locked.pBits) + locked.Pitch);
  EXPECT_EQ(row[1] & 0x00FFFFFFu, 0x808080u);
  back->UnlockRect();
  back->Release();
  setTexelDecoder(nullptr);
  texture->Release();
}

TEST_F(AdapterTest, SixteenBitBackBuffersAreDrawnAndClearedInTheirOwnFormat) {
  struct Case {
    D3DFORMAT format;
    uint16_t cleared;  // 0xFF000080 in the format
    uint16_t white;
  };
  const Case cases[] = {
      {D3DFMT_R5G6B5, 0x0010, 0xFFFF},
      {D3DFMT_X1R5G5B5, 0x8010, 0xFFFF},
      {D3DFMT_A1R5G5B5, 0x8010, 0xFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    makeDevice(AdapterProfile::desktop(), windowedParameters(4, 2, c.format));
    // The left half of the screen, untextured: opaque white.
    const float half[4][3] = {{-1, 1, 0.5f}, {0, 1, 0.5f}, {-1, -1, 0.5f}, {0, -1, 0.5f}};
    device->SetFVF(D3DFVF_XYZ);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000080u, 1.0f, 0), S_OK);
    device->BeginScene();
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, half, sizeof half[0]), S_OK);
    device->EndScene();
    IDirect3DSurface9* back = nullptr;
    device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(back->LockRect(&locked, nullptr, D3DLOCK_READONLY), S_OK);
    const auto* row = static_cast<const uint16_t*>(locked.pBits);
    EXPECT_EQ(row[0], c.white);
    EXPECT_EQ(row[1], c.white);
    EXPECT_EQ(row[2], c.cleared);
    EXPECT_EQ(row[3], c.cleared);
    back->UnlockRect();
    back->Release();
    device->Release();
    d3d->Release();
    device = nullptr;
    d3d = nullptr;
  }
}

TEST_F(AdapterTest, DebugSetMuteIsAnExportOfD3d9AndRecordsItsCalls) {
  d3d = Direct3DCreate9(D3D_SDK_VERSION);
  ASSERT_TRUE(platform::isModuleLoaded("d3d9.dll"));
  auto mute = reinterpret_cast<DebugSetMuteProc>(platform::findModuleExport("d3d9.dll", "DebugSetMute"));
  ASSERT_NE(mute, nullptr);
  mute(1);
  mute(0);
  EXPECT_EQ(muteLog().calls, 2u);
  EXPECT_EQ(muteLog().lastValue, 0);
}

}  // namespace
}  // namespace nerro::d3d9
