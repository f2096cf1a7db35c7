#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "d3d9/com_ptr.h"
#include "d3d9/software_adapter.h"
#include "renderer/polygon.h"
#include "../support/test_device.h"

namespace nerro::renderer {
namespace {

using d3d9::ComPtr;

const float kQuad[8] = {0, 0, 0, 1, 1, 0, 1, 1};

class PolygonSlots : public nerro::testing::AdapterStateTest {
 protected:
  void SetUp() override {
    AdapterStateTest::SetUp();
    ASSERT_EQ(device.create(nerro::testing::windowedParameters(16, 16)), S_OK);
  }
  void releaseObjects() override { device.reset(); }

  // A texture with one reference, held by the caller (as a texture entry
  // holds its texture).
  IDirect3DTexture9* makeTexture() {
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), S_OK);
    return texture;
  }

  nerro::testing::SoftwareDevice device;
};

TEST_F(PolygonSlots, SlotKeepsItsTextureAliveUntilReplacedOrDestroyed) {
  const uint32_t base = d3d9::liveObjectCount();
  auto polygon = std::make_unique<NerroPolygon>(1, kQuad);
  IDirect3DTexture9* first = makeTexture();
  polygon->assignTexture(0, first, nullptr);
  first->Release();  // the texture list lets go: the polygon still holds it
  EXPECT_EQ(d3d9::liveObjectCount(), base + 1);
  EXPECT_EQ(polygon->slotTextures[0].get(), first);
  uint32_t w = 0, h = 0;
  EXPECT_NE(d3d9::decodedTexels(first, 0, &w, &h), nullptr);

  IDirect3DTexture9* second = makeTexture();
  EXPECT_EQ(d3d9::liveObjectCount(), base + 2);
  polygon->assignTexture(0, second, nullptr);  // drops the first, which dies
  EXPECT_EQ(d3d9::liveObjectCount(), base + 1);
  second->Release();
  EXPECT_EQ(d3d9::liveObjectCount(), base + 1);
  EXPECT_EQ(polygon->slotTextures[0].get(), second);

  // The same texture in both slots is two references, both dropped.
  polygon->assignTexture(1, polygon->slotTextures[0].get(), nullptr);
  polygon->assignTexture(0, polygon->slotTextures[0].get(), nullptr);  // reassigning itself is safe
  polygon.reset();
  EXPECT_EQ(d3d9::liveObjectCount(), base);
}

TEST_F(PolygonSlots, CoordinatesGoToTheirSlotAndHigherSlotsAreIgnored) {
  const float triangle[6] = {0, 0, 0, 1, 1, 0};
  NerroPolygon polygon(0, triangle);
  IDirect3DTexture9* texture = makeTexture();

  // A triangle reads exactly 6 floats: the coordinates end a mapped page.
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  auto* base = static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(base, MAP_FAILED);
  ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
  float* uv = reinterpret_cast<float*>(base + page) - 6;
  const float values[6] = {0.25f, 0.5f, 2.0f, -1.0f, 7.0f, 8.0f};
  std::copy(values, values + 6, uv);

  polygon.assignTexture(1, texture, uv);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(polygon.vertices[i].tu1, values[2 * i]);
    EXPECT_EQ(polygon.vertices[i].tv1, values[2 * i + 1]);
  }
  // Slot 0 keeps its default coordinates.
  EXPECT_EQ(polygon.vertices[1].tu0, 0.0f);
  EXPECT_EQ(polygon.vertices[1].tv0, 1.0f);
  EXPECT_EQ(polygon.slotTextures[0].get(), nullptr);
  EXPECT_EQ(polygon.slotTextures[1].get(), texture);

  const PolygonVertex before = polygon.vertices[2];
  polygon.assignTexture(2, texture, uv);
  EXPECT_EQ(polygon.vertices[2].tu0, before.tu0);
  EXPECT_EQ(polygon.vertices[2].tu1, before.tu1);
  munmap(base, 2 * page);

  polygon.assignTexture(1, nullptr, nullptr);
  EXPECT_EQ(polygon.slotTextures[1].get(), nullptr);
  texture->Release();
}

}  // namespace
}  // namespace nerro::renderer
