#include "scene.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>

namespace nerro::tools {
namespace {

constexpr float kPi = 3.14159265358979f;
float radians(float degrees) { return degrees * kPi / 180.0f; }

int axisIndex(const std::string& axis) {
  if (axis == "x") return 0;
  if (axis == "y") return 1;
  if (axis == "z") return 2;
  return -1;
}

bool readFloats(std::istringstream& in, std::vector<float>& out, size_t count) {
  out.resize(count);
  for (float& v : out)
    if (!(in >> v)) return false;
  return true;
}

bool readFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return !bytes.empty();
}

std::string directoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

bool parseScene(const std::string& text, const std::string& directory, Scene& scene, std::string& error) {
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream in(line);
    std::string word;
    if (!(in >> word)) continue;
    const auto fail = [&](const std::string& what) {
      error = "line " + std::to_string(number) + ": " + what;
      return false;
    };
    ScenePolygon* last = scene.polygons.empty() ? nullptr : &scene.polygons.back();
    std::vector<float> v;
    if (word == "size") {
      if (!(in >> scene.width >> scene.height) || scene.width <= 0 || scene.height <= 0)
        return fail("size wants two positive numbers");
    } else if (word == "texture") {
      SceneTexture texture;
      std::string file;
      if (!(in >> texture.name >> file)) return fail("texture wants a name and a file");
      const std::string path = file.front() == '/' ? file : directory + "/" + file;
      if (!readFile(path, texture.file)) return fail("cannot read " + path);
      scene.textures.push_back(std::move(texture));
    } else if (word == "quad" || word == "triangle") {
      ScenePolygon polygon;
      polygon.quad = word == "quad";
      if (!readFloats(in, polygon.corners, polygon.quad ? 8 : 6)) return fail(word + " wants the x, y of each corner");
      scene.polygons.push_back(std::move(polygon));
    } else if (word != "slot" && word != "scale" && word != "translate" && word != "rotate" && word != "spin") {
      return fail("unknown statement '" + word + "'");
    } else if (last == nullptr) {
      return fail("'" + word + "' needs a quad or triangle above it");
    } else if (word == "slot") {
      int slot = -1;
      std::string name;
      if (!(in >> slot >> name) || slot < 0 || slot > 1) return fail("slot wants 0 or 1 and a texture name");
      if (!readFloats(in, last->slots[slot].coords, last->quad ? 8 : 6)) return fail("slot wants u, v of each corner");
      last->slots[slot].texture = name;
    } else if (word == "scale" || word == "translate") {
      if (!readFloats(in, v, 3)) return fail(word + " wants three numbers");
      auto& target = word == "scale" ? last->scale : last->translation;
      target = {v[0], v[1], v[2]};
    } else if (word == "rotate" || word == "spin") {
      std::string axis;
      float degrees = 0;
      if (!(in >> axis >> degrees) || axisIndex(axis) < 0) return fail(word + " wants x, y or z and degrees");
      (word == "rotate" ? last->rotation : last->spin)[axisIndex(axis)] = radians(degrees);
    }
    if (std::string rest; in >> rest) return fail("unexpected '" + rest + "'");
  }
  for (const ScenePolygon& polygon : scene.polygons)
    for (const SceneSlot& slot : polygon.slots) {
      if (slot.texture.empty()) continue;
      bool known = false;
      for (const SceneTexture& t : scene.textures) known = known || t.name == slot.texture;
      if (!known) {
        error = "texture '" + slot.texture + "' is used but never loaded";
        return false;
      }
    }
  return true;
}

bool loadScene(const std::string& path, Scene& scene, std::string& error) {
  std::vector<uint8_t> bytes;
  if (!readFile(path, bytes)) {
    error = "cannot read " + path;
    return false;
  }
  if (!parseScene(std::string(bytes.begin(), bytes.end()), directoryOf(path), scene, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

namespace {

uint32_t bgra(uint32_t r, uint32_t g, uint32_t b, uint32_t a) { return a << 24 | r << 16 | g << 8 | b; }

// w x h pixels made by f(x, y) with y counted from the top; stored bottom
// row first as the exports expect.
template <class F>
SceneTexture proceduralTexture(const char* name, int32_t w, int32_t h, F&& f) {
  SceneTexture t;
  t.name = name;
  t.width = w;
  t.height = h;
  t.pixels.resize(static_cast<size_t>(w) * h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) t.pixels[static_cast<size_t>(h - 1 - y) * w + x] = f(x, y);
  return t;
}

ScenePolygon square(float half, const char* texture, float repeat) {
  ScenePolygon p;
  p.corners = {-half, half, half, half, -half, -half, half, -half};
  p.slots[0].texture = texture;
  p.slots[0].coords = {0, 0, repeat, 0, 0, repeat, repeat, repeat};
  return p;
}

}  // namespace

Scene demoScene() {
  Scene scene;
  // A checkerboard with a thin grid, lit by a soft spot in slot 1.
  scene.textures.push_back(proceduralTexture("checker", 64, 64, [](int32_t x, int32_t y) {
    const bool dark = ((x / 8) + (y / 8)) % 2 != 0;
    const bool line = x % 8 == 0 || y % 8 == 0;
    if (line) return bgra(40, 40, 60, 255);
    return dark ? bgra(70, 90, 150, 255) : bgra(230, 225, 210, 255);
  }));
  scene.textures.push_back(proceduralTexture("spot", 128, 128, [](int32_t x, int32_t y) {
    const float dx = (x - 64) / 64.0f, dy = (y - 52) / 64.0f;
    const float light = std::fmax(0.15f, 1.0f - 0.8f * (dx * dx + dy * dy));
    const uint32_t v = static_cast<uint32_t>(std::fmin(light, 1.0f) * 255.0f);
    return bgra(v, v, static_cast<uint32_t>(v * 0.9f), 255);
  }));
  // Translucent panes: a coloured glass with a brighter rim.
  const auto glass = [](const char* name, uint32_t r, uint32_t g, uint32_t b) {
    return proceduralTexture(name, 32, 32, [=](int32_t x, int32_t y) {
      const bool rim = x < 2 || y < 2 || x > 29 || y > 29;
      return rim ? bgra(255, 255, 255, 230) : bgra(r, g, b, 140);
    });
  };
  scene.textures.push_back(glass("red", 230, 40, 50));
  scene.textures.push_back(glass("green", 40, 200, 90));
  scene.textures.push_back(glass("blue", 50, 110, 240));

  // The floor: tilted back, its checker modulated by the spot.
  ScenePolygon floor = square(300, "checker", 3);
  floor.slots[1].texture = "spot";
  floor.slots[1].coords = {0, 0, 1, 0, 0, 1, 1, 1};
  floor.rotation = {radians(62), 0, 0};
  floor.translation = {0, -200, 150};
  scene.polygons.push_back(floor);

  // Three panes at different depths, drawn back to front, each turning.
  const char* names[] = {"blue", "green", "red"};
  for (int i = 0; i < 3; ++i) {
    ScenePolygon pane = square(80, names[i], 1);
    pane.translation = {-110.0f + 110.0f * i, 10.0f + 15.0f * (i % 2), 120.0f - 60.0f * i};
    pane.rotation = {0, radians(25.0f - 20.0f * i), radians(8.0f * (i - 1))};
    pane.spin = {0, radians(6.0f + 3.0f * i), 0};
    scene.polygons.push_back(pane);
  }
  return scene;
}

}  // namespace nerro::tools
