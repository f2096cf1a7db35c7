#include "renderer/texture_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "d3d9/software_adapter.h"
#include "platform/platform.h"
#include "renderer/polygon_set.h"

namespace nerro::renderer {
namespace {

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

TEST(BitmapFile, HeaderAndPixelsOfTwoByTwo) {
  const uint8_t pixels[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const auto file = buildBitmapFile(pixels, 2, 2);
  ASSERT_TRUE(file);
  const uint8_t* f = file.get();
  EXPECT_EQ(f[0], 'B');
  EXPECT_EQ(f[1], 'M');
  EXPECT_EQ(le32(f + 2), 70u);
  EXPECT_EQ(le32(f + 10), 54u);
  EXPECT_EQ(le32(f + 14), 40u);
  EXPECT_EQ(le32(f + 18), 2u);
  EXPECT_EQ(le32(f + 22), 2u);
  EXPECT_EQ(f[26] | f[27] << 8, 1);
  EXPECT_EQ(f[28] | f[29] << 8, 32);
  EXPECT_EQ(le32(f + 30), 0u);
  EXPECT_EQ(le32(f + 34), 16u);
  EXPECT_EQ(le32(f + 38), 2834u);
  EXPECT_EQ(le32(f + 42), 2834u);
  EXPECT_EQ(le32(f + 46), 0u);
  EXPECT_EQ(le32(f + 50), 0u);
  EXPECT_EQ(std::memcmp(f + 54, pixels, 16), 0);
}

TEST(BitmapFile, RefusesSizesThatDoNotFit) {
  EXPECT_EQ(bitmapFileSize(2, 2), 70u);
  EXPECT_EQ(bitmapFileSize(0, 5), 0u);
  EXPECT_EQ(bitmapFileSize(5, -1), 0u);
  EXPECT_EQ(bitmapFileSize(32768, 32768), 0u);  // 4 GiB + 54
  EXPECT_EQ(bitmapFileSize(32767, 32767), 32767u * 32767u * 4u + 54u);
  const uint8_t pixel[4] = {};
  EXPECT_FALSE(buildBitmapFile(pixel, -1, 1));
}

class TextureListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    d3d9::resetAdapter();
    context_ = std::make_unique<NerroPolygonSet>();
    ASSERT_EQ(context_->initDevice(platform::foregroundWindow()), S_OK);
  }
  void TearDown() override {
    context_.reset();
    EXPECT_EQ(d3d9::liveObjectCount(), 0u);
    d3d9::resetAdapter();
  }

  int32_t load(const char* name, uint32_t w = 4, uint32_t h = 2, uint8_t alpha = 0) {
    std::vector<uint8_t> pixels(w * h * 4, 0x40);
    for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = alpha;
    return loadTexture(*context_, name, pixels.data(), static_cast<int32_t>(w), static_cast<int32_t>(h));
  }
  NerroPolygon* addPolygon(uint32_t id, bool quad) {
    static const float corners[8] = {0, 0, 10, 0, 10, 10, 0, 10};
    context_->polygonTable.insert(id, std::make_unique<NerroPolygon>(quad ? 1 : 0, corners));
    return context_->polygonTable.find(id);
  }

  std::unique_ptr<NerroPolygonSet> context_;
};

TEST_F(TextureListTest, SameNameTwiceGivesTwoEntriesAndFindTakesTheFirst) {
  ASSERT_EQ(load("stone"), 1);
  ASSERT_EQ(load("stone", 8, 8), 1);
  ASSERT_EQ(context_->textureEntries.size(), 2u);
  EXPECT_EQ(findTexture(*context_, "stone"), context_->textureEntries[0].get());
  EXPECT_EQ(findTexture(*context_, "Stone"), nullptr);  // case counts
  EXPECT_FALSE(context_->bitmapScratch);               // freed after loading
  clearTextures(*context_);
  EXPECT_TRUE(context_->textureEntries.empty());
  EXPECT_EQ(findTexture(*context_, "stone"), nullptr);
}

TEST_F(TextureListTest, NamesUpTo258CharactersOnly) {
  const std::string longest(258, 'n');
  ASSERT_EQ(load(longest.c_str()), 1);
  const TextureList* entry = findTexture(*context_, longest.c_str());
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(std::string(entry->name), longest);
  EXPECT_EQ(load(std::string(259, 'n').c_str()), 0);
  EXPECT_EQ(load(std::string(5000, 'n').c_str()), 0);
  EXPECT_EQ(load(nullptr), 0);
  EXPECT_EQ(context_->textureEntries.size(), 1u);
}

TEST_F(TextureListTest, AssignTextureRules) {
  ASSERT_EQ(load("a"), 1);
  NerroPolygon* triangle = addPolygon(1, false);
  NerroPolygon* quad = addPolygon(2, true);
  const float coords[9] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 99.0f};

  EXPECT_EQ(assignTexture(*context_, 3, "a", 0, coords), 0);   // no such polygon
  EXPECT_EQ(assignTexture(*context_, 1, "b", 0, coords), 0);   // no such entry
  EXPECT_EQ(assignTexture(*context_, 1, "a", 2, coords), 1);   // slot 2: nothing changes
  EXPECT_FALSE(triangle->slotTextures[0]);
  EXPECT_FALSE(triangle->slotTextures[1]);

  ASSERT_EQ(assignTexture(*context_, 1, "a", 1, coords), 1);
  EXPECT_EQ(triangle->slotTextures[1].get(), context_->textureEntries[0]->texture);
  EXPECT_FLOAT_EQ(triangle->vertices[2].tu1, 0.5f);
  EXPECT_FLOAT_EQ(triangle->vertices[2].tv1, 0.6f);
  EXPECT_FLOAT_EQ(triangle->vertices[3].tu1, 0.0f);  // a triangle reads 6 floats only

  ASSERT_EQ(assignTexture(*context_, 2, "a", 0, coords), 1);
  EXPECT_FLOAT_EQ(quad->vertices[3].tu0, 0.7f);
  EXPECT_FLOAT_EQ(quad->vertices[3].tv0, 0.8f);
}

TEST_F(TextureListTest, PolygonsKeepTheirTexturesAcrossClearAndReset) {
  ASSERT_EQ(load("a"), 1);
  ASSERT_EQ(load("b"), 1);
  NerroPolygon* polygon = addPolygon(1, true);
  const float coords[8] = {};
  ASSERT_EQ(assignTexture(*context_, 1, "a", 0, coords), 1);
  IDirect3DTexture9* given = polygon->slotTextures[0].get();
  IDirect3DTexture9* before[2] = {context_->textureEntries[0]->texture, context_->textureEntries[1]->texture};
  before[1]->AddRef();  // keep the old object alive to tell it from the new one

  d3d9::loseDevice(0);
  ASSERT_EQ(context_->resetDevice(), S_OK);
  for (const auto& entry : context_->textureEntries) ASSERT_NE(entry->texture, nullptr);
  EXPECT_NE(context_->textureEntries[1]->texture, before[1]);
  // The polygon still holds the texture it was given, alive.
  EXPECT_EQ(polygon->slotTextures[0].get(), given);
  EXPECT_EQ(given->GetLevelCount(), 3u);
  before[1]->Release();

  clearTextures(*context_);
  EXPECT_EQ(polygon->slotTextures[0].get(), given);
  EXPECT_EQ(given->GetLevelCount(), 3u);
}

TEST_F(TextureListTest, AlphaBytesDecideOpacity) {
  for (uint8_t alpha : {uint8_t{0}, uint8_t{0x80}}) {
    SCOPED_TRACE(alpha);
    clearTextures(*context_);
    ASSERT_EQ(load("t", 4, 2, alpha), 1);
    uint32_t w = 0, h = 0;
    const uint32_t* texels = d3d9::decodedTexels(context_->textureEntries[0]->texture, 0, &w, &h);
    ASSERT_NE(texels, nullptr);
    EXPECT_EQ(texels[0], (alpha ? uint32_t{alpha} << 24 : 0xFF000000u) | 0x404040u);
  }
}

TEST_F(TextureListTest, FailedCreationLeavesNoEntry) {
  d3d9::injectFault(d3d9::FaultPoint::CreateResource, 1);
  EXPECT_EQ(load("a"), 0);
  EXPECT_TRUE(context_->textureEntries.empty());
  EXPECT_FALSE(context_->bitmapScratch);
  d3d9::clearFaults();
  EXPECT_EQ(load("a"), 1);
}

TEST_F(TextureListTest, ImageFilesOfAnyContainer) {
  // A 3 x 2 binary PPM: the entry takes the image's own size.
  const std::string ppm = "P6 3 2 255\n";
  std::vector<uint8_t> file(ppm.begin(), ppm.end());
  for (int i = 0; i < 6; ++i) file.insert(file.end(), {uint8_t(40 * i), 0x10, 0x20});
  ASSERT_EQ(loadTextureImage(*context_, "ppm", file.data(), static_cast<uint32_t>(file.size())), 1);
  const TextureList* entry = findTexture(*context_, "ppm");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->width, 3);
  EXPECT_EQ(entry->height, 2);
  uint32_t w = 0, h = 0;
  const uint32_t* texels = d3d9::decodedTexels(entry->texture, 0, &w, &h);
  ASSERT_NE(texels, nullptr);
  EXPECT_EQ(texels[1], 0xFF281020u);
  const uint8_t garbage[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(loadTextureImage(*context_, "bad", garbage, sizeof garbage), 0);
  EXPECT_EQ(context_->textureEntries.size(), 1u);
}

}  // namespace
}  // namespace nerro::renderer
