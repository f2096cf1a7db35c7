// The device state the rasteriser honours: Direct3D's defaults and the
// mapping from state numbers to fields.
#include "d3d9/raster/rasterizer.h"

namespace nerro::raster {
namespace {

D3DMATRIX identity() {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  return m;
}

}  // namespace

RasterState::RasterState() : world(identity()), view(identity()), projection(identity()) {
  // Stage 0 modulates its texture by the diffuse colour; higher stages are
  // off; every stage reads the coordinate set of its own number.
  stages[0].colorOp = D3DTOP_MODULATE;
  stages[0].alphaOp = D3DTOP_SELECTARG1;
  for (uint32_t i = 0; i < kStageCount; ++i) stages[i].texCoordIndex = i;
}

bool setRenderState(RasterState& s, uint32_t renderState, uint32_t value) {
  switch (renderState) {
    case D3DRS_ZENABLE: s.zEnable = value; return true;
    case D3DRS_ZWRITEENABLE: s.zWriteEnable = value; return true;
    case D3DRS_ZFUNC: s.zFunc = value; return true;
    case D3DRS_CULLMODE: s.cullMode = value; return true;
    case D3DRS_SHADEMODE: s.shadeMode = value; return true;
    case D3DRS_ALPHABLENDENABLE: s.alphaBlendEnable = value; return true;
    case D3DRS_SRCBLEND: s.srcBlend = value; return true;
    case D3DRS_DESTBLEND: s.destBlend = value; return true;
    case D3DRS_ALPHATESTENABLE: s.alphaTestEnable = value; return true;
    case D3DRS_ALPHAFUNC: s.alphaFunc = value; return true;
    case D3DRS_ALPHAREF: s.alphaRef = value & 0xFFu; return true;
    case D3DRS_TEXTUREFACTOR: s.textureFactor = value; return true;
    default: return false;
  }
}

bool setTextureStageState(RasterState& s, uint32_t stage, uint32_t type, uint32_t value) {
  if (stage >= kStageCount) return false;
  TextureStageState& t = s.stages[stage];
  switch (type) {
    case D3DTSS_COLOROP: t.colorOp = value; return true;
    case D3DTSS_COLORARG1: t.colorArg1 = value; return true;
    case D3DTSS_COLORARG2: t.colorArg2 = value; return true;
    case D3DTSS_ALPHAOP: t.alphaOp = value; return true;
    case D3DTSS_ALPHAARG1: t.alphaArg1 = value; return true;
    case D3DTSS_ALPHAARG2: t.alphaArg2 = value; return true;
    case D3DTSS_TEXCOORDINDEX: t.texCoordIndex = value; return true;
    default: return false;
  }
}

bool setSamplerState(RasterState& s, uint32_t sampler, uint32_t type, uint32_t value) {
  if (sampler >= kStageCount) return false;
  SamplerState& t = s.samplers[sampler];
  switch (type) {
    case D3DSAMP_ADDRESSU: t.addressU = value; return true;
    case D3DSAMP_ADDRESSV: t.addressV = value; return true;
    case D3DSAMP_BORDERCOLOR: t.borderColor = value; return true;
    case D3DSAMP_MAGFILTER: t.magFilter = value; return true;
    case D3DSAMP_MINFILTER: t.minFilter = value; return true;
    case D3DSAMP_MIPFILTER: t.mipFilter = value; return true;
    case D3DSAMP_MAXMIPLEVEL: t.maxMipLevel = value; return true;
    default: return false;
  }
}

bool setTransform(RasterState& s, uint32_t transform, const D3DMATRIX& m) {
  switch (transform) {
    case D3DTS_WORLD: s.world = m; return true;
    case D3DTS_VIEW: s.view = m; return true;
    case D3DTS_PROJECTION: s.projection = m; return true;
    default: return false;
  }
}

}  // namespace nerro::raster
