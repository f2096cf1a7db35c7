#include "scene.h"

#include <gtest/gtest.h>

#include <cmath>

namespace nerro::tools {
namespace {

TEST(SceneFile, ReadsPolygonsSlotsAndTransforms) {
  Scene scene;
  std::string error;
  const char* text =
      "# a comment\n"
      "size 320 200\n"
      "quad -1 1  1 1  -1 -1  1 -1\n"
      "  scale 2 3 4   # trailing comment\n"
      "  rotate y 90\n"
      "  spin z 180\n"
      "  translate 5 6 7\n"
      "triangle 0 0 1 0 0 1\n";
  ASSERT_TRUE(parseScene(text, ".", scene, error)) << error;
  EXPECT_EQ(scene.width, 320);
  EXPECT_EQ(scene.height, 200);
  ASSERT_EQ(scene.polygons.size(), 2u);
  const ScenePolygon& q = scene.polygons[0];
  EXPECT_TRUE(q.quad);
  EXPECT_EQ(q.corners.size(), 8u);
  EXPECT_FLOAT_EQ(q.scale[2], 4);
  EXPECT_NEAR(q.rotation[1], 1.5707963f, 1e-6);
  EXPECT_NEAR(q.spin[2], 3.1415927f, 1e-6);
  EXPECT_FLOAT_EQ(q.translation[0], 5);
  EXPECT_FALSE(scene.polygons[1].quad);
  EXPECT_EQ(scene.polygons[1].corners.size(), 6u);
}

TEST(SceneFile, ErrorsNameTheLine) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"size 0 10\n", "line 1: size wants two positive numbers"},
      {"\nscale 1 1 1\n", "line 2: 'scale' needs a quad or triangle above it"},
      {"quad 1 2 3\n", "line 1: quad wants the x, y of each corner"},
      {"triangle 0 0 1 0 0 1\nslot 2 t 0 0 0 0 0 0\n", "line 2: slot wants 0 or 1 and a texture name"},
      {"triangle 0 0 1 0 0 1\nslot 0 t 0 0 0 0 0 0\n", "texture 't' is used but never loaded"},
      {"triangle 0 0 1 0 0 1\nrotate w 10\n", "line 2: rotate wants x, y or z and degrees"},
      {"size 10 10 10\n", "line 1: unexpected '10'"},
      {"bogus\n", "line 1: unknown statement 'bogus'"},
      {"texture t /no/such/file.png\n", "line 1: cannot read /no/such/file.png"},
  };
  for (const Case& c : cases) {
    Scene scene;
    std::string error;
    EXPECT_FALSE(parseScene(c.text, ".", scene, error)) << c.text;
    EXPECT_EQ(error, c.error);
  }
}

TEST(SceneFile, DemoUsesBothSlotsAndTranslucency) {
  const Scene demo = demoScene();
  bool modulated = false, translucent = false;
  for (const ScenePolygon& p : demo.polygons) modulated = modulated || !p.slots[1].texture.empty();
  for (const SceneTexture& t : demo.textures)
    for (uint32_t pixel : t.pixels) translucent = translucent || (pixel >> 24) < 255;
  EXPECT_TRUE(modulated);
  EXPECT_TRUE(translucent);
  // Every texture a polygon names exists.
  for (const ScenePolygon& p : demo.polygons)
    for (const SceneSlot& s : p.slots) {
      if (s.texture.empty()) continue;
      bool found = false;
      for (const SceneTexture& t : demo.textures) found = found || t.name == s.texture;
      EXPECT_TRUE(found) << s.texture;
    }
}

}  // namespace
}  // namespace nerro::tools
