/* A host of libnerroPolygon.so that knows only include/nerroPolygon.h: it
 * lays its bitmap-handle chain out below 4 GiB, as a 32-bit host would, and
 * calls the exports with good and with broken chains. Exits non-zero when a
 * check fails. */
#define _GNU_SOURCE
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "nerroPolygon.h"

static int passed, failed;

static void check(int condition, const char* what) {
  if (condition) {
    ++passed;
  } else {
    ++failed;
    fprintf(stderr, "FAILED: %s\n", what);
  }
}

#define E_FAIL_RESULT ((int32_t)0x80004005u)
#define W 32
#define H 16

static size_t page;

/* Writes the chain for a buffer at `pixels` into the first page of `base`:
 * the value at 2h+16 leads to P1, the one at P1+8 to P2, the one at P2+16
 * to the pixels. Returns the handle h. */
static uint32_t layChain(uint8_t* base, uint32_t pixels) {
  const uint32_t b = (uint32_t)(uintptr_t)base;
  const uint32_t a0 = b + 0x100, p1 = b + 0x200, p2 = b + 0x300;
  memcpy(base + 0x100, &p1, 4);
  memcpy(base + 0x200 + 8, &p2, 4);
  memcpy(base + 0x300 + 16, &pixels, 4);
  return (a0 - 16u) / 2u;
}

/* True when no byte of [from, to) differs from `fill`. */
static int untouched(const uint8_t* from, const uint8_t* to, uint8_t fill) {
  for (const uint8_t* p = from; p < to; ++p)
    if (*p != fill) return 0;
  return 1;
}

int main(void) {
  page = (size_t)sysconf(_SC_PAGESIZE);
  /* Four pages below 4 GiB: the chain, the pixels (two pages), and a last
   * page that is made inaccessible. */
  uint8_t* base = mmap(NULL, 4 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  if (base == MAP_FAILED) {
    perror("mmap");
    return 2;
  }
  uint8_t* guard = base + 3 * page;
  mprotect(guard, page, PROT_NONE);
  uint8_t* pixels = base + page;
  const uint32_t pixelAddress = (uint32_t)(uintptr_t)pixels;

  setWindowSize(W, H);
  check(create() == 1, "create makes a context");
  check(create() == 1, "create again keeps it");

  /* A good chain: the empty frame is cleared to 0 (black, alpha 0) and
   * nothing outside the w x h x 4 bytes of the host's buffer changes. */
  uint32_t handle = layChain(base, pixelAddress);
  memset(pixels, 0xAB, 2 * page);
  check(drawPaint(handle, W, H) == 0, "drawPaint draws into a good chain");
  check(untouched(pixels, pixels + W * H * 4, 0x00), "the empty frame is cleared");
  check(untouched(pixels + W * H * 4, pixels + 2 * page, 0xAB), "nothing written past the host's buffer");

  /* A texture from the host's pixels on a quad that covers the frame. */
  for (int i = 0; i < W * H; ++i) memcpy(pixels + 4 * i, "\x99\x66\x33\xFF", 4);
  check(loadTexture("blue", handle, W, H) == 1, "loadTexture stores the entry");
  const float corners[8] = {-1000, 1000, 1000, 1000, -1000, -1000, 1000, -1000};
  const float coords[8] = {0, 0, 1, 0, 0, 1, 1, 1};
  const uint32_t id = makePolygon(1, corners);
  check(id == 1, "the first polygon gets id 1");
  check(setupTextures(id, "blue", 0, coords) == 1, "setupTextures finds polygon and texture");
  memset(pixels, 0, W * H * 4);
  check(drawPaint(handle, W, H) == 0, "drawPaint draws the quad");
  check(memcmp(pixels + 4 * (W * H / 2 + W / 2), "\x99\x66\x33\xFF", 4) == 0, "the quad shows its texture");

  /* Broken chains are refused without a fault, and touch nothing. */
  memset(pixels, 0xAB, 2 * page);
  const uint32_t guardAddress = (uint32_t)(uintptr_t)guard;
  check(drawPaint((guardAddress - 16u) / 2u, W, H) == E_FAIL_RESULT, "first address unmapped");
  check(loadTexture("t", (guardAddress - 16u) / 2u, W, H) == 0, "loadTexture: first address unmapped");

  handle = layChain(base, pixelAddress);
  memcpy(base + 0x100, &guardAddress, 4); /* P1 inaccessible */
  check(drawPaint(handle, W, H) == E_FAIL_RESULT, "P1 unmapped");
  const uint32_t zero = 0;
  memcpy(base + 0x100, &zero, 4); /* P1 = 0 */
  check(drawPaint(handle, W, H) == E_FAIL_RESULT, "P1 null");

  /* A buffer that ends before w x h x 4 bytes: its tail runs into the guard. */
  handle = layChain(base, (uint32_t)(uintptr_t)(guard - W * H * 2));
  check(drawPaint(handle, W, H) == E_FAIL_RESULT, "buffer too small");
  check(loadTexture("t", handle, W, H) == 0, "loadTexture: buffer too small");

  /* Sizes: zero, negative, and w x h x 4 + 54 beyond 32 bits. */
  handle = layChain(base, pixelAddress);
  check(drawPaint(handle, 0, H) == E_FAIL_RESULT, "width 0");
  check(drawPaint(handle, W, -1) == E_FAIL_RESULT, "negative height");
  check(drawPaint(handle, 40000, 40000) == E_FAIL_RESULT, "size beyond 32 bits");

  /* drawPaint writes: a read-only buffer is refused. */
  mprotect(pixels, 2 * page, PROT_READ);
  check(drawPaint(handle, W, H) == E_FAIL_RESULT, "read-only buffer for drawPaint");
  mprotect(pixels, 2 * page, PROT_READ | PROT_WRITE);
  check(untouched(pixels, pixels + 2 * page, 0xAB), "refused calls wrote nothing");

  dispose();
  dispose(); /* a second dispose does nothing */
  check(create() == 1, "a new context after dispose");
  dispose();

  munmap(base, 4 * page);
  printf("host program: %d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
