// The benchmark scenes (scenes.h) drawn by Mesa's software OpenGL (OSMesa) with the
// state our frame uses: nearest sampling with wrap, texture 0 replacing and
// texture 1 modulating the colour (alpha from texture 0), 16-bit depth with
// LEQUAL, source-alpha blending, the same camera and world matrices, and a
// glReadPixels of the whole frame into a bottom-up BGRA buffer.
#pragma once

#include <GL/gl.h>
#include <GL/osmesa.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "scenes.h"

namespace nerro::bench {

// The camera's projection with depth mapped to OpenGL's -1..1. Direct3D 9
// puts pixel centres at integer window coordinates, OpenGL at
// half-integers: the peer's projection is shifted by half a pixel so both
// sample the scene at the same points.
inline Mat4 glProjection(int width, int height) {
  const Mat4 p = projectionMatrix(width, height);
  Mat4 toGl;  // z' = 2z - w, x' = x + w / width, y' = y - w / height
  toGl.m[10] = 2;
  toGl.m[14] = -1;
  toGl.m[12] = 1.0f / static_cast<float>(width);
  toGl.m[13] = -1.0f / static_cast<float>(height);
  return multiply(p, toGl);
}

class OsMesaPeer {
 public:
  OsMesaPeer(int width, int height) : width_(width), height_(height), target_(static_cast<size_t>(width) * height) {
    setenv("LP_NUM_THREADS", "2", 0);
    context_ = OSMesaCreateContextExt(OSMESA_BGRA, 16, 0, 0, nullptr);
    if (context_) current_ = OSMesaMakeCurrent(context_, target_.data(), GL_UNSIGNED_BYTE, width, height);
  }
  ~OsMesaPeer() {
    if (!textures_.empty()) glDeleteTextures(static_cast<GLsizei>(textures_.size()), textures_.data());
    if (context_) OSMesaDestroyContext(context_);
  }
  OsMesaPeer(const OsMesaPeer&) = delete;
  OsMesaPeer& operator=(const OsMesaPeer&) = delete;

  bool ok() const { return context_ != nullptr && current_; }

  // `order` lists the scene's polygons in the order the measured side
  // draws them, so both draw (and blend) in the same order.
  void load(const Scene& scene, const std::vector<size_t>& order) {
    scene_ = &scene;
    order_ = order;
    textures_.assign(scene.textures.size(), 0);
    if (!textures_.empty()) glGenTextures(static_cast<GLsizei>(textures_.size()), textures_.data());
    for (size_t i = 0; i < scene.textures.size(); ++i) {
      glBindTexture(GL_TEXTURE_2D, textures_[i]);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
      const SceneTexture& t = scene.textures[i];
      glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, t.size, t.size, 0, GL_BGRA, GL_UNSIGNED_BYTE, t.bgra.data());
    }
    // Stage 0 replaces colour and alpha; stage 1 modulates colour only.
    glActiveTexture(GL_TEXTURE0);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glActiveTexture(GL_TEXTURE1);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_COMBINE);
    glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_RGB, GL_MODULATE);
    glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE0_RGB, GL_PREVIOUS);
    glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE1_RGB, GL_TEXTURE);
    glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_ALPHA, GL_REPLACE);
    glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE0_ALPHA, GL_PREVIOUS);
    glActiveTexture(GL_TEXTURE0);

    glViewport(0, 0, width_, height_);
    glMatrixMode(GL_PROJECTION);
    const Mat4 projection = glProjection(width_, height_);
    glLoadMatrixf(projection.m);
    glMatrixMode(GL_MODELVIEW);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDepthMask(GL_TRUE);
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glClearColor(0, 0, 0, 0);
    glClearDepth(1.0);

    // Vertex arrays: position, then texture coordinates of both units.
    vertices_ = stripVertices(scene, order_);
    worlds_.clear();
    const Mat4 view = viewMatrix();
    for (size_t index : order_) worlds_.push_back(multiply(worldOf(scene.polygons[index]), view));
  }

  // One frame: clear, draw every polygon with its own matrix and binding,
  // read the pixels back into `host` (bottom row first, BGRA).
  void draw(uint32_t* host) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const GLsizei stride = 7 * sizeof(float);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, stride, vertices_.data());
    glClientActiveTexture(GL_TEXTURE0);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glTexCoordPointer(2, GL_FLOAT, stride, vertices_.data() + 3);
    glClientActiveTexture(GL_TEXTURE1);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glTexCoordPointer(2, GL_FLOAT, stride, vertices_.data() + 5);
    int first = 0;
    int bound[2] = {-2, -2};
    for (size_t i = 0; i < order_.size(); ++i) {
      const ScenePolygon& p = scene_->polygons[order_[i]];
      const int tex[2] = {p.texture0, p.texture1};
      for (int unit = 0; unit < 2; ++unit) {
        if (tex[unit] == bound[unit]) continue;
        glActiveTexture(GL_TEXTURE0 + unit);
        if (tex[unit] >= 0) {
          glEnable(GL_TEXTURE_2D);
          glBindTexture(GL_TEXTURE_2D, textures_[tex[unit]]);
        } else {
          glDisable(GL_TEXTURE_2D);
        }
        bound[unit] = tex[unit];
      }
      glLoadMatrixf(worlds_[i].m);
      const int n = p.quad ? 4 : 3;
      glDrawArrays(GL_TRIANGLE_STRIP, first, n);
      first += n;
    }
    glActiveTexture(GL_TEXTURE0);
    glReadPixels(0, 0, width_, height_, GL_BGRA, GL_UNSIGNED_BYTE, host);
  }

 private:
  int width_, height_;
  std::vector<uint32_t> target_;
  OSMesaContext context_ = nullptr;
  bool current_ = false;
  const Scene* scene_ = nullptr;
  std::vector<size_t> order_;
  std::vector<GLuint> textures_;
  std::vector<float> vertices_;
  std::vector<Mat4> worlds_;
};

}  // namespace nerro::bench
