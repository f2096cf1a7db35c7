// Controls of the software adapter behind Direct3DCreate9: which adapter it
// pretends to be (a profile), which calls should fail (faults), how many of
// its objects are alive, the debug-mute observer, and the texel decoder the
// rasteriser reads textures through. Tests and higher layers use this
// header; the library itself needs only d3d9.h.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "d3d9/d3d9.h"

namespace nerro::d3d9 {

// ---- Adapter profiles ------------------------------------------------------
// A plain record of what the adapter reports and accepts. A Direct3D object
// copies the profile selected when Direct3DCreate9 runs; the devices it makes
// share that copy.
struct AdapterProfile {
  // Direct3DCreate9 returns null when false.
  bool direct3d = true;
  // Device types CreateDevice accepts, and the vertex-processing flags
  // (D3DCREATE_*_VERTEXPROCESSING) each accepts.
  bool halDevice = true;
  bool refDevice = true;
  uint32_t halVertexProcessing = 0xE0;  // software, hardware and mixed
  uint32_t refVertexProcessing = 0xE0;

  D3DDISPLAYMODE displayMode{1024, 768, 60, D3DFMT_X8R8G8B8};

  // Formats CheckDeviceFormat accepts as textures (2D, cube and volume) and
  // plain surfaces; as render targets and back buffers; as depth buffers.
  std::vector<D3DFORMAT> textureFormats;
  std::vector<D3DFORMAT> renderTargetFormats;
  std::vector<D3DFORMAT> depthFormats;
  // Formats refused whatever the lists above say.
  std::vector<D3DFORMAT> refusedFormats;

  // Capabilities (GetDeviceCaps); the fields not named here are fixed.
  uint32_t textureCaps = 0;
  uint32_t maxTextureWidth = 4096;
  uint32_t maxTextureHeight = 4096;
  uint32_t maxVolumeExtent = 512;
  uint32_t maxTextureAspectRatio = 0;  // 0: no limit
  // Row pitches of resources are multiples of this many bytes (a power of
  // two, at least 1): tests raise it to catch code that assumes tight rows.
  uint32_t pitchAlignment = 4;
  // Largest back buffer a device accepts, in each dimension.
  uint32_t maxBackBufferSize = 8192;

  // Accepts a format for a texture or surface / render target / depth use.
  bool acceptsTexture(D3DFORMAT format) const;
  bool acceptsRenderTarget(D3DFORMAT format) const;
  bool acceptsDepth(D3DFORMAT format) const;
  bool refuses(D3DFORMAT format) const;

  // A capable desktop device: the common colour, luminance, signed, float,
  // pixel-pair and DXT1-5 formats; mip maps, cube and volume maps; no
  // power-of-two rule; 4096 x 4096 textures.
  static AdapterProfile desktop();
  // desktop() with D3DPTEXTURECAPS_POW2 (and the cube and volume variants).
  static AdapterProfile pow2();
  // pow2() with D3DPTEXTURECAPS_NONPOW2CONDITIONAL.
  static AdapterProfile nonPow2Conditional();
  // desktop() with D3DPTEXTURECAPS_SQUAREONLY.
  static AdapterProfile squareOnly();
  // desktop() with smaller maxima.
  static AdapterProfile smallMaxima(uint32_t maxWidth, uint32_t maxHeight, uint32_t maxVolume = 64);
  // desktop() with MaxTextureAspectRatio = ratio.
  static AdapterProfile aspectLimit(uint32_t ratio);
  // desktop() refusing the given formats everywhere.
  static AdapterProfile refusing(std::vector<D3DFORMAT> formats);
  // desktop() whose hardware device cannot be made (the reference device can).
  static AdapterProfile noHal();
  // desktop() on which no device of any type can be made.
  static AdapterProfile noDevice();
  // No Direct3D at all: Direct3DCreate9 returns null.
  static AdapterProfile noDirect3D();
};

// The profile the next Direct3DCreate9 copies (desktop() at start).
void selectAdapterProfile(const AdapterProfile& profile);
const AdapterProfile& selectedAdapterProfile();

// ---- Faults ----------------------------------------------------------------
// A fault fires on a call that passed its own checks (a call refused for
// its arguments or by the profile does not use one up).
enum class FaultPoint : uint32_t {
  CreateDevice,         // IDirect3D9::CreateDevice: D3DERR_NOTAVAILABLE
  Reset,                // IDirect3DDevice9::Reset: D3DERR_DEVICELOST (device stays not-reset)
  CreateResource,       // every Create* of the device: D3DERR_OUTOFVIDEOMEMORY
  Lock,                 // LockRect / LockBox: D3DERR_INVALIDCALL
  GetRenderTargetData,  // D3DERR_DEVICELOST
  GetBackBuffer,        // D3DERR_INVALIDCALL
  GetViewport,          // D3DERR_INVALIDCALL
  Copy,                 // UpdateSurface, UpdateTexture, StretchRect: D3DERR_INVALIDCALL
  Count
};

// The next `count` calls at that point fail, after `skip` calls that pass.
void injectFault(FaultPoint point, uint32_t count = 1, uint32_t skip = 0);
// How many calls failed at that point since the last clearFaults.
uint32_t faultsFired(FaultPoint point);

// Every live device becomes lost: TestCooperativeLevel answers
// D3DERR_DEVICELOST for `lostPolls` calls, then D3DERR_DEVICENOTRESET until
// a Reset succeeds. Reset fails (D3DERR_DEVICELOST) while the device is
// still in the lost phase.
void loseDevice(uint32_t lostPolls = 1);

// Counts of device calls, for tests that check what was asked.
struct CallCounts {
  uint32_t direct3DCreate = 0;
  uint32_t createDevice = 0;     // every CreateDevice call, failed or not
  uint32_t devicesMade = 0;      // successful CreateDevice calls
  uint32_t reset = 0;
  uint32_t checkDeviceFormat = 0;
  uint32_t drawPrimitive = 0;
  uint32_t clear = 0;
};
CallCounts callCounts();

// The arguments of every CreateDevice call since the last clearFaults, in
// order (device type, behaviour flags, back-buffer format).
struct CreateDeviceCall {
  D3DDEVTYPE deviceType;
  uint32_t behaviorFlags;
  D3DFORMAT backBufferFormat;
  bool succeeded;
};
std::vector<CreateDeviceCall> createDeviceCalls();

// Clears faults, the lost state of future devices, counters and the call
// log.
void clearFaults();

// Back to the start: desktop() profile, no faults, mute count 0.
void resetAdapter();

// ---- Live objects ------------------------------------------------------------
// Objects of the adapter alive now: Direct3D objects, devices, textures,
// stand-alone surfaces and the devices' back and depth buffers.
uint32_t liveObjectCount();

// ---- Debug mute ----------------------------------------------------------------
// The adapter registers "DebugSetMute" of module "d3d9.dll" in the platform
// module registry (DebugSetMuteProc, d3d9types.h) when its first Direct3D
// object is made, or when this is called.
void registerDebugModule();
struct MuteLog {
  uint32_t calls = 0;      // calls of DebugSetMute
  int32_t lastValue = 0;   // the last value passed
};
MuteLog muteLog();

// ---- Texel decoder -------------------------------------------------------------
// Turns one level of any texture format into A8R8G8B8 pixels for the
// rasteriser. The adapter decodes A8R8G8B8 and X8R8G8B8 itself; a higher
// layer installs a decoder for the rest (the pixel codecs). Levels are
// decoded at first draw and cached until the level is locked again.
class TexelDecoder {
 public:
  virtual ~TexelDecoder() = default;
  // width x height pixels of format at bits (rows pitch bytes apart; for
  // block formats a row of 4 x 4 blocks) into argbOut (width x height,
  // tightly packed). False when the format cannot be read.
  virtual bool decodeLevel(D3DFORMAT format, const uint8_t* bits, int32_t pitch, uint32_t width,
                           uint32_t height, uint32_t* argbOut) = 0;
};
// Installs the decoder every device uses (null removes it); returns the old one.
std::shared_ptr<TexelDecoder> setTexelDecoder(std::shared_ptr<TexelDecoder> decoder);

// The decoded A8R8G8B8 pixels of level `level` of a 2D texture made by the
// adapter, as the rasteriser sees them: null when the level cannot be read.
// Valid until the level is locked or the texture dies.
const uint32_t* decodedTexels(IDirect3DTexture9* texture, uint32_t level, uint32_t* width, uint32_t* height);

// ---- Format sizes ----------------------------------------------------------------
// Bytes of one row of `width` pixels of format (a row of 4 x 4 blocks for
// DXT1-5, whole pixel pairs for the pair formats), before pitch alignment;
// 0 for a format the adapter cannot store.
uint32_t formatRowBytes(D3DFORMAT format, uint32_t width);
// Number of pixel rows one stored row stands for: 4 for DXT1-5, else 1.
uint32_t formatRowHeight(D3DFORMAT format);

}  // namespace nerro::d3d9
