// Adapter profiles, fault switches, call counters, the live-object count,
// the debug-mute export and the texel decoder hook.
#include <algorithm>

#include "d3d9/software_objects.h"
#include "platform/platform.h"

namespace nerro::d3d9 {

// ---- Profiles ----------------------------------------------------------------
namespace {

bool contains(const std::vector<D3DFORMAT>& list, D3DFORMAT format) {
  return std::find(list.begin(), list.end(), format) != list.end();
}

}  // namespace

bool AdapterProfile::refuses(D3DFORMAT format) const { return contains(refusedFormats, format); }
bool AdapterProfile::acceptsTexture(D3DFORMAT format) const {
  return !refuses(format) && contains(textureFormats, format);
}
bool AdapterProfile::acceptsRenderTarget(D3DFORMAT format) const {
  return !refuses(format) && contains(renderTargetFormats, format);
}
bool AdapterProfile::acceptsDepth(D3DFORMAT format) const {
  return !refuses(format) && contains(depthFormats, format);
}

AdapterProfile AdapterProfile::desktop() {
  AdapterProfile p;
  p.textureFormats = {
      D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5,  D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5,
      D3DFMT_A4R4G4B4, D3DFMT_X4R4G4B4, D3DFMT_A8,      D3DFMT_A2B10G10R10, D3DFMT_A8B8G8R8,
      D3DFMT_X8B8G8R8, D3DFMT_G16R16, D3DFMT_A2R10G10B10, D3DFMT_A16B16G16R16, D3DFMT_L8,
      D3DFMT_A8L8,     D3DFMT_A4L4,     D3DFMT_L16,     D3DFMT_V8U8,     D3DFMT_L6V5U5,
      D3DFMT_X8L8V8U8, D3DFMT_Q8W8V8U8, D3DFMT_V16U16,  D3DFMT_A2W10V10U10, D3DFMT_Q16W16V16U16,
      D3DFMT_CxV8U8,   D3DFMT_R16F,     D3DFMT_G16R16F, D3DFMT_A16B16G16R16F, D3DFMT_R32F,
      D3DFMT_G32R32F,  D3DFMT_A32B32G32R32F, D3DFMT_UYVY, D3DFMT_YUY2, D3DFMT_R8G8_B8G8,
      D3DFMT_G8R8_G8B8, D3DFMT_DXT1,    D3DFMT_DXT2,    D3DFMT_DXT3,     D3DFMT_DXT4,
      D3DFMT_DXT5,
  };
  p.renderTargetFormats = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_X1R5G5B5,
                           D3DFMT_A1R5G5B5, D3DFMT_A2R10G10B10, D3DFMT_A16B16G16R16F, D3DFMT_R32F};
  p.depthFormats = {D3DFMT_D16, D3DFMT_D16_LOCKABLE};
  p.textureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_PROJECTED |
                  D3DPTEXTURECAPS_CUBEMAP | D3DPTEXTURECAPS_VOLUMEMAP | D3DPTEXTURECAPS_MIPMAP |
                  D3DPTEXTURECAPS_MIPVOLUMEMAP | D3DPTEXTURECAPS_MIPCUBEMAP;
  return p;
}

AdapterProfile AdapterProfile::pow2() {
  AdapterProfile p = desktop();
  p.textureCaps |= D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_CUBEMAP_POW2 | D3DPTEXTURECAPS_VOLUMEMAP_POW2;
  return p;
}

AdapterProfile AdapterProfile::nonPow2Conditional() {
  AdapterProfile p = pow2();
  p.textureCaps |= D3DPTEXTURECAPS_NONPOW2CONDITIONAL;
  return p;
}

AdapterProfile AdapterProfile::squareOnly() {
  AdapterProfile p = desktop();
  p.textureCaps |= D3DPTEXTURECAPS_SQUAREONLY;
  return p;
}

AdapterProfile AdapterProfile::smallMaxima(uint32_t maxWidth, uint32_t maxHeight, uint32_t maxVolume) {
  AdapterProfile p = desktop();
  p.maxTextureWidth = maxWidth;
  p.maxTextureHeight = maxHeight;
  p.maxVolumeExtent = maxVolume;
  return p;
}

AdapterProfile AdapterProfile::aspectLimit(uint32_t ratio) {
  AdapterProfile p = desktop();
  p.maxTextureAspectRatio = ratio;
  return p;
}

AdapterProfile AdapterProfile::refusing(std::vector<D3DFORMAT> formats) {
  AdapterProfile p = desktop();
  p.refusedFormats = std::move(formats);
  return p;
}

AdapterProfile AdapterProfile::noHal() {
  AdapterProfile p = desktop();
  p.halDevice = false;
  return p;
}

AdapterProfile AdapterProfile::noDevice() {
  AdapterProfile p = desktop();
  p.halDevice = false;
  p.refDevice = false;
  return p;
}

AdapterProfile AdapterProfile::noDirect3D() {
  AdapterProfile p = desktop();
  p.direct3d = false;
  return p;
}

void selectAdapterProfile(const AdapterProfile& profile) { detail::control().profile = profile; }
const AdapterProfile& selectedAdapterProfile() { return detail::control().profile; }

// ---- Faults and counters ------------------------------------------------------
namespace detail {

ControlState& control() {
  static ControlState state;
  return state;
}

bool faultFires(FaultPoint point) {
  FaultCounter& f = control().faults[static_cast<size_t>(point)];
  if (f.count == 0) return false;
  if (f.skip > 0) {
    --f.skip;
    return false;
  }
  --f.count;
  ++f.fired;
  return true;
}

namespace {
std::atomic<uint32_t> gLiveObjects{0};
}  // namespace

void objectMade() { ++gLiveObjects; }
void objectDestroyed() { --gLiveObjects; }

}  // namespace detail

void injectFault(FaultPoint point, uint32_t count, uint32_t skip) {
  if (point >= FaultPoint::Count) return;
  auto& f = detail::control().faults[static_cast<size_t>(point)];
  f.count = count;
  f.skip = skip;
}

uint32_t faultsFired(FaultPoint point) {
  if (point >= FaultPoint::Count) return 0;
  return detail::control().faults[static_cast<size_t>(point)].fired;
}

void loseDevice(uint32_t lostPolls) {
  auto& c = detail::control();
  ++c.lossEpoch;
  c.lostPolls = lostPolls;
}

CallCounts callCounts() { return detail::control().calls; }
std::vector<CreateDeviceCall> createDeviceCalls() { return detail::control().createLog; }

void clearFaults() {
  auto& c = detail::control();
  c.faults = {};
  c.calls = {};
  c.createLog.clear();
  c.lostPolls = 0;
}

void resetAdapter() {
  clearFaults();
  auto& c = detail::control();
  c.profile = AdapterProfile::desktop();
  c.mute = {};
}

uint32_t liveObjectCount() { return detail::gLiveObjects.load(); }

// ---- Debug mute -------------------------------------------------------------------
namespace {

void debugSetMute(int32_t mute) {
  auto& log = detail::control().mute;
  ++log.calls;
  log.lastValue = mute;
}

}  // namespace

void registerDebugModule() {
  const DebugSetMuteProc proc = &debugSetMute;
  platform::registerModuleExport("d3d9.dll", "DebugSetMute", reinterpret_cast<platform::ExportedFunction>(proc));
}

MuteLog muteLog() { return detail::control().mute; }

// ---- Texel decoder -----------------------------------------------------------------
std::shared_ptr<TexelDecoder> setTexelDecoder(std::shared_ptr<TexelDecoder> decoder) {
  auto previous = std::move(detail::control().decoder);
  detail::control().decoder = std::move(decoder);
  return previous;
}

}  // namespace nerro::d3d9
