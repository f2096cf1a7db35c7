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
  D3DTS_TEXTURE1 = 17,
  D3DTS_TEXTURE2 = 18,
  D3DTS_TEXTURE3 = 19,
  D3DTS_TEXTURE4 = 20,
  D3DTS_TEXTURE5 = 21,
  D3DTS_TEXTURE6 = 22,
  D3DTS_TEXTURE7 = 23,
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
  D3DRS_FOGCOLOR = 34,
  D3DRS_FOGTABLEMODE = 35,
  D3DRS_FOGSTART = 36,
  D3DRS_FOGEND = 37,
  D3DRS_FOGDENSITY = 38,
  D3DRS_RANGEFOGENABLE = 48,
  D3DRS_STENCILFAIL = 53,
  D3DRS_STENCILZFAIL = 54,
  D3DRS_STENCILPASS = 55,
  D3DRS_STENCILFUNC = 56,
  D3DRS_STENCILREF = 57,
  D3DRS_STENCILMASK = 58,
  D3DRS_STENCILWRITEMASK = 59,
  D3DRS_WRAP0 = 128,
  D3DRS_WRAP1 = 129,
  D3DRS_WRAP2 = 130,
  D3DRS_WRAP3 = 131,
  D3DRS_WRAP4 = 132,
  D3DRS_WRAP5 = 133,
  D3DRS_WRAP6 = 134,
  D3DRS_WRAP7 = 135,
  D3DRS_CLIPPING = 136,
  D3DRS_FOGVERTEXMODE = 140,
  D3DRS_LOCALVIEWER = 142,
  D3DRS_NORMALIZENORMALS = 143,
  D3DRS_DIFFUSEMATERIALSOURCE = 145,
  D3DRS_SPECULARMATERIALSOURCE = 146,
  D3DRS_AMBIENTMATERIALSOURCE = 147,
  D3DRS_EMISSIVEMATERIALSOURCE = 148,
  D3DRS_VERTEXBLEND = 151,
  D3DRS_CLIPPLANEENABLE = 152,
  D3DRS_POINTSIZE = 154,
  D3DRS_POINTSIZE_MIN = 155,
  D3DRS_POINTSPRITEENABLE = 156,
  D3DRS_POINTSCALEENABLE = 157,
  D3DRS_POINTSCALE_A = 158,
  D3DRS_POINTSCALE_B = 159,
  D3DRS_POINTSCALE_C = 160,
  D3DRS_MULTISAMPLEANTIALIAS = 161,
  D3DRS_MULTISAMPLEMASK = 162,
  D3DRS_PATCHEDGESTYLE = 163,
  D3DRS_DEBUGMONITORTOKEN = 165,
  D3DRS_POINTSIZE_MAX = 166,
  D3DRS_INDEXEDVERTEXBLENDENABLE = 167,
  D3DRS_COLORWRITEENABLE = 168,
  D3DRS_TWEENFACTOR = 170,
  D3DRS_POSITIONDEGREE = 172,
  D3DRS_NORMALDEGREE = 173,
  D3DRS_SCISSORTESTENABLE = 174,
  D3DRS_SLOPESCALEDEPTHBIAS = 175,
  D3DRS_ANTIALIASEDLINEENABLE = 176,
  D3DRS_MINTESSELLATIONLEVEL = 178,
  D3DRS_MAXTESSELLATIONLEVEL = 179,
  D3DRS_ADAPTIVETESS_X = 180,
  D3DRS_ADAPTIVETESS_Y = 181,
  D3DRS_ADAPTIVETESS_Z = 182,
  D3DRS_ADAPTIVETESS_W = 183,
  D3DRS_ENABLEADAPTIVETESSELLATION = 184,
  D3DRS_TWOSIDEDSTENCILMODE = 185,
  D3DRS_CCW_STENCILFAIL = 186,
  D3DRS_CCW_STENCILZFAIL = 187,
  D3DRS_CCW_STENCILPASS = 188,
  D3DRS_CCW_STENCILFUNC = 189,
  D3DRS_COLORWRITEENABLE1 = 190,
  D3DRS_COLORWRITEENABLE2 = 191,
  D3DRS_COLORWRITEENABLE3 = 192,
  D3DRS_BLENDFACTOR = 193,
  D3DRS_SRGBWRITEENABLE = 194,
  D3DRS_DEPTHBIAS = 195,
  D3DRS_WRAP8 = 198,
  D3DRS_WRAP9 = 199,
  D3DRS_WRAP10 = 200,
  D3DRS_WRAP11 = 201,
  D3DRS_WRAP12 = 202,
  D3DRS_WRAP13 = 203,
  D3DRS_WRAP14 = 204,
  D3DRS_WRAP15 = 205,
  D3DRS_SEPARATEALPHABLENDENABLE = 206,
  D3DRS_SRCBLENDALPHA = 207,
  D3DRS_DESTBLENDALPHA = 208,
  D3DRS_BLENDOPALPHA = 209,
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
  D3DTSS_BUMPENVMAT00 = 7,
  D3DTSS_BUMPENVMAT01 = 8,
  D3DTSS_BUMPENVMAT10 = 9,
  D3DTSS_BUMPENVMAT11 = 10,
  D3DTSS_BUMPENVLSCALE = 22,
  D3DTSS_BUMPENVLOFFSET = 23,
  D3DTSS_COLORARG0 = 26,
  D3DTSS_ALPHAARG0 = 27,
  D3DTSS_CONSTANT = 32,
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
  D3DSAMP_SRGBTEXTURE = 11,
  D3DSAMP_ELEMENTINDEX = 12,
  D3DSAMP_DMAPOFFSET = 13,
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
  D3DTOP_ADDSMOOTH = 11,
  D3DTOP_BLENDDIFFUSEALPHA = 12,
  D3DTOP_BLENDTEXTUREALPHA = 13,
  D3DTOP_BLENDFACTORALPHA = 14,
  D3DTOP_BLENDTEXTUREALPHAPM = 15,
  D3DTOP_BLENDCURRENTALPHA = 16,
  D3DTOP_PREMODULATE = 17,
  D3DTOP_MODULATEALPHA_ADDCOLOR = 18,
  D3DTOP_MODULATECOLOR_ADDALPHA = 19,
  D3DTOP_MODULATEINVALPHA_ADDCOLOR = 20,
  D3DTOP_MODULATEINVCOLOR_ADDALPHA = 21,
  D3DTOP_BUMPENVMAP = 22,
  D3DTOP_BUMPENVMAPLUMINANCE = 23,
  D3DTOP_DOTPRODUCT3 = 24,
  D3DTOP_MULTIPLYADD = 25,
  D3DTOP_LERP = 26,
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
  D3DBLEND_SRCALPHASAT = 11,
  D3DBLEND_BOTHSRCALPHA = 12,
  D3DBLEND_BOTHINVSRCALPHA = 13,
  D3DBLEND_BLENDFACTOR = 14,
  D3DBLEND_INVBLENDFACTOR = 15,
};

enum D3DBLENDOP : uint32_t {
  D3DBLENDOP_ADD = 1,
  D3DBLENDOP_SUBTRACT = 2,
  D3DBLENDOP_REVSUBTRACT = 3,
  D3DBLENDOP_MIN = 4,
  D3DBLENDOP_MAX = 5,
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
  D3DTEXF_PYRAMIDALQUAD = 6,
  D3DTEXF_GAUSSIANQUAD = 7,
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

// ---- More result codes -------------------------------------------------
constexpr HRESULT D3DERR_WRONGTEXTUREFORMAT = static_cast<HRESULT>(0x88760818u);
constexpr HRESULT D3DERR_UNSUPPORTEDCOLOROPERATION = static_cast<HRESULT>(0x88760819u);
constexpr HRESULT D3DERR_DRIVERINTERNALERROR = static_cast<HRESULT>(0x88760827u);
constexpr HRESULT D3DERR_NOTFOUND = static_cast<HRESULT>(0x88760866u);
constexpr HRESULT D3DERR_MOREDATA = static_cast<HRESULT>(0x88760867u);
constexpr HRESULT D3DERR_DRIVERINVALIDCALL = static_cast<HRESULT>(0x8876086Du);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT D3DOK_NOAUTOGEN = static_cast<HRESULT>(0x0876086Fu);

// ---- Devices and presentation -----------------------------------------
constexpr uint32_t D3D_SDK_VERSION = 32;
constexpr uint32_t D3DADAPTER_DEFAULT = 0;

enum D3DDEVTYPE : uint32_t {
  D3DDEVTYPE_HAL = 1,
  D3DDEVTYPE_REF = 2,
  D3DDEVTYPE_SW = 3,
  D3DDEVTYPE_NULLREF = 4,
};

// Behaviour flags of CreateDevice.
constexpr uint32_t D3DCREATE_FPU_PRESERVE = 0x2;
constexpr uint32_t D3DCREATE_MULTITHREADED = 0x4;
constexpr uint32_t D3DCREATE_PUREDEVICE = 0x10;
constexpr uint32_t D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x20;
constexpr uint32_t D3DCREATE_HARDWARE_VERTEXPROCESSING = 0x40;
constexpr uint32_t D3DCREATE_MIXED_VERTEXPROCESSING = 0x80;
constexpr uint32_t D3DCREATE_DISABLE_DRIVER_MANAGEMENT = 0x100;
constexpr uint32_t D3DCREATE_ADAPTERGROUP_DEVICE = 0x200;

enum D3DSWAPEFFECT : uint32_t {
  D3DSWAPEFFECT_DISCARD = 1,
  D3DSWAPEFFECT_FLIP = 2,
  D3DSWAPEFFECT_COPY = 3,
};

constexpr uint32_t D3DPRESENTFLAG_LOCKABLE_BACKBUFFER = 0x1;
constexpr uint32_t D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL = 0x2;
constexpr uint32_t D3DPRESENT_INTERVAL_DEFAULT = 0x0;
constexpr uint32_t D3DPRESENT_INTERVAL_ONE = 0x1;
constexpr uint32_t D3DPRESENT_INTERVAL_IMMEDIATE = 0x80000000u;

enum D3DBACKBUFFER_TYPE : uint32_t {
  D3DBACKBUFFER_TYPE_MONO = 0,
  D3DBACKBUFFER_TYPE_LEFT = 1,
  D3DBACKBUFFER_TYPE_RIGHT = 2,
};

// ---- Usage bits beyond those above -------------------------------------
constexpr uint32_t D3DUSAGE_WRITEONLY = 0x8;
constexpr uint32_t D3DUSAGE_SOFTWAREPROCESSING = 0x10;
constexpr uint32_t D3DUSAGE_DONOTCLIP = 0x20;
constexpr uint32_t D3DUSAGE_POINTS = 0x40;
constexpr uint32_t D3DUSAGE_RTPATCHES = 0x80;
constexpr uint32_t D3DUSAGE_NPATCHES = 0x100;
constexpr uint32_t D3DUSAGE_QUERY_LEGACYBUMPMAP = 0x8000;
constexpr uint32_t D3DUSAGE_QUERY_SRGBREAD = 0x10000;
constexpr uint32_t D3DUSAGE_QUERY_FILTER = 0x20000;
constexpr uint32_t D3DUSAGE_QUERY_SRGBWRITE = 0x40000;
constexpr uint32_t D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING = 0x80000;
constexpr uint32_t D3DUSAGE_QUERY_VERTEXTEXTURE = 0x100000;
constexpr uint32_t D3DUSAGE_QUERY_WRAPANDMIP = 0x200000;

// ---- Capability bits ---------------------------------------------------
// D3DCAPS9::TextureCaps
constexpr uint32_t D3DPTEXTURECAPS_PERSPECTIVE = 0x1;
constexpr uint32_t D3DPTEXTURECAPS_POW2 = 0x2;
constexpr uint32_t D3DPTEXTURECAPS_ALPHA = 0x4;
constexpr uint32_t D3DPTEXTURECAPS_SQUAREONLY = 0x20;
constexpr uint32_t D3DPTEXTURECAPS_TEXREPEATNOTSCALEDBYSIZE = 0x40;
constexpr uint32_t D3DPTEXTURECAPS_ALPHAPALETTE = 0x80;
constexpr uint32_t D3DPTEXTURECAPS_NONPOW2CONDITIONAL = 0x100;
constexpr uint32_t D3DPTEXTURECAPS_PROJECTED = 0x400;
constexpr uint32_t D3DPTEXTURECAPS_CUBEMAP = 0x800;
constexpr uint32_t D3DPTEXTURECAPS_VOLUMEMAP = 0x2000;
constexpr uint32_t D3DPTEXTURECAPS_MIPMAP = 0x4000;
constexpr uint32_t D3DPTEXTURECAPS_MIPVOLUMEMAP = 0x8000;
constexpr uint32_t D3DPTEXTURECAPS_MIPCUBEMAP = 0x10000;
constexpr uint32_t D3DPTEXTURECAPS_CUBEMAP_POW2 = 0x20000;
constexpr uint32_t D3DPTEXTURECAPS_VOLUMEMAP_POW2 = 0x40000;
constexpr uint32_t D3DPTEXTURECAPS_NOPROJECTEDBUMPENV = 0x200000;
// D3DCAPS9::TextureFilterCaps and friends
constexpr uint32_t D3DPTFILTERCAPS_MINFPOINT = 0x100;
constexpr uint32_t D3DPTFILTERCAPS_MINFLINEAR = 0x200;
constexpr uint32_t D3DPTFILTERCAPS_MIPFPOINT = 0x10000;
constexpr uint32_t D3DPTFILTERCAPS_MIPFLINEAR = 0x20000;
constexpr uint32_t D3DPTFILTERCAPS_MAGFPOINT = 0x1000000;
constexpr uint32_t D3DPTFILTERCAPS_MAGFLINEAR = 0x2000000;
// D3DCAPS9::TextureAddressCaps
constexpr uint32_t D3DPTADDRESSCAPS_WRAP = 0x1;
constexpr uint32_t D3DPTADDRESSCAPS_MIRROR = 0x2;
constexpr uint32_t D3DPTADDRESSCAPS_CLAMP = 0x4;
constexpr uint32_t D3DPTADDRESSCAPS_BORDER = 0x8;
constexpr uint32_t D3DPTADDRESSCAPS_INDEPENDENTUV = 0x10;
constexpr uint32_t D3DPTADDRESSCAPS_MIRRORONCE = 0x20;
// D3DCAPS9::Caps2
constexpr uint32_t D3DCAPS2_FULLSCREENGAMMA = 0x20000;
constexpr uint32_t D3DCAPS2_CANCALIBRATEGAMMA = 0x100000;
constexpr uint32_t D3DCAPS2_DYNAMICTEXTURES = 0x20000000;
constexpr uint32_t D3DCAPS2_CANAUTOGENMIPMAP = 0x40000000;
// D3DCAPS9::DevCaps
constexpr uint32_t D3DDEVCAPS_EXECUTESYSTEMMEMORY = 0x10;
constexpr uint32_t D3DDEVCAPS_TLVERTEXSYSTEMMEMORY = 0x40;
constexpr uint32_t D3DDEVCAPS_TEXTURESYSTEMMEMORY = 0x100;
constexpr uint32_t D3DDEVCAPS_DRAWPRIMTLVERTEX = 0x400;
constexpr uint32_t D3DDEVCAPS_HWTRANSFORMANDLIGHT = 0x10000;
constexpr uint32_t D3DDEVCAPS_PUREDEVICE = 0x100000;
// D3DCAPS9::PrimitiveMiscCaps
constexpr uint32_t D3DPMISCCAPS_MASKZ = 0x2;
constexpr uint32_t D3DPMISCCAPS_CULLNONE = 0x10;
constexpr uint32_t D3DPMISCCAPS_CULLCW = 0x20;
constexpr uint32_t D3DPMISCCAPS_CULLCCW = 0x40;
constexpr uint32_t D3DPMISCCAPS_COLORWRITEENABLE = 0x80;
constexpr uint32_t D3DPMISCCAPS_BLENDOP = 0x800;
// D3DCAPS9::ZCmpCaps and AlphaCmpCaps
constexpr uint32_t D3DPCMPCAPS_NEVER = 0x1;
constexpr uint32_t D3DPCMPCAPS_LESS = 0x2;
constexpr uint32_t D3DPCMPCAPS_EQUAL = 0x4;
constexpr uint32_t D3DPCMPCAPS_LESSEQUAL = 0x8;
constexpr uint32_t D3DPCMPCAPS_GREATER = 0x10;
constexpr uint32_t D3DPCMPCAPS_NOTEQUAL = 0x20;
constexpr uint32_t D3DPCMPCAPS_GREATEREQUAL = 0x40;
constexpr uint32_t D3DPCMPCAPS_ALWAYS = 0x80;
// D3DCAPS9::SrcBlendCaps and DestBlendCaps
constexpr uint32_t D3DPBLENDCAPS_ZERO = 0x1;
constexpr uint32_t D3DPBLENDCAPS_ONE = 0x2;
constexpr uint32_t D3DPBLENDCAPS_SRCALPHA = 0x10;
constexpr uint32_t D3DPBLENDCAPS_INVSRCALPHA = 0x20;
// D3DCAPS9::TextureOpCaps
constexpr uint32_t D3DTEXOPCAPS_DISABLE = 0x1;
constexpr uint32_t D3DTEXOPCAPS_SELECTARG1 = 0x2;
constexpr uint32_t D3DTEXOPCAPS_SELECTARG2 = 0x4;
constexpr uint32_t D3DTEXOPCAPS_MODULATE = 0x8;
// D3DCAPS9::RasterCaps
constexpr uint32_t D3DPRASTERCAPS_ZTEST = 0x10;
constexpr uint32_t D3DPRASTERCAPS_MIPMAPLODBIAS = 0x2000;

// ---- More vertex-format bits ------------------------------------------
constexpr uint32_t D3DFVF_RESERVED0 = 0x1;
constexpr uint32_t D3DFVF_TEX3 = 0x300;
constexpr uint32_t D3DFVF_TEX4 = 0x400;
constexpr uint32_t D3DFVF_TEX5 = 0x500;
constexpr uint32_t D3DFVF_TEX6 = 0x600;
constexpr uint32_t D3DFVF_TEX7 = 0x700;
constexpr uint32_t D3DFVF_TEX8 = 0x800;

// ---- More pipeline state ----------------------------------------------
constexpr uint32_t D3DTS_WORLDMATRIX(uint32_t index) { return 256 + index; }

// One past the highest render-state number.
constexpr uint32_t D3DRS_COUNT = 210;

enum D3DFILLMODE : uint32_t { D3DFILL_POINT = 1, D3DFILL_WIREFRAME = 2, D3DFILL_SOLID = 3 };

enum D3DSTENCILOP : uint32_t {
  D3DSTENCILOP_KEEP = 1,
  D3DSTENCILOP_ZERO = 2,
  D3DSTENCILOP_REPLACE = 3,
  D3DSTENCILOP_INCRSAT = 4,
  D3DSTENCILOP_DECRSAT = 5,
  D3DSTENCILOP_INVERT = 6,
  D3DSTENCILOP_INCR = 7,
  D3DSTENCILOP_DECR = 8,
};

enum D3DFOGMODE : uint32_t { D3DFOG_NONE = 0, D3DFOG_EXP = 1, D3DFOG_EXP2 = 2, D3DFOG_LINEAR = 3 };

enum D3DMATERIALCOLORSOURCE : uint32_t {
  D3DMCS_MATERIAL = 0,
  D3DMCS_COLOR1 = 1,
  D3DMCS_COLOR2 = 2,
};

enum D3DPATCHEDGESTYLE : uint32_t { D3DPATCHEDGE_DISCRETE = 0, D3DPATCHEDGE_CONTINUOUS = 1 };
enum D3DDEGREETYPE : uint32_t {
  D3DDEGREE_LINEAR = 1,
  D3DDEGREE_QUADRATIC = 2,
  D3DDEGREE_CUBIC = 3,
  D3DDEGREE_QUINTIC = 5,
};
enum D3DVERTEXBLENDFLAGS : uint32_t { D3DVBF_DISABLE = 0 };

// One past the highest texture-stage state number; stages 0 to 7.
constexpr uint32_t D3DTSS_COUNT = 33;
constexpr uint32_t D3D_MAX_TEXTURE_STAGES = 8;

enum D3DTEXTURETRANSFORMFLAGS : uint32_t { D3DTTFF_DISABLE = 0 };

// One past the highest sampler state number; samplers 0 to 15.
constexpr uint32_t D3DSAMP_COUNT = 14;
constexpr uint32_t D3D_MAX_SAMPLERS = 16;

// ---- More plain records ------------------------------------------------
using HWND = void*;
using HANDLE = void*;

struct D3DRECT {
  int32_t x1, y1, x2, y2;
};

struct D3DDISPLAYMODE {
  uint32_t Width;
  uint32_t Height;
  uint32_t RefreshRate;
  D3DFORMAT Format;
};

struct D3DPRESENT_PARAMETERS {
  uint32_t BackBufferWidth;
  uint32_t BackBufferHeight;
  D3DFORMAT BackBufferFormat;
  uint32_t BackBufferCount;
  D3DMULTISAMPLE_TYPE MultiSampleType;
  uint32_t MultiSampleQuality;
  D3DSWAPEFFECT SwapEffect;
  HWND hDeviceWindow;
  BOOL Windowed;
  BOOL EnableAutoDepthStencil;
  D3DFORMAT AutoDepthStencilFormat;
  uint32_t Flags;
  uint32_t FullScreen_RefreshRateInHz;
  uint32_t PresentationInterval;
};

struct D3DDEVICE_CREATION_PARAMETERS {
  uint32_t AdapterOrdinal;
  D3DDEVTYPE DeviceType;
  HWND hFocusWindow;
  uint32_t BehaviorFlags;
};

// What a device can do. Only the fields the library reads, and a few more
// that describe the software adapter's fixed-function pipeline.
struct D3DCAPS9 {
  D3DDEVTYPE DeviceType;
  uint32_t AdapterOrdinal;
  uint32_t Caps;
  uint32_t Caps2;
  uint32_t Caps3;
  uint32_t PresentationIntervals;
  uint32_t DevCaps;
  uint32_t PrimitiveMiscCaps;
  uint32_t RasterCaps;
  uint32_t ZCmpCaps;
  uint32_t SrcBlendCaps;
  uint32_t DestBlendCaps;
  uint32_t AlphaCmpCaps;
  uint32_t ShadeCaps;
  uint32_t TextureCaps;
  uint32_t TextureFilterCaps;
  uint32_t CubeTextureFilterCaps;
  uint32_t VolumeTextureFilterCaps;
  uint32_t TextureAddressCaps;
  uint32_t VolumeTextureAddressCaps;
  uint32_t MaxTextureWidth;
  uint32_t MaxTextureHeight;
  uint32_t MaxVolumeExtent;
  uint32_t MaxTextureRepeat;
  uint32_t MaxTextureAspectRatio;
  uint32_t MaxAnisotropy;
  uint32_t TextureOpCaps;
  uint32_t MaxTextureBlendStages;
  uint32_t MaxSimultaneousTextures;
  uint32_t VertexProcessingCaps;
  uint32_t MaxActiveLights;
  uint32_t MaxUserClipPlanes;
  uint32_t MaxVertexBlendMatrices;
  uint32_t MaxPrimitiveCount;
  uint32_t MaxVertexIndex;
  uint32_t MaxStreams;
  uint32_t MaxStreamStride;
  uint32_t VertexShaderVersion;
  uint32_t PixelShaderVersion;
};

// The "DebugSetMute" export of module "d3d9.dll" in the platform module
// registry has this type: one 32-bit argument, 1 to silence, 0 to restore.
using DebugSetMuteProc = void (*)(int32_t mute);
