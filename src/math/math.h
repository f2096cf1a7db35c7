// The math library: 4x4 matrices in Direct3D's row-vector conventions,
// 2/3/4-component vectors, quaternions, planes, their strided array forms,
// skinning, cubic triangle patches and half-float conversions.
//
// Every operation is one call through `MathDispatch`, a table of 74 routine
// addresses. Each slot starts at a first-use entry; the first call of any
// operation runs `selectMathRoutines` once, which fills the table with the
// routines that suit the processor and the "DisablePSGP"/"DisableV3ODPSGP"
// settings, and then forwards the call. Operations take the output pointer
// first and return it (exceptions are noted at the operation).
#pragma once

#include <cstddef>
#include <cstdint>

#include "d3d9/d3d9types.h"

namespace nerro::math {

struct Vec2 {
  float x, y;
};
struct Vec4 {
  float x, y, z, w;
};
// w is the scalar part, (x, y, z) the vector part.
struct Quat {
  float x, y, z, w;
};
// The points p with a*p.x + b*p.y + c*p.z + d = 0; (a, b, c) is the normal.
struct Plane {
  float a, b, c, d;
};

// One vertex component processed by skinVertexArray: three floats at a byte
// offset inside each vertex, handled according to its usage code.
struct SkinComponent {
  uint32_t usage;   // SkinUsagePosition, SkinUsageNormal, SkinUsageTangent, SkinUsageBinormal
  uint32_t offset;  // byte offset of the three floats within a vertex
};
constexpr uint32_t SkinUsagePosition = 0;  // vec3TransformCoord, first matrix array
constexpr uint32_t SkinUsageNormal = 3;    // vec3TransformNormal, second matrix array
constexpr uint32_t SkinUsageTangent = 6;   // vec3TransformNormal, first matrix array
constexpr uint32_t SkinUsageBinormal = 7;  // vec3TransformNormal, first matrix array

// The entry point "DebugSetMute" that the Direct3D layer registers for
// "d3d9.dll" (and "d3d9d.dll"): one int32 argument, 1 to mute, 0 to restore.
using DebugSetMuteFunction = void (*)(int32_t);

// The 74 slots in table order: X(slot, name, result, (parameters), (arguments)).
// clang-format off
#define NERRO_MATH_SLOTS(X) \
  X(0, vec2Transform, Vec4*, (Vec4* out, const Vec2* v, const D3DMATRIX* m), (out, v, m)) \
  X(1, vec3Transform, Vec4*, (Vec4* out, const D3DVECTOR* v, const D3DMATRIX* m), (out, v, m)) \
  X(2, vec4Transform, Vec4*, (Vec4* out, const Vec4* v, const D3DMATRIX* m), (out, v, m)) \
  X(3, mat4Multiply, D3DMATRIX*, (D3DMATRIX* out, const D3DMATRIX* a, const D3DMATRIX* b), (out, a, b)) \
  X(4, mat4MultiplyTranspose, D3DMATRIX*, (D3DMATRIX* out, const D3DMATRIX* a, const D3DMATRIX* b), (out, a, b)) \
  X(5, vec2TransformNormal, Vec2*, (Vec2* out, const Vec2* v, const D3DMATRIX* m), (out, v, m)) \
  X(6, vec3TransformNormal, D3DVECTOR*, (D3DVECTOR* out, const D3DVECTOR* v, const D3DMATRIX* m), (out, v, m)) \
  X(7, vec3Normalize, D3DVECTOR*, (D3DVECTOR* out, const D3DVECTOR* v), (out, v)) \
  X(8, vec4Normalize, Vec4*, (Vec4* out, const Vec4* v), (out, v)) \
  X(9, vec2TransformCoord, Vec2*, (Vec2* out, const Vec2* v, const D3DMATRIX* m), (out, v, m)) \
  X(10, vec3TransformCoord, D3DVECTOR*, (D3DVECTOR* out, const D3DVECTOR* v, const D3DMATRIX* m), (out, v, m)) \
  X(11, mat4Determinant, float, (const D3DMATRIX* m), (m)) \
  X(12, mat4Decompose, HRESULT, (D3DVECTOR* scale, Quat* rotation, D3DVECTOR* translation, const D3DMATRIX* m), (scale, rotation, translation, m)) \
  X(13, planeFromPointNormal, Plane*, (Plane* out, const D3DVECTOR* point, const D3DVECTOR* normal), (out, point, normal)) \
  X(14, planeFromPoints, Plane*, (Plane* out, const D3DVECTOR* p1, const D3DVECTOR* p2, const D3DVECTOR* p3), (out, p1, p2, p3)) \
  X(15, vec3Project, D3DVECTOR*, (D3DVECTOR* out, const D3DVECTOR* v, const D3DVIEWPORT9* viewport, const D3DMATRIX* projection, const D3DMATRIX* view, const D3DMATRIX* world), (out, v, viewport, projection, view, world)) \
  X(16, vec3Unproject, D3DVECTOR*, (D3DVECTOR* out, const D3DVECTOR* v, const D3DVIEWPORT9* viewport, const D3DMATRIX* projection, const D3DMATRIX* view, const D3DMATRIX* world), (out, v, viewport, projection, view, world)) \
  X(17, vec4Cross, Vec4*, (Vec4* out, const Vec4* u, const Vec4* v, const Vec4* w), (out, u, v, w)) \
  X(18, vec2Hermite, Vec2*, (Vec2* out, const Vec2* p1, const Vec2* t1, const Vec2* p2, const Vec2* t2, float s), (out, p1, t1, p2, t2, s)) \
  X(19, mat4Inverse, D3DMATRIX*, (D3DMATRIX* out, float* determinant, const D3DMATRIX* m), (out, determinant, m)) \
  X(20, quatMultiply, Quat*, (Quat* out, const Quat* q1, const Quat* q2), (out, q1, q2)) \
  X(21, quatNormalize, Quat*, (Quat* out, const Quat* q), (out, q)) \
  X(22, planeNormalize, Plane*, (Plane* out, const Plane* p), (out, p)) \
  X(23, planeIntersectLine, D3DVECTOR*, (D3DVECTOR* out, const Plane* p, const D3DVECTOR* l1, const D3DVECTOR* l2), (out, p, l1, l2)) \
  X(24, quatToAxisAngle, void, (const Quat* q, D3DVECTOR* axis, float* angle), (q, axis, angle)) \
  X(25, quatFromMatrix, Quat*, (Quat* out, const D3DMATRIX* m), (out, m)) \
  X(26, quatFromYawPitchRoll, Quat*, (Quat* out, float yaw, float pitch, float roll), (out, yaw, pitch, roll)) \
  X(27, mat4Translation, D3DMATRIX*, (D3DMATRIX* out, float tx, float ty, float tz), (out, tx, ty, tz)) \
  X(28, mat4Shadow, D3DMATRIX*, (D3DMATRIX* out, const Vec4* light, const Plane* plane), (out, light, plane)) \
  X(29, mat4Reflect, D3DMATRIX*, (D3DMATRIX* out, const Plane* plane), (out, plane)) \
  X(30, quatFromAxisAngle, Quat*, (Quat* out, const D3DVECTOR* axis, float angle), (out, axis, angle)) \
  X(31, mat4RotationX, D3DMATRIX*, (D3DMATRIX* out, float angle), (out, angle)) \
  X(32, mat4RotationY, D3DMATRIX*, (D3DMATRIX* out, float angle), (out, angle)) \
  X(33, mat4RotationZ, D3DMATRIX*, (D3DMATRIX* out, float angle), (out, angle)) \
  X(34, mat4Scaling, D3DMATRIX*, (D3DMATRIX* out, float sx, float sy, float sz), (out, sx, sy, sz)) \
  X(35, planeTransform, Plane*, (Plane* out, const Plane* p, const D3DMATRIX* m), (out, p, m)) \
  X(36, quatSlerp, Quat*, (Quat* out, const Quat* q1, const Quat* q2, float t), (out, q1, q2, t)) \
  X(37, quatBarycentric, Quat*, (Quat* out, const Quat* q1, const Quat* q2, const Quat* q3, float f, float g), (out, q1, q2, q3, f, g)) \
  X(38, mat4Transpose, D3DMATRIX*, (D3DMATRIX* out, const D3DMATRIX* m), (out, m)) \
  X(39, mat4RotationQuat, D3DMATRIX*, (D3DMATRIX* out, const Quat* q), (out, q)) \
  X(40, mat4Transformation, D3DMATRIX*, (D3DMATRIX* out, const D3DVECTOR* scalingCenter, const Quat* scalingRotation, const D3DVECTOR* scaling, const D3DVECTOR* rotationCenter, const Quat* rotation, const D3DVECTOR* translation), (out, scalingCenter, scalingRotation, scaling, rotationCenter, rotation, translation)) \
  X(41, mat4RotationYawPitchRoll, D3DMATRIX*, (D3DMATRIX* out, float yaw, float pitch, float roll), (out, yaw, pitch, roll)) \
  X(42, mat4AffineTransformation, D3DMATRIX*, (D3DMATRIX* out, float scaling, const D3DVECTOR* rotationCenter, const Quat* rotation, const D3DVECTOR* translation), (out, scaling, rotationCenter, rotation, translation)) \
  X(43, mat4RotationAxis, D3DMATRIX*, (D3DMATRIX* out, const D3DVECTOR* axis, float angle), (out, axis, angle)) \
  X(44, quatSquad, Quat*, (Quat* out, const Quat* q, const Quat* a, const Quat* b, const Quat* c, float t), (out, q, a, b, c, t)) \
  X(45, quatInverse, Quat*, (Quat* out, const Quat* q), (out, q)) \
  X(46, quatSquadSetup, void, (Quat* qa, Quat* qb, Quat* qc, const Quat* q0, const Quat* q1, const Quat* q2, const Quat* q3), (qa, qb, qc, q0, q1, q2, q3)) \
  X(47, vec2Normalize, Vec2*, (Vec2* out, const Vec2* v), (out, v)) \
  X(48, vec2CatmullRom, Vec2*, (Vec2* out, const Vec2* p0, const Vec2* p1, const Vec2* p2, const Vec2* p3, float s), (out, p0, p1, p2, p3, s)) \
  X(49, vec2Barycentric, Vec2*, (Vec2* out, const Vec2* p1, const Vec2* p2, const Vec2* p3, float f, float g), (out, p1, p2, p3, f, g)) \
  X(50, vec3Hermite, D3DVECTOR*, (D3DVECTOR* out, const D3DVECTOR* p1, const D3DVECTOR* t1, const D3DVECTOR* p2, const D3DVECTOR* t2, float s), (out, p1, t1, p2, t2, s)) \
  X(51, vec3CatmullRom, D3DVECTOR*, (D3DVECTOR* out, const D3DVECTOR* p0, const D3DVECTOR* p1, const D3DVECTOR* p2, const D3DVECTOR* p3, float s), (out, p0, p1, p2, p3, s)) \
  X(52, vec3Barycentric, D3DVECTOR*, (D3DVECTOR* out, const D3DVECTOR* p1, const D3DVECTOR* p2, const D3DVECTOR* p3, float f, float g), (out, p1, p2, p3, f, g)) \
  X(53, vec4Hermite, Vec4*, (Vec4* out, const Vec4* p1, const Vec4* t1, const Vec4* p2, const Vec4* t2, float s), (out, p1, t1, p2, t2, s)) \
  X(54, vec4CatmullRom, Vec4*, (Vec4* out, const Vec4* p0, const Vec4* p1, const Vec4* p2, const Vec4* p3, float s), (out, p0, p1, p2, p3, s)) \
  X(55, vec4Barycentric, Vec4*, (Vec4* out, const Vec4* p1, const Vec4* p2, const Vec4* p3, float f, float g), (out, p1, p2, p3, f, g)) \
  X(56, quatLn, Quat*, (Quat* out, const Quat* q), (out, q)) \
  X(57, quatExp, Quat*, (Quat* out, const Quat* q), (out, q)) \
  X(58, float32To16Array, uint16_t*, (uint16_t* out, const float* in, uint32_t count), (out, in, count)) \
  X(59, float16To32Array, float*, (float* out, const uint16_t* in, uint32_t count), (out, in, count)) \
  X(60, vec2TransformArray, Vec4*, (Vec4* out, uint32_t outStride, const Vec2* in, uint32_t inStride, const D3DMATRIX* m, uint32_t count), (out, outStride, in, inStride, m, count)) \
  X(61, vec2TransformCoordArray, Vec2*, (Vec2* out, uint32_t outStride, const Vec2* in, uint32_t inStride, const D3DMATRIX* m, uint32_t count), (out, outStride, in, inStride, m, count)) \
  X(62, vec2TransformNormalArray, Vec2*, (Vec2* out, uint32_t outStride, const Vec2* in, uint32_t inStride, const D3DMATRIX* m, uint32_t count), (out, outStride, in, inStride, m, count)) \
  X(63, vec3TransformArray, Vec4*, (Vec4* out, uint32_t outStride, const D3DVECTOR* in, uint32_t inStride, const D3DMATRIX* m, uint32_t count), (out, outStride, in, inStride, m, count)) \
  X(64, vec3TransformCoordArray, D3DVECTOR*, (D3DVECTOR* out, uint32_t outStride, const D3DVECTOR* in, uint32_t inStride, const D3DMATRIX* m, uint32_t count), (out, outStride, in, inStride, m, count)) \
  X(65, vec3TransformNormalArray, D3DVECTOR*, (D3DVECTOR* out, uint32_t outStride, const D3DVECTOR* in, uint32_t inStride, const D3DMATRIX* m, uint32_t count), (out, outStride, in, inStride, m, count)) \
  X(66, vec4TransformArray, Vec4*, (Vec4* out, uint32_t outStride, const Vec4* in, uint32_t inStride, const D3DMATRIX* m, uint32_t count), (out, outStride, in, inStride, m, count)) \
  X(67, vec3ProjectArray, D3DVECTOR*, (D3DVECTOR* out, uint32_t outStride, const D3DVECTOR* in, uint32_t inStride, const D3DVIEWPORT9* viewport, const D3DMATRIX* projection, const D3DMATRIX* view, const D3DMATRIX* world, uint32_t count), (out, outStride, in, inStride, viewport, projection, view, world, count)) \
  X(68, vec3UnprojectArray, D3DVECTOR*, (D3DVECTOR* out, uint32_t outStride, const D3DVECTOR* in, uint32_t inStride, const D3DVIEWPORT9* viewport, const D3DMATRIX* projection, const D3DMATRIX* view, const D3DMATRIX* world, uint32_t count), (out, outStride, in, inStride, viewport, projection, view, world, count)) \
  X(69, planeTransformArray, Plane*, (Plane* out, uint32_t outStride, const Plane* in, uint32_t inStride, const D3DMATRIX* m, uint32_t count), (out, outStride, in, inStride, m, count)) \
  X(70, skinVertexArray, void*, (void* dst, const void* src, uint32_t stride, uint32_t vertexCount, const D3DMATRIX* matrices, const D3DMATRIX* normalMatrices, uint32_t matrixCount, const SkinComponent* components, uint32_t componentCount, const float* influences), (dst, src, stride, vertexCount, matrices, normalMatrices, matrixCount, components, componentCount, influences)) \
  X(71, evaluatePnTriangles, float*, (float* out, const float* corners, const D3DVECTOR* normals, uint32_t floatsPerVertex, const Vec2* uv, uint32_t count), (out, corners, normals, floatsPerVertex, uv, count)) \
  X(72, mat4Transformation2D, D3DMATRIX*, (D3DMATRIX* out, const Vec2* scalingCenter, float scalingRotation, const Vec2* scaling, const Vec2* rotationCenter, float rotation, const Vec2* translation), (out, scalingCenter, scalingRotation, scaling, rotationCenter, rotation, translation)) \
  X(73, mat4AffineTransformation2D, D3DMATRIX*, (D3DMATRIX* out, float scaling, const Vec2* rotationCenter, float rotation, const Vec2* translation), (out, scaling, rotationCenter, rotation, translation))
// clang-format on

constexpr int MathSlotCount = 74;

// The routine table. Members are named after their operations and laid out
// in slot order (slot n at offset n * sizeof(void*)).
struct MathDispatch {
#define NERRO_MATH_FIELD(slot, name, R, P, A) R(*name) P;
  NERRO_MATH_SLOTS(NERRO_MATH_FIELD)
#undef NERRO_MATH_FIELD
};
static_assert(sizeof(MathDispatch) == MathSlotCount * sizeof(void*));

// mathTier values.
constexpr uint32_t MathTierUnselected = 0xFFFF;
constexpr uint32_t MathTierGeneric = 0;  // generic routines with the tuned set
constexpr uint32_t MathTier3DNow = 1;
constexpr uint32_t MathTierSse2 = 2;
constexpr uint32_t MathTierSse = 3;

namespace detail {
// The live table; written only by selectMathRoutines.
extern MathDispatch gMathDispatch;
}  // namespace detail

// Notes on the operations whose arguments the slot list does not explain:
//
// mat4Inverse returns null (and leaves `out` alone) for a singular matrix;
// the generic routine still stores the determinant, the vectorised tiers do
// not. mat4Determinant returns the determinant; mat4Decompose returns S_OK or
// D3DERR_INVALIDCALL (then nothing is written). planeIntersectLine returns
// null for a line parallel to the plane; vec3Unproject and vec3UnprojectArray
// return null when the combined transformation cannot be inverted.
//
// The array forms step `in` and `out` by their byte strides; a count of 0
// does nothing. Outputs may overlap inputs element for element (in place).
//
// skinVertexArray: `vertexCount` vertices of `stride` bytes each from `src` to
// `dst` (which may be the same). Each component in `components` with a known
// usage is replaced by the sum over the vertex's influences of weight times
// the component transformed by that influence's matrix: positions with
// vec3TransformCoord, normals with vec3TransformNormal and `normalMatrices`
// (`matrices` when null), tangents and binormals with vec3TransformNormal and
// `matrices`. `influences` lists, vertex after vertex, floats holding
// 2 * matrix index + weight (weight in [0, 2)), each vertex's list ended by a
// negative value; influences naming a matrix at or past `matrixCount` add
// nothing. When the stride is not 12 bytes per processed component the whole
// source vertex is copied to the destination first.
//
// evaluatePnTriangles: `corners` holds three vertices of `floatsPerVertex`
// floats (at least 3), position first; `normals` the three corner normals.
// For each of the `count` (u, v) pairs, with w = 1 - u - v weighting corner
// 0, u corner 1 and v corner 2, one output vertex of `floatsPerVertex`
// floats: the position on the cubic triangle patch, the further floats
// interpolated linearly. Outputs are written one after the other.

// The operations: each is one call through its slot.
#define NERRO_MATH_CALL(slot, name, R, P, A) \
  inline R name P { return detail::gMathDispatch.name A; }
NERRO_MATH_SLOTS(NERRO_MATH_CALL)
#undef NERRO_MATH_CALL

// ---- Helpers outside the table ------------------------------------------

// True when a - b lies within [-2^-23, 2^-23]; false for NaN.
bool isNearlyEqual(float a, float b);

// 1/sqrt(x) for a positive float from a 512-entry table of straight-line
// fits; relative error below 1.6e-6 over all positive floats.
float reciprocalSqrtEstimate(float x);

// Left-handed view matrix looking from eye at `at` with `up` as the up
// direction (normalises through slot 7).
D3DMATRIX* mat4LookAtLH(D3DMATRIX* out, const D3DVECTOR* eye, const D3DVECTOR* at, const D3DVECTOR* up);
// Left-handed perspective projection: depth 0 at zn, 1 at zf after the divide.
D3DMATRIX* mat4PerspectiveFovLH(D3DMATRIX* out, float fovy, float aspect, float zn, float zf);

// ---- Selection and settings ---------------------------------------------

// Fills the table once (argument always 1) and returns the resulting mathTier.
uint32_t selectMathRoutines(int32_t reserved);
// The current mathTier (MathTierUnselected before the first math call).
uint32_t mathTier();

// 1 when MMX may be used: not disabled by "DisableMMX" and the processor has it.
int32_t isMmxAvailable();

// Mutes (1) or restores (0) the Direct3D layer's debug output unless
// "V3ODDoNotMute" is set; returns the previous mute value.
int32_t setDebugMute(int32_t mute);

// Checks once per process that zero-byte allocations give unique non-null
// blocks; writes four warning lines to the debugger output otherwise.
void checkNewDelete();

}  // namespace nerro::math
