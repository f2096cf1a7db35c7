/* nerroPolygon: an off-screen renderer of textured polygons.
 *
 * The host hands over 32-bit bitmaps (blue, green, red, alpha; bottom row
 * first) under names of its choice, makes triangles and quads, gives each up
 * to two textures and a scale, three rotations and a translation, and asks
 * for frames with drawPaint, which renders every polygon and writes the
 * picture into a bitmap of the host's.
 *
 * A bitmap handle h is a 32-bit value: the pixel address is found by reading
 * the 32-bit value at 2*h+16 (P1), then the one at P1+8 (P2), then the one at
 * P2+16. All three addresses and the pixels must lie below 4 GiB.
 *
 * Every function may be called first: the rendering context is made on
 * demand. All calls must come from the thread that made the context.
 */
#ifndef NERRO_POLYGON_H
#define NERRO_POLYGON_H

#include <stdint.h>

#if defined(__i386__)
#define NERRO_CALLEE __attribute__((stdcall))
#else
#define NERRO_CALLEE
#endif

#if defined(NERRO_BUILDING_LIBRARY)
#define NERRO_EXPORT __attribute__((visibility("default")))
#else
#define NERRO_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Makes the rendering context if there is none: 1 when one exists afterwards. */
NERRO_EXPORT int32_t create(void);
/* Destroys polygons, textures, the device and the Direct3D object. */
NERRO_EXPORT void dispose(void);
/* Back-buffer size of the next device made or reset (default 544 x 416). */
NERRO_EXPORT void NERRO_CALLEE setWindowSize(int32_t width, int32_t height);

/* Stores the host bitmap as texture `name`: 1 on success, 0 on failure. */
NERRO_EXPORT int32_t NERRO_CALLEE loadTexture(const char* name, uint32_t bitmap, int32_t width, int32_t height);
NERRO_EXPORT int32_t clearTextures(void);

/* quad nonzero: 4 corners, else 3; corners holds x, y of each. Returns the
 * new id (1 or greater), 0 on failure. */
NERRO_EXPORT uint32_t makePolygon(int32_t quad, const float* corners);
NERRO_EXPORT int32_t NERRO_CALLEE disposePolygon(uint32_t id);
NERRO_EXPORT int32_t clearPolygons(void);
/* Gives polygon `id` texture `name` in slot 0 or 1 with u, v of each corner. */
NERRO_EXPORT int32_t setupTextures(uint32_t id, const char* name, uint32_t slot, const float* coords);

NERRO_EXPORT int32_t NERRO_CALLEE setupTranslate(uint32_t id, const float* offsets, int32_t unused);
NERRO_EXPORT int32_t NERRO_CALLEE setupScale(uint32_t id, const float* factors, int32_t unused);
NERRO_EXPORT int32_t NERRO_CALLEE setupRotX(uint32_t id, const float* angle, int32_t unused);
NERRO_EXPORT int32_t NERRO_CALLEE setupRotY(uint32_t id, const float* angle, int32_t unused);
NERRO_EXPORT int32_t NERRO_CALLEE setupRotZ(uint32_t id, const float* angle, int32_t unused);

/* Draws a frame into the host bitmap: 0 (S_OK), or 0x80004005 / 0x8007000E. */
NERRO_EXPORT int32_t NERRO_CALLEE drawPaint(uint32_t bitmap, int32_t width, int32_t height);

/* Extensions for hosts without bitmap handles. */
/* loadTexture from w x h pixels at `pixels` (bottom row first, B G R A). */
NERRO_EXPORT int32_t loadTexturePixels(const char* name, const void* pixels, int32_t width, int32_t height);
/* loadTexture from `size` bytes of an image file of any container the library
 * reads (BMP, DIB, TGA, DDS, PPM, PFM, HDR, JPEG, PNG); the bytes are copied
 * and kept for rebuilding the texture after a device reset. 1 or 0. */
NERRO_EXPORT int32_t loadTextureImage(const char* name, const void* data, uint32_t size);
/* drawPaint into w x h pixels at `pixels` (bottom row first, B G R A). */
NERRO_EXPORT int32_t drawPaintPixels(void* pixels, int32_t width, int32_t height);

#ifdef __cplusplus
}
#endif

#endif /* NERRO_POLYGON_H */
