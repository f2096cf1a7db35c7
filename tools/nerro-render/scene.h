// A scene for nerro-render: the back-buffer size, textures by name, and
// polygons with corners, texture slots and the five transforms.
//
// Scene files are text, one statement a line, '#' starts a comment:
//   size W H                       back-buffer size (default 544 416)
//   texture NAME FILE              an image file (BMP, DIB, TGA, DDS, PPM,
//                                  PFM, HDR, JPEG, PNG), relative to the scene
//   quad X0 Y0 X1 Y1 X2 Y2 X3 Y3   a new polygon (strip order: the fourth
//   triangle X0 Y0 X1 Y1 X2 Y2     corner closes the quad across from the first)
// and, for the polygon above them:
//   slot N NAME U0 V0 U1 V1 ...    texture NAME in slot N (0 or 1) with the
//                                  texture coordinates of each corner
//   scale X Y Z
//   rotate x|y|z DEGREES
//   translate X Y Z
//   spin x|y|z DEGREES             added to the rotation once a frame
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace nerro::tools {

struct SceneTexture {
  std::string name;
  std::vector<uint8_t> file;      // image file bytes, or
  std::vector<uint32_t> pixels;   // w x h B G R A pixels, bottom row first
  int32_t width = 0, height = 0;
};

struct SceneSlot {
  std::string texture;  // empty: slot unused
  std::vector<float> coords;
};

struct ScenePolygon {
  bool quad = true;
  std::vector<float> corners;
  SceneSlot slots[2];
  std::array<float, 3> scale{1, 1, 1};
  std::array<float, 3> rotation{0, 0, 0};  // radians about x, y, z
  std::array<float, 3> translation{0, 0, 0};
  std::array<float, 3> spin{0, 0, 0};      // radians a frame about x, y, z
};

struct Scene {
  int32_t width = 544, height = 416;
  std::vector<SceneTexture> textures;
  std::vector<ScenePolygon> polygons;
};

// Reads a scene file; on failure returns false with a message naming the
// line.
bool loadScene(const std::string& path, Scene& scene, std::string& error);
// Parses scene text; textures are read relative to `directory`.
bool parseScene(const std::string& text, const std::string& directory, Scene& scene, std::string& error);

// The built-in demo: a checkered floor lit by a second texture (two-slot
// modulation), and translucent panes at different depths that turn.
Scene demoScene();

}  // namespace nerro::tools
