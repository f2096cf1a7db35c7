// Frames checked pixel by pixel against values worked out from the camera
// (eye 580 units before the plane z = 0, 45-degree vertical field of view,
// pixel centres at integer coordinates), point sampling and source-alpha
// blending, not from the renderer's own code.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "d3d9/software_adapter.h"
#include "renderer/frame.h"
#include "renderer/polygon_set.h"

namespace nerro::renderer {
namespace {

constexpr int kWidth = 544;
constexpr int kHeight = 416;
constexpr uint32_t kSentinel = 0xABABABABu;

// World coordinates in the plane z = 0 of a point on the screen.
double yScale() { return 1.0 / std::tan(0.78539819 / 2); }
double xScale() { return yScale() * kHeight / kWidth; }
float worldX(double screenX) { return static_cast<float>((2.0 * screenX / kWidth - 1.0) * 580.0 / xScale()); }
float worldY(double screenY) { return static_cast<float>((1.0 - 2.0 * screenY / kHeight) * 580.0 / yScale()); }

// Corners (strip order: top-left, bottom-left, top-right, bottom-right) of
// the rectangle whose edges lie on the given screen lines.
std::vector<float> screenRect(double left, double top, double right, double bottom) {
  return {worldX(left), worldY(top), worldX(left), worldY(bottom), worldX(right), worldY(top), worldX(right), worldY(bottom)};
}

uint8_t channel(uint32_t argb, int shift) { return static_cast<uint8_t>(argb >> shift); }

// Source-alpha blend of one 8-bit channel, as exact arithmetic.
double blend(double src, double alpha, double dst) { return src * alpha / 255.0 + dst * (1.0 - alpha / 255.0); }

::testing::AssertionResult nearPixel(uint32_t actual, const double expected[4], double tolerance = 1.01) {
  const int shifts[4] = {16, 8, 0, 24};  // r, g, b, a
  for (int c = 0; c < 4; ++c)
    if (std::fabs(channel(actual, shifts[c]) - expected[c]) > tolerance)
      return ::testing::AssertionFailure() << std::hex << "pixel 0x" << actual << " channel " << c << " expected "
                                           << std::dec << expected[c];
  return ::testing::AssertionSuccess();
}

class Frame : public ::testing::Test {
 protected:
  void SetUp() override {
    d3d9::resetAdapter();
    windowWidth = kWidth;
    windowHeight = kHeight;
    makeContext();
    host.assign(static_cast<size_t>(kWidth) * kHeight, kSentinel);
  }
  void TearDown() override {
    for (IDirect3DTexture9* t : textures) t->Release();
    textures.clear();
    context.reset();
    EXPECT_EQ(d3d9::liveObjectCount(), 0u);
    d3d9::resetAdapter();
  }
  void makeContext() {
    context = std::make_unique<NerroPolygonSet>();
    static int window;
    ASSERT_EQ(context->initDevice(&window), S_OK);
  }

  // A managed texture of size x size texels, rows top-down, 0xAARRGGBB.
  IDirect3DTexture9* texture(int size, const std::vector<uint32_t>& texels) {
    IDirect3DTexture9* t = nullptr;
    EXPECT_EQ(context->device->CreateTexture(size, size, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), S_OK);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(t->LockRect(0, &locked, nullptr, 0), S_OK);
    for (int y = 0; y < size; ++y)
      std::memcpy(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch, texels.data() + y * size, size * 4);
    t->UnlockRect(0);
    textures.push_back(t);
    return t;
  }
  IDirect3DTexture9* solid(uint32_t argb) { return texture(1, {argb}); }

  uint32_t polygon(const std::vector<float>& corners) {
    return makePolygon(context->polygonTable, context->lastPolygonId, corners.size() == 8, corners.data());
  }
  NerroPolygon& at(uint32_t id) { return *context->polygonTable.find(id); }

  HRESULT frame() { return drawFrame(*context, host.data(), kWidth, kHeight); }
  // The back buffer's pixel (x, y), y counted from the top.
  uint32_t pixel(int x, int y) const { return host[static_cast<size_t>(kHeight - 1 - y) * kWidth + x]; }

  std::unique_ptr<NerroPolygonSet> context;
  std::vector<IDirect3DTexture9*> textures;
  std::vector<uint32_t> host;
};

TEST_F(Frame, EmptyFrameIsAllZeroBytes) {
  ASSERT_EQ(frame(), S_OK);
  for (size_t i = 0; i < host.size(); ++i) ASSERT_EQ(host[i], 0u) << i;
}

// A translucent 4 x 4 texel grid on a rectangle whose edges lie on the
// screen lines x = 100.5, 200.5 and y = 50.5, 150.5: pixel centres 101..200
// and 51..150 are covered exactly once, each by the texel its coordinates
// fall in (u = (x - 100.5) / 100), blended over the black frame. A seam
// shows as black, a pixel covered by both triangles as blended twice.
TEST_F(Frame, TexelGridLandsWhereTheCameraSaysWithoutSeams) {
  std::vector<uint32_t> texels(16);
  for (int ty = 0; ty < 4; ++ty)
    for (int tx = 0; tx < 4; ++tx)
      texels[ty * 4 + tx] = 0x80000000u | (40u + 60 * tx) << 16 | (40u + 60 * ty) << 8 | 0xF0u;
  const uint32_t id = polygon(screenRect(100.5, 50.5, 200.5, 150.5));
  at(id).assignTexture(0, texture(4, texels), nullptr);
  ASSERT_EQ(frame(), S_OK);

  for (int y = 40; y < 160; ++y)
    for (int x = 90; x < 210; ++x) {
      const uint32_t p = pixel(x, y);
      if (x < 101 || x > 200 || y < 51 || y > 150) {
        ASSERT_EQ(p, 0u) << x << "," << y;
        continue;
      }
      const int tx = static_cast<int>((x - 100.5) / 100 * 4), ty = static_cast<int>((y - 50.5) / 100 * 4);
      const uint32_t t = texels[ty * 4 + tx];
      const double a = channel(t, 24);
      const double expected[4] = {blend(channel(t, 16), a, 0), blend(channel(t, 8), a, 0), blend(channel(t, 0), a, 0),
                                  blend(a, a, 0)};
      ASSERT_TRUE(nearPixel(p, expected)) << x << "," << y;
    }
  // Row 0 of the back buffer ends the host's buffer; nothing was drawn there.
  EXPECT_EQ(host[static_cast<size_t>(kHeight - 1 - 51) * kWidth + 101], pixel(101, 51));
}

// A quad a little larger than the visible plane shows its four corner
// texels in the four corners of the frame: top-left texel at the top-left
// pixel, which is the first pixel of the host's last row.
TEST_F(Frame, FullScreenQuadCornerTexelsAndRowOrder) {
  const std::vector<uint32_t> texels = {0xFF102030u, 0xFF405060u, 0xFF708090u, 0xFFA0B0C0u};
  const uint32_t id = polygon(screenRect(-2, -2, kWidth + 2, kHeight + 2));
  at(id).assignTexture(0, texture(2, texels), nullptr);
  ASSERT_EQ(frame(), S_OK);
  EXPECT_EQ(host[static_cast<size_t>(kHeight - 1) * kWidth], texels[0]);                // top-left
  EXPECT_EQ(host[static_cast<size_t>(kHeight) * kWidth - 1], texels[1]);                 // top-right
  EXPECT_EQ(host[0], texels[2]);                                                         // bottom-left
  EXPECT_EQ(host[static_cast<size_t>(kWidth) - 1], texels[3]);                           // bottom-right
  EXPECT_EQ(pixel(kWidth / 2 - 2, kHeight / 2 - 2), texels[0]);
  EXPECT_EQ(pixel(kWidth / 2 + 2, kHeight / 2 + 2), texels[3]);
}

// Eight polygons are visited 8, 1, 2, ..., 7. Polygon 8 and polygon 1
// overlap; 2 to 7 lie far outside the frame. The one visited later blends
// over the earlier one where it passes the depth test (LESSEQUAL, depth
// written by both). With the near plane at 0.1, one step of the 16-bit
// depth buffer spans some 20 units at this distance, so the farther polygon
// is put 300 units back.
TEST_F(Frame, OverlappingTranslucentPolygonsBlendInTableOrder) {
  struct Case {
    float zOfFirst, zOfEighth;
    double red, blue;  // expected channels where they overlap
  };
  const Case cases[] = {
      {0.0f, 300.0f, blend(255, 128, 0), blend(0, 128, blend(255, 128, 0))},  // 1 nearer: red over blue
      {300.0f, 0.0f, 0.0, blend(255, 128, 0)},                                 // 1 farther: hidden
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zOfFirst);
    clearPolygons(context->polygonTable, context->lastPolygonId);
    IDirect3DTexture9* red = solid(0x80FF0000u);
    IDirect3DTexture9* blue = solid(0x800000FFu);
    const uint32_t first = polygon(screenRect(100.5, 100.5, 300.5, 300.5));
    for (int i = 2; i <= 7; ++i) {
      const uint32_t dummy = polygon(screenRect(0, 0, 10, 10));
      const float away[3] = {100000.0f, 0, 0};
      at(dummy).setTransform(TransformKind::Translation, away);
    }
    const uint32_t eighth = polygon(screenRect(200.5, 200.5, 400.5, 400.5));
    ASSERT_EQ(eighth, 8u);
    at(first).assignTexture(0, red, nullptr);
    at(eighth).assignTexture(0, blue, nullptr);
    const float z1[3] = {0, 0, c.zOfFirst}, z8[3] = {0, 0, c.zOfEighth};
    at(first).setTransform(TransformKind::Translation, z1);
    at(eighth).setTransform(TransformKind::Translation, z8);
    ASSERT_EQ(frame(), S_OK);

    const uint32_t overlap = pixel(250, 250);
    EXPECT_NEAR(channel(overlap, 16), c.red, 1.01);
    EXPECT_NEAR(channel(overlap, 0), c.blue, 1.01);
    EXPECT_NEAR(channel(overlap, 8), 0, 1.01);
    EXPECT_NEAR(channel(pixel(180, 180), 16), blend(255, 128, 0), 1.01);  // polygon 1 alone
    EXPECT_NEAR(channel(pixel(340, 320), 0), blend(255, 128, 0), 1.01);   // polygon 8 alone

    // The same calls give the same bytes.
    const std::vector<uint32_t> first_frame = host;
    ASSERT_EQ(frame(), S_OK);
    EXPECT_EQ(host, first_frame);
  }
}

// Stage 1 keeps the texture an earlier polygon bound, in this frame and the
// next ones, until a reset clears the bindings.
TEST_F(Frame, SlotOneModulationCarriesOverUntilReset) {
  const uint32_t grey = 0xFF808080u;
  const uint32_t withBoth = polygon(screenRect(50.5, 50.5, 150.5, 150.5));
  const uint32_t slot0Only = polygon(screenRect(250.5, 50.5, 350.5, 150.5));
  IDirect3DTexture9* white = solid(0xFFFFFFFFu);

  // Before anything is bound to stage 1, a slot-0 polygon shows slot 0 only.
  at(slot0Only).assignTexture(0, white, nullptr);
  disposePolygon(context->polygonTable, withBoth);
  ASSERT_EQ(frame(), S_OK);
  EXPECT_EQ(pixel(300, 100), 0xFFFFFFFFu);

  const uint32_t first = polygon(screenRect(50.5, 50.5, 150.5, 150.5));  // id 3, visited first
  const uint32_t second = polygon(screenRect(250.5, 50.5, 350.5, 150.5));
  disposePolygon(context->polygonTable, slot0Only);
  at(first).assignTexture(0, white, nullptr);
  at(first).assignTexture(1, solid(grey), nullptr);
  at(second).assignTexture(0, white, nullptr);
  ASSERT_EQ(frame(), S_OK);
  EXPECT_EQ(pixel(100, 100), grey);
  EXPECT_EQ(pixel(300, 100), grey);  // modulated by the first polygon's slot 1

  disposePolygon(context->polygonTable, first);
  ASSERT_EQ(frame(), S_OK);
  EXPECT_EQ(pixel(100, 100), 0u);
  EXPECT_EQ(pixel(300, 100), grey);  // the binding outlives the polygon and the frame

  d3d9::loseDevice(0);  // resettable at once: reset, then drawn in the same call
  ASSERT_EQ(frame(), S_OK);
  EXPECT_EQ(pixel(300, 100), 0xFFFFFFFFu);
}

TEST_F(Frame, LostDeviceLeavesHostAndTableAloneThenResetsAndDraws) {
  const uint32_t keep = polygon(screenRect(10.5, 10.5, 20.5, 20.5));
  const uint32_t gone = polygon(screenRect(30.5, 10.5, 40.5, 20.5));
  disposePolygon(context->polygonTable, gone);
  d3d9::loseDevice(1);

  EXPECT_EQ(frame(), E_FAIL);
  for (uint32_t p : host) ASSERT_EQ(p, kSentinel);
  EXPECT_NE(context->polygonTable.find(gone), nullptr);

  const uint32_t resets = d3d9::callCounts().reset;
  ASSERT_EQ(frame(), S_OK);  // now resettable
  EXPECT_EQ(d3d9::callCounts().reset, resets + 1);
  EXPECT_EQ(context->polygonTable.find(gone), nullptr);
  EXPECT_NE(context->polygonTable.find(keep), nullptr);
  EXPECT_EQ(pixel(15, 15), 0xFFFFFFFFu);  // untextured: opaque white
  EXPECT_EQ(pixel(35, 15), 0u);

  d3d9::loseDevice(0);
  d3d9::injectFault(d3d9::FaultPoint::Reset);
  std::fill(host.begin(), host.end(), kSentinel);
  EXPECT_EQ(frame(), E_FAIL);
  EXPECT_EQ(host[0], kSentinel);
  EXPECT_EQ(frame(), S_OK);  // the next frame asks again and resets
}

TEST_F(Frame, FailuresReleaseEverythingAndStillPurge) {
  struct Case {
    d3d9::FaultPoint point;
    HRESULT expected;
  };
  const Case cases[] = {
      {d3d9::FaultPoint::GetViewport, E_FAIL},
      {d3d9::FaultPoint::GetBackBuffer, E_FAIL},
      {d3d9::FaultPoint::CreateResource, E_OUTOFMEMORY},
      {d3d9::FaultPoint::GetRenderTargetData, E_FAIL},
      {d3d9::FaultPoint::Lock, E_FAIL},
  };
  const uint32_t live = d3d9::liveObjectCount();
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.point));
    const uint32_t shown = polygon(screenRect(10.5, 10.5, 20.5, 20.5));
    const uint32_t gone = polygon(screenRect(30.5, 10.5, 40.5, 20.5));
    disposePolygon(context->polygonTable, gone);
    std::fill(host.begin(), host.end(), kSentinel);
    d3d9::injectFault(c.point);
    EXPECT_EQ(frame(), c.expected);
    EXPECT_EQ(d3d9::faultsFired(c.point), 1u);
    EXPECT_EQ(host[0], kSentinel);
    EXPECT_EQ(context->polygonTable.find(gone), nullptr);
    EXPECT_EQ(context->backBuffer, nullptr);
    EXPECT_EQ(context->readbackSurface, nullptr);
    EXPECT_EQ(d3d9::liveObjectCount(), live);
    // The next frame is drawn normally (a failed frame leaves no scene open).
    ASSERT_EQ(frame(), S_OK);
    EXPECT_EQ(pixel(15, 15), 0xFFFFFFFFu);
    disposePolygon(context->polygonTable, shown);
    d3d9::clearFaults();
  }
}

// The host's buffer, ending at an unmapped page so that a write past its
// end faults.
class GuardedHost {
 public:
  GuardedHost(int width, int height) {
    page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t bytes = static_cast<size_t>(width) * height * 4;
    mapped_ = (bytes + page_ - 1) / page_ * page_ + page_;
    base_ = static_cast<uint8_t*>(mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(base_ + mapped_ - page_, page_, PROT_NONE);
    pixels_ = reinterpret_cast<uint32_t*>(base_ + mapped_ - page_ - bytes);
    std::fill(pixels_, pixels_ + static_cast<size_t>(width) * height, kSentinel);
  }
  ~GuardedHost() { munmap(base_, mapped_); }
  uint32_t* pixels() const { return pixels_; }

 private:
  size_t page_ = 0, mapped_ = 0;
  uint8_t* base_ = nullptr;
  uint32_t* pixels_ = nullptr;
};

// Host sizes other than the back buffer's: only the overlap is copied, back
// buffer row i into host row height - 1 - i; the rest keeps its bytes.
TEST_F(Frame, HostSizesOtherThanTheBackBufferCopyTheOverlap) {
  polygon(screenRect(-2, -2, kWidth + 2, 1.5));  // back-buffer rows 0 and 1 white
  struct Case {
    int width, height;
  };
  for (const Case c : {Case{600, 450}, Case{100, 50}, Case{kWidth, 1}}) {
    SCOPED_TRACE(c.width);
    GuardedHost guarded(c.width, c.height);
    uint32_t* p = guarded.pixels();
    ASSERT_EQ(drawFrame(*context, p, c.width, c.height), S_OK);
    const int columns = std::min(c.width, kWidth), rows = std::min(c.height, kHeight);
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x) {
        const int row = c.height - 1 - y;  // back-buffer row shown in host row y
        const uint32_t expected = x >= columns || row >= rows ? kSentinel : row < 2 ? 0xFFFFFFFFu : 0u;
        ASSERT_EQ(p[static_cast<size_t>(y) * c.width + x], expected) << x << "," << y;
      }
  }
  EXPECT_EQ(drawFrame(*context, host.data(), 0, 0), S_OK);
  EXPECT_EQ(drawFrame(*context, host.data(), -5, 10), E_FAIL);
  EXPECT_EQ(drawFrame(*context, nullptr, kWidth, kHeight), E_FAIL);
  EXPECT_EQ(host[0], kSentinel);
}

// A device that accepts only a 16-bit back buffer: the frame widens its
// pixels to 32 bits.
TEST_F(Frame, SixteenBitBackBufferIsWidened) {
  context.reset();
  d3d9::AdapterProfile profile = d3d9::AdapterProfile::desktop();
  profile.renderTargetFormats = {D3DFMT_A4R4G4B4};
  d3d9::selectAdapterProfile(profile);
  makeContext();
  ASSERT_EQ(backBufferFormat, D3DFMT_A4R4G4B4);
  const uint32_t id = polygon(screenRect(100.5, 100.5, 200.5, 200.5));
  at(id).assignTexture(0, solid(0xFF3366CCu), nullptr);
  ASSERT_EQ(frame(), S_OK);
  EXPECT_EQ(pixel(150, 150), 0xFF3366CCu);  // 4-bit channels widen back exactly
  EXPECT_EQ(pixel(50, 50), 0u);
}

TEST(BackBufferRow, WidensSixteenBitFormatsByBitReplication) {
  struct Case {
    D3DFORMAT format;
    uint16_t in;
    uint32_t out;
  };
  const Case cases[] = {
      {D3DFMT_R5G6B5, 0xF800, 0xFFFF0000u},   {D3DFMT_R5G6B5, 0x07E0, 0xFF00FF00u},
      {D3DFMT_R5G6B5, 0x0801, 0xFF080008u},   {D3DFMT_X1R5G5B5, 0x7C00, 0xFFFF0000u},
      {D3DFMT_X1R5G5B5, 0x0421, 0xFF080808u}, {D3DFMT_A1R5G5B5, 0x001F, 0x000000FFu},
      {D3DFMT_A1R5G5B5, 0x83E0, 0xFF00FF00u}, {D3DFMT_A4R4G4B4, 0x1234, 0x11223344u},
      {D3DFMT_X4R4G4B4, 0x1234, 0xFF223344u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    const uint16_t in[2] = {c.in, 0};
    uint32_t out[3] = {1, 1, kSentinel};
    ASSERT_TRUE(backBufferRowToHost(c.format, in, 2, out));
    EXPECT_EQ(out[0], c.out);
    EXPECT_EQ(out[2], kSentinel);
  }
  const uint32_t wide[2] = {0x12345678u, 0x9ABCDEF0u};
  uint32_t copy[2] = {};
  ASSERT_TRUE(backBufferRowToHost(D3DFMT_X8R8G8B8, wide, 2, copy));
  EXPECT_EQ(copy[1], wide[1]);
  EXPECT_FALSE(backBufferRowToHost(D3DFMT_A2R10G10B10, wide, 2, copy));
}

}  // namespace
}  // namespace nerro::renderer
