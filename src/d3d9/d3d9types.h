// Plain types, codes and constants of our Direct3D 9 layer. Every subsystem
// may include this header; the interfaces and the software adapter are in
// d3d9.h.
#pragma once

#include <cstdint>

// ---- Results -----------------------------------------------------------
using HRESULT = int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT D3DERR_INVALIDCALL = static_cast<HRESULT>(0x8876086Cu);
constexpr HRESULT D3DERR_NOTAVAILABLE = static_cast<HRESULT>(0x8876086Au);
constexpr HRESULT D3DERR_DEVICELOST = static_cast<HRESULT>(0x88760868u);
constexpr HRESULT D3DERR_DEVICENOTRESET = static_cast<HRESULT>(0x88760869u);
constexpr HRESULT D3DERR_OUTOFVIDEOMEMORY = static_cast<HRESULT>(0x8876017Cu);
constexpr HRESULT D3DERR_WASSTILLDRAWING = static_cast<HRESULT>(0x8876021Cu);
// No decoder accepts an image.
constexpr HRESULT ERR_INVALIDDATA = static_cast<HRESULT>(0x88760B59u);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

using BOOL = int32_t;
constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// ---- Pixel formats -----------------------------------------------------
constexpr uint32_t MAKEFOURCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

enum D3DFORMAT : uint32_t {
  D3DFMT_UNKNOWN = 0,
  D3DFMT_R8G8B8 = 20,
  D3DFMT_A8R8G8B8 = 21,
  D3DFMT_X8R8G8B8 = 22,
  D3DFMT_R5G6B5 = 23,
  D3DFMT_X1R5G5B5 = 24,
  D3DFMT_A1R5G5B5 = 25,
  D3DFMT_A4R4G4B4 = 26,
  D3DFMT_R3G3B2 = 27,
  D3DFMT_A8 = 28,
  D3DFMT_A8R3G3B2 = 29,
  D3DFMT_X4R4G4B4 = 30,
  D3DFMT_A2B10G10R10 = 31,
  D3DFMT_A8B8G8R8 = 32,
  D3DFMT_X8B8G8R8 = 33,
  D3DFMT_G16R16 = 34,
  D3DFMT_A2R10G10B10 = 35,
  D3DFMT_A16B16G16R16 = 36,
  D3DFMT_A8P8 = 40,
  D3DFMT_P8 = 41,
  D3DFMT_L8 = 50,
  D3DFMT_A8L8 = 51,
  D3DFMT_A4L4 = 52,
  D3DFMT_V8U8 = 60,
  D3DFMT_L6V5U5 = 61,
  D3DFMT_X8L8V8U8 = 62,
  D3DFMT_Q8W8V8U8 = 63,
  D3DFMT_V16U16 = 64,
  D3DFMT_A2W10V10U10 = 67,
  D3DFMT_D16_LOCKABLE = 70,
  D3DFMT_D32 = 71,
  D3DFMT_D15S1 = 73,
  D3DFMT_D24S8 = 75,
  D3DFMT_D24X8 = 77,
  D3DFMT_D24X4S4 = 79,
  D3DFMT_D16 = 80,
  D3DFMT_L16 = 81,
  D3DFMT_D32F_LOCKABLE = 82,
  D3DFMT_D24FS8 = 83,
  D3DFMT_VERTEXDATA = 100,
  D3DFMT_INDEX16 = 101,
  D3DFMT_INDEX32 = 102,
  D3DFMT_Q16W16V16U16 = 110,
  D3DFMT_R16F = 111,
  D3DFMT_G16R16F = 112,
  D3DFMT_A16B16G16R16F = 113,
  D3DFMT_R32F = 114,
  D3DFMT_G32R32F = 115,
  D3DFMT_A32B32G32R32F = 116,
  D3DFMT_CxV8U8 = 117,
  D3DFMT_UYVY = MAKEFOURCC('U', 'Y', 'V', 'Y'),
  D3DFMT_R8G8_B8G8 = MAKEFOURCC('R', 'G', 'B', 'G'),
  D3DFMT_YUY2 = MAKEFOURCC('Y', 'U', 'Y', '2'),
  D3DFMT_G8R8_G8B8 = MAKEFOURCC('G', 'R', 'G', 'B'),
  D3DFMT_DXT1 = MAKEFOURCC('D', 'X', 'T', '1'),
  D3DFMT_DXT2 = MAKEFOURCC('D', 'X', 'T', '2'),
  D3DFMT_DXT3 = MAKEFOURCC('D', 'X', 'T', '3'),
  D3DFMT_DXT4 = MAKEFOURCC('D', 'X', 'T', '4'),
  D3DFMT_DXT5 = MAKEFOURCC('D', 'X', 'T', '5'),
  D3DFMT_MULTI2_ARGB8 = MAKEFOURCC('M', 'E', 'T', '1'),
  D3DFMT_FORCE_DWORD = 0x7FFFFFFF,
};

// Internal formats Direct3D lacks, carried between the image decoders and
// the pixel codecs: 16-bit alpha + 16-bit luminance, and three 16-bit
// colour words (48 bits a pixel).
constexpr D3DFORMAT D3DFMT_INTERNAL_AL16 = static_cast<D3DFORMAT>(MAKEFOURCC('A', 'L', '1', '6'));
constexpr D3DFORMAT D3DFMT_INTERNAL_R16 = static_cast<D3DFORMAT>(MAKEFOURCC(' ', 'R', '1', '6'));

// ---- Resources ---------------------------------------------------------
enum D3DPOOL : uint32_t {
  D3DPOOL_DEFAULT = 0,
  D3DPOOL_MANAGED = 1,
  D3DPOOL_SYSTEMMEM = 2,
  D3DPOOL_SCRATCH = 3,
};

enum D3DRESOURCETYPE : uint32_t {
  D3DRTYPE_SURFACE = 1,
  D3DRTYPE_VOLUME = 2,
  D3DRTYPE_TEXTURE = 3,
  D3DRTYPE_VOLUMETEXTURE = 4,
  D3DRTYPE_CUBETEXTURE = 5,
  D3DRTYPE_VERTEXBUFFER = 6,
  D3DRTYPE_INDEXBUFFER = 7,
};

enum D3DCUBEMAP_FACES : uint32_t {
  D3DCUBEMAP_FACE_POSITIVE_X = 0,
  D3DCUBEMAP_FACE_NEGATIVE_X = 1,
  D3DCUBEMAP_FACE_POSITIVE_Y = 2,
  D3DCUBEMAP_FACE_NEGATIVE_Y = 3,
  D3DCUBEMAP_FACE_POSITIVE_Z = 4,
  D3DCUBEMAP_FACE_NEGATIVE_Z = 5,
};

enum D3DMULTISAMPLE_TYPE : uint32_t { D3DMULTISAMPLE_NONE = 0 };

constexpr uint32_t D3DUSAGE_RENDERTARGET = 0x1;
constexpr uint32_t D3DUSAGE_DEPTHSTENCIL = 0x2;
constexpr uint32_t D3DUSAGE_DYNAMIC = 0x200;
constexpr uint32_t D3DUSAGE_AUTOGENMIPMAP = 0x400;
constexpr uint32_t D3DUSAGE_DMAP = 0x4000;

constexpr uint32_t D3DLOCK_READONLY = 0x10;
constexpr uint32_t D3DLOCK_DISCARD = 0x2000;
constexpr uint32_t D3DLOCK_NOOVERWRITE = 0x1000;
constexpr uint32_t D3DLOCK_NOSYSLOCK = 0x800;
constexpr uint32_t D3DLOCK_DONOTWAIT = 0x4000;
constexpr uint32_t D3DLOCK_NO_DIRTY_UPDATE = 0x8000;

// ---- Plain records -----------------------------------------------------
using D3DCOLOR = uint32_t;  // 0xAARRGGBB

struct D3DCOLORVALUE {
  float r, g, b, a;
};

struct PALETTEENTRY {
  uint8_t peRed, peGreen, peBlue, peFlags;
};

struct RECT {
  int32_t left, top, right, bottom;
};

struct POINT {
  int32_t x, y;
};

struct D3DBOX {
  uint32_t Left, Top, Right, Bottom, Front, Back;
};

struct D3DVECTOR {
  float x, y, z;
};

struct D3DMATRIX {
  union {
    struct {
      float _11, _12, _13, _14;
      float _21, _22, _23, _24;
      float _31, _32, _33, _34;
      float _41, _42, _43, _44;
    };
    float m[4][4];
  };
};

struct D3DLOCKED_RECT {
  int32_t Pitch;
  void* pBits;
};

struct D3DLOCKED_BOX {
  int32_t RowPitch;
  int32_t SlicePitch;
  void* pBits;
};

struct D3DSURFACE_DESC {
  D3DFORMAT Format;
  D3DRESOURCETYPE Type;
  uint32_t Usage;
  D3DPOOL Pool;
  D3DMULTISAMPLE_TYPE MultiSampleType;
  uint32_t MultiSampleQuality;
  uint32_t Width;
  uint32_t Height;
};

struct D3DVOLUME_DESC {
  D3DFORMAT Format;
  D3DRESOURCETYPE Type;
  uint32_t Usage;
  D3DPOOL Pool;
  uint32_t Width;
  uint32_t Height;
  uint32_t Depth;
};

// ---- Fixed-function pipeline state ------------------------------------
enum D3DPRIMITIVETYPE : uint32_t {
  D3DPT_POINTLIST = 1,
  D3DPT_LINELIST = 2,
  D3DPT_LINESTRIP = 3,
  D3DPT_TRIANGLELIST = 4,
  D3DPT_TRIANGLESTRIP = 5,
  D3DPT_TRIANGLEFAN = 6,
};

enum D3DTRANSFORMSTATETYPE : uint32_t {
  D3DTS_VIEW = 2,
  D3DTS_PROJECTION = 3,
  D3DTS_TEXTURE0 = 16,
  D3DTS_WORLD = 256,
};

enum D3DRENDERSTATETYPE : uint32_t {
  D3DRS_ZENABLE = 7,
  D3DRS_FILLMODE = 8,
  D3DRS_SHADEMODE = 9,
  D3DRS_ZWRITEENABLE = 14,
  D3DRS_ALPHATESTENABLE = 15,
  D3DRS_LASTPIXEL = 16,
  D3DRS_SRCBLEND = 19,
  D3DRS_DESTBLEND = 20,
  D3DRS_CULLMODE = 22,
  D3DRS_ZFUNC = 23,
  D3DRS_ALPHAREF = 24,
  D3DRS_ALPHAFUNC = 25,
  D3DRS_DITHERENABLE = 26,
  D3DRS_ALPHABLENDENABLE = 27,
  D3DRS_FOGENABLE = 28,
  D3DRS_SPECULARENABLE = 29,
  D3DRS_STENCILENABLE = 52,
  D3DRS_TEXTUREFACTOR = 60,
  D3DRS_LIGHTING = 137,
  D3DRS_AMBIENT = 139,
  D3DRS_COLORVERTEX = 141,
  D3DRS_BLENDOP = 171,
};

enum D3DTEXTURESTAGESTATETYPE : uint32_t {
  D3DTSS_COLOROP = 1,
  D3DTSS_COLORARG1 = 2,
  D3DTSS_COLORARG2 = 3,
  D3DTSS_ALPHAOP = 4,
  D3DTSS_ALPHAARG1 = 5,
  D3DTSS_ALPHAARG2 = 6,
  D3DTSS_TEXCOORDINDEX = 11,
  D3DTSS_TEXTURETRANSFORMFLAGS = 24,
  D3DTSS_RESULTARG = 28,
};

enum D3DSAMPLERSTATETYPE : uint32_t {
  D3DSAMP_ADDRESSU = 1,
  D3DSAMP_ADDRESSV = 2,
  D3DSAMP_ADDRESSW = 3,
  D3DSAMP_BORDERCOLOR = 4,
  D3DSAMP_MAGFILTER = 5,
  D3DSAMP_MINFILTER = 6,
  D3DSAMP_MIPFILTER = 7,
  D3DSAMP_MIPMAPLODBIAS = 8,
  D3DSAMP_MAXMIPLEVEL = 9,
  D3DSAMP_MAXANISOTROPY = 10,
};

enum D3DTEXTUREOP : uint32_t {
  D3DTOP_DISABLE = 1,
  D3DTOP_SELECTARG1 = 2,
  D3DTOP_SELECTARG2 = 3,
  D3DTOP_MODULATE = 4,
  D3DTOP_MODULATE2X = 5,
  D3DTOP_MODULATE4X = 6,
  D3DTOP_ADD = 7,
  D3DTOP_ADDSIGNED = 8,
  D3DTOP_ADDSIGNED2X = 9,
  D3DTOP_SUBTRACT = 10,
};

// Texture-stage arguments: a source in the low bits, modifiers above.
constexpr uint32_t D3DTA_SELECTMASK = 0x0F;
constexpr uint32_t D3DTA_DIFFUSE = 0x00;
constexpr uint32_t D3DTA_CURRENT = 0x01;
constexpr uint32_t D3DTA_TEXTURE = 0x02;
constexpr uint32_t D3DTA_TFACTOR = 0x03;
constexpr uint32_t D3DTA_SPECULAR = 0x04;
constexpr uint32_t D3DTA_TEMP = 0x05;
constexpr uint32_t D3DTA_CONSTANT = 0x06;
constexpr uint32_t D3DTA_COMPLEMENT = 0x10;
constexpr uint32_t D3DTA_ALPHAREPLICATE = 0x20;

enum D3DBLEND : uint32_t {
  D3DBLEND_ZERO = 1,
  D3DBLEND_ONE = 2,
  D3DBLEND_SRCCOLOR = 3,
  D3DBLEND_INVSRCCOLOR = 4,
  D3DBLEND_SRCALPHA = 5,
  D3DBLEND_INVSRCALPHA = 6,
  D3DBLEND_DESTALPHA = 7,
  D3DBLEND_INVDESTALPHA = 8,
  D3DBLEND_DESTCOLOR = 9,
  D3DBLEND_INVDESTCOLOR = 10,
};

enum D3DBLENDOP : uint32_t {
  D3DBLENDOP_ADD = 1,
};

enum D3DCMPFUNC : uint32_t {
  D3DCMP_NEVER = 1,
  D3DCMP_LESS = 2,
  D3DCMP_EQUAL = 3,
  D3DCMP_LESSEQUAL = 4,
  D3DCMP_GREATER = 5,
  D3DCMP_NOTEQUAL = 6,
  D3DCMP_GREATEREQUAL = 7,
  D3DCMP_ALWAYS = 8,
};

enum D3DZBUFFERTYPE : uint32_t {
  D3DZB_FALSE = 0,
  D3DZB_TRUE = 1,
  D3DZB_USEW = 2,
};

enum D3DCULL : uint32_t {
  D3DCULL_NONE = 1,
  D3DCULL_CW = 2,
  D3DCULL_CCW = 3,
};

enum D3DSHADEMODE : uint32_t {
  D3DSHADE_FLAT = 1,
  D3DSHADE_GOURAUD = 2,
  D3DSHADE_PHONG = 3,
};

enum D3DTEXTUREFILTERTYPE : uint32_t {
  D3DTEXF_NONE = 0,
  D3DTEXF_POINT = 1,
  D3DTEXF_LINEAR = 2,
  D3DTEXF_ANISOTROPIC = 3,
};

enum D3DTEXTUREADDRESS : uint32_t {
  D3DTADDRESS_WRAP = 1,
  D3DTADDRESS_MIRROR = 2,
  D3DTADDRESS_CLAMP = 3,
  D3DTADDRESS_BORDER = 4,
  D3DTADDRESS_MIRRORONCE = 5,
};

// Flexible vertex format bits.
constexpr uint32_t D3DFVF_POSITION_MASK = 0x400E;
constexpr uint32_t D3DFVF_XYZ = 0x002;
constexpr uint32_t D3DFVF_XYZRHW = 0x004;
constexpr uint32_t D3DFVF_XYZB1 = 0x006;
constexpr uint32_t D3DFVF_XYZB2 = 0x008;
constexpr uint32_t D3DFVF_XYZB3 = 0x00A;
constexpr uint32_t D3DFVF_XYZB4 = 0x00C;
constexpr uint32_t D3DFVF_XYZB5 = 0x00E;
constexpr uint32_t D3DFVF_XYZW = 0x4002;
constexpr uint32_t D3DFVF_NORMAL = 0x010;
constexpr uint32_t D3DFVF_PSIZE = 0x020;
constexpr uint32_t D3DFVF_DIFFUSE = 0x040;
constexpr uint32_t D3DFVF_SPECULAR = 0x080;
constexpr uint32_t D3DFVF_TEXCOUNT_MASK = 0xF00;
constexpr uint32_t D3DFVF_TEXCOUNT_SHIFT = 8;
constexpr uint32_t D3DFVF_TEX0 = 0x000;
constexpr uint32_t D3DFVF_TEX1 = 0x100;
constexpr uint32_t D3DFVF_TEX2 = 0x200;
constexpr uint32_t D3DFVF_LASTBETA_UBYTE4 = 0x1000;
constexpr uint32_t D3DFVF_LASTBETA_D3DCOLOR = 0x8000;

constexpr uint32_t D3DCLEAR_TARGET = 0x1;
constexpr uint32_t D3DCLEAR_ZBUFFER = 0x2;
constexpr uint32_t D3DCLEAR_STENCIL = 0x4;

struct D3DVIEWPORT9 {
  uint32_t X, Y;
  uint32_t Width, Height;
  float MinZ, MaxZ;
};
