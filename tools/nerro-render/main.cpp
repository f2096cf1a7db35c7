// nerro-render: renders a scene through the library's exports and writes
// each frame as a PNG.
//   nerro-render [options] [SCENE]
// With no scene it renders the built-in demo.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "nerroPolygon.h"
#include "png_writer.h"
#include "scene.h"

namespace {

using nerro::tools::Scene;
using nerro::tools::ScenePolygon;

const char kUsage[] =
    "usage: nerro-render [options] [SCENE]\n"
    "Renders SCENE (a scene file, see below) or, without one, the built-in demo,\n"
    "and writes the frame as a PNG.\n"
    "\n"
    "options:\n"
    "  -o, --output PATH   where to write the frame (default: frame.png); with\n"
    "                      --frames, frames go to PATH with -0000, -0001, ...\n"
    "                      before the extension\n"
    "  --frames N          render N frames, adding each polygon's spin once a frame\n"
    "  --alpha             keep the frame's alpha channel (default: opaque)\n"
    "  -h, --help          show this text\n"
    "\n"
    "scene files, one statement a line ('#' starts a comment):\n"
    "  size W H                      back-buffer size (default 544 416)\n"
    "  texture NAME FILE             an image file of any container the library reads\n"
    "  quad X0 Y0 X1 Y1 X2 Y2 X3 Y3  a polygon; corners in strip order\n"
    "  triangle X0 Y0 X1 Y1 X2 Y2\n"
    "  slot N NAME U0 V0 ...         texture NAME in slot 0 or 1 of the polygon above\n"
    "  scale X Y Z | rotate x|y|z DEG | translate X Y Z | spin x|y|z DEG\n"
    "The camera looks from z = -580 at the origin; at z = 0 the default 544 x 416\n"
    "frame shows about 628 x 480 units, x to the right and y upward.\n";

int fail(const std::string& message) {
  std::fprintf(stderr, "nerro-render: %s\n", message.c_str());
  return 1;
}

std::string framePath(const std::string& output, int frame, int frames) {
  if (frames <= 1) return output;
  char number[16];
  std::snprintf(number, sizeof number, "-%04d", frame);
  const size_t dot = output.find_last_of('.');
  const size_t slash = output.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return output + number;
  return output.substr(0, dot) + number + output.substr(dot);
}

// Makes the scene's textures and polygons; returns the polygon ids.
bool buildScene(const Scene& scene, std::vector<uint32_t>& ids, std::string& error) {
  for (const auto& texture : scene.textures) {
    const int32_t loaded =
        texture.file.empty()
            ? loadTexturePixels(texture.name.c_str(), texture.pixels.data(), texture.width, texture.height)
            : loadTextureImage(texture.name.c_str(), texture.file.data(), static_cast<uint32_t>(texture.file.size()));
    if (loaded != 1) {
      error = "texture '" + texture.name + "' could not be loaded";
      return false;
    }
  }
  for (const ScenePolygon& polygon : scene.polygons) {
    const uint32_t id = makePolygon(polygon.quad ? 1 : 0, polygon.corners.data());
    if (id == 0) {
      error = "a polygon could not be made";
      return false;
    }
    for (uint32_t slot = 0; slot < 2; ++slot) {
      const auto& s = polygon.slots[slot];
      if (!s.texture.empty() && setupTextures(id, s.texture.c_str(), slot, s.coords.data()) != 1) {
        error = "texture '" + s.texture + "' could not be assigned";
        return false;
      }
    }
    setupScale(id, polygon.scale.data(), 0);
    setupTranslate(id, polygon.translation.data(), 0);
    ids.push_back(id);
  }
  return true;
}

void turn(const ScenePolygon& polygon, uint32_t id, int frame) {
  float angles[3];
  for (int axis = 0; axis < 3; ++axis) angles[axis] = polygon.rotation[axis] + polygon.spin[axis] * frame;
  setupRotX(id, &angles[0], 0);
  setupRotY(id, &angles[1], 0);
  setupRotZ(id, &angles[2], 0);
}

}  // namespace

int main(int argc, char** argv) {
  std::string output = "frame.png", scenePath;
  int frames = 1;
  bool keepAlpha = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "-o" || arg == "--output") {
      if (++i == argc) return fail(arg + " wants a path");
      output = argv[i];
    } else if (arg == "--frames") {
      if (++i == argc) return fail("--frames wants a number");
      char* end = nullptr;
      const long n = std::strtol(argv[i], &end, 10);
      if (*end != '\0' || n < 1 || n > 100000) return fail("--frames wants a number from 1 to 100000");
      frames = static_cast<int>(n);
    } else if (arg == "--alpha") {
      keepAlpha = true;
    } else if (!arg.empty() && arg[0] == '-') {
      return fail("unknown option " + arg + " (see --help)");
    } else if (scenePath.empty()) {
      scenePath = arg;
    } else {
      return fail("one scene at a time (see --help)");
    }
  }

  Scene scene;
  std::string error;
  if (scenePath.empty()) {
    scene = nerro::tools::demoScene();
  } else if (!nerro::tools::loadScene(scenePath, scene, error)) {
    return fail(error);
  }

  setWindowSize(scene.width, scene.height);
  if (create() != 1) return fail("no rendering context could be made");
  std::vector<uint32_t> ids;
  if (!buildScene(scene, ids, error)) {
    dispose();
    return fail(error);
  }
  std::vector<uint32_t> pixels(static_cast<size_t>(scene.width) * scene.height);
  for (int frame = 0; frame < frames; ++frame) {
    for (size_t i = 0; i < ids.size(); ++i) turn(scene.polygons[i], ids[i], frame);
    const int32_t hr = drawPaintPixels(pixels.data(), scene.width, scene.height);
    if (hr != 0) {
      dispose();
      char code[16];
      std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
      return fail(std::string("drawing failed with ") + code);
    }
    const std::string path = framePath(output, frame, frames);
    if (!nerro::tools::writeFramePng(path, pixels.data(), scene.width, scene.height, keepAlpha, error)) {
      dispose();
      return fail(error);
    }
  }
  clearPolygons();
  clearTextures();
  dispose();
  return 0;
}
