// JPEG through libjpeg: a memory source, an error trap with a non-local
// return, and the library's system-dependent memory layer (aligned blocks,
// a 1,310,720-byte working limit and private temporary files beyond it).
//
// The memory layer lives in this file on purpose: libjpeg is linked
// statically, and whichever object defines jpeg_get_small and friends first
// wins; keeping them beside the decoder guarantees they are linked whenever
// the decoder is.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csetjmp>
#include <atomic>

// Our headers first: libjpeg's configuration defines TRUE and FALSE as
// macros, which must not meet the declarations of d3d9types.h.
#include "image/image.h"
#include "image/jpeg_memory.h"
#include "math/math.h"
#include "platform/platform.h"

#include <jpeglib.h>
#include <jerror.h>

// ---- The memory layer libjpeg's memory manager calls ---------------------

extern "C" {

// One temporary file standing in for memory the image cannot have. The
// layout is the one libjpeg's memory manager embeds in its arrays: three
// methods, then the private part (a file and a name buffer).
struct backing_store_struct;
typedef struct backing_store_struct* backing_store_ptr;
struct backing_store_struct {
  void (*read_backing_store)(j_common_ptr cinfo, backing_store_ptr info, void* buffer_address, long file_offset,
                             long byte_count);
  void (*write_backing_store)(j_common_ptr cinfo, backing_store_ptr info, void* buffer_address, long file_offset,
                              long byte_count);
  void (*close_backing_store)(j_common_ptr cinfo, backing_store_ptr info);
  FILE* temp_file;
  char temp_name[64];
};

void* jpeg_get_small(j_common_ptr cinfo, size_t sizeofobject);
void jpeg_free_small(j_common_ptr cinfo, void* object, size_t sizeofobject);
void* jpeg_get_large(j_common_ptr cinfo, size_t sizeofobject);
void jpeg_free_large(j_common_ptr cinfo, void* object, size_t sizeofobject);
size_t jpeg_mem_available(j_common_ptr cinfo, size_t min_bytes_needed, size_t max_bytes_needed,
                          size_t already_allocated);
void jpeg_open_backing_store(j_common_ptr cinfo, backing_store_ptr info, long total_bytes_needed);
long jpeg_mem_init(j_common_ptr cinfo);
void jpeg_mem_term(j_common_ptr cinfo);

}  // extern "C"

namespace {

std::atomic<uint64_t> gBackingStoresOpened{0};

// 16 extra bytes; the result is the first multiple of 16 above the block's
// start, with the distance back (1 to 16) in the byte below it.
void* alignedAllocate(size_t size) {
  if (size > SIZE_MAX - 16) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(size + 16));
  if (block == nullptr) return nullptr;
  uintptr_t start = reinterpret_cast<uintptr_t>(block);
  uintptr_t aligned = (start + 16) & ~static_cast<uintptr_t>(15);
  auto* result = reinterpret_cast<unsigned char*>(aligned);
  result[-1] = static_cast<unsigned char>(aligned - start);
  return result;
}

void alignedFree(void* object) {
  if (object == nullptr) return;
  auto* p = static_cast<unsigned char*>(object);
  std::free(p - p[-1]);
}

void readBackingStore(j_common_ptr cinfo, backing_store_ptr info, void* buffer, long offset, long count) {
  if (std::fseek(info->temp_file, offset, SEEK_SET) != 0) ERREXIT(cinfo, JERR_TFILE_SEEK);
  if (count < 0 || std::fread(buffer, 1, static_cast<size_t>(count), info->temp_file) != static_cast<size_t>(count))
    ERREXIT(cinfo, JERR_TFILE_READ);
}

void writeBackingStore(j_common_ptr cinfo, backing_store_ptr info, void* buffer, long offset, long count) {
  if (std::fseek(info->temp_file, offset, SEEK_SET) != 0) ERREXIT(cinfo, JERR_TFILE_SEEK);
  if (count < 0 || std::fwrite(buffer, 1, static_cast<size_t>(count), info->temp_file) != static_cast<size_t>(count))
    ERREXIT(cinfo, JERR_TFILE_WRITE);
}

void closeBackingStore(j_common_ptr, backing_store_ptr info) {
  if (info->temp_file != nullptr) std::fclose(info->temp_file);
  info->temp_file = nullptr;
}

}  // namespace

extern "C" {

void* jpeg_get_small(j_common_ptr, size_t sizeofobject) { return alignedAllocate(sizeofobject); }
void jpeg_free_small(j_common_ptr, void* object, size_t) { alignedFree(object); }
void* jpeg_get_large(j_common_ptr, size_t sizeofobject) { return alignedAllocate(sizeofobject); }
void jpeg_free_large(j_common_ptr, void* object, size_t) { alignedFree(object); }

size_t jpeg_mem_available(j_common_ptr cinfo, size_t, size_t, size_t already_allocated) {
  const long limit = cinfo->mem->max_memory_to_use;
  if (limit <= 0 || static_cast<size_t>(limit) <= already_allocated) return 0;
  return static_cast<size_t>(limit) - already_allocated;
}

void jpeg_open_backing_store(j_common_ptr cinfo, backing_store_ptr info, long) {
  // A private file that has no name once open and vanishes when closed.
  info->temp_file = nerro::platform::openPrivateTempFile();
  info->temp_name[0] = '\0';
  if (info->temp_file == nullptr) ERREXITS(cinfo, JERR_TFILE_CREATE, "");
  info->read_backing_store = readBackingStore;
  info->write_backing_store = writeBackingStore;
  info->close_backing_store = closeBackingStore;
  gBackingStoresOpened.fetch_add(1, std::memory_order_relaxed);
}

long jpeg_mem_init(j_common_ptr) { return 1310720; }
void jpeg_mem_term(j_common_ptr) {}

}  // extern "C"

namespace nerro::image {

namespace detail {
uint64_t jpegBackingStoresOpened() { return gBackingStoresOpened.load(std::memory_order_relaxed); }
}  // namespace detail

namespace {

struct ErrorTrap {
  jpeg_error_mgr manager;
  jmp_buf jump;
};

void silentMessage(j_common_ptr) {}

void discardMessage(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
}

[[noreturn]] void trapExit(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  std::longjmp(reinterpret_cast<ErrorTrap*>(cinfo->err)->jump, 1);
}

struct MemorySource {
  jpeg_source_mgr manager;
  const JOCTET* data;
  size_t size;
  bool supplied;
};

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

// The whole buffer is handed over once. Asked again, the data has run out:
// that is an error, so a truncated image fails instead of being read a
// second time from its start.
boolean fillInputBuffer(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<MemorySource*>(cinfo->src);
  if (src->supplied) ERREXIT(cinfo, JERR_INPUT_EOF);
  src->supplied = true;
  src->manager.next_input_byte = src->data;
  src->manager.bytes_in_buffer = src->size;
  return TRUE;
}

// Never moves past the end: a skip beyond it leaves the buffer empty, and
// the next read reports the end of the data.
void skipInputData(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  size_t n = static_cast<size_t>(count);
  if (n > src->bytes_in_buffer) n = src->bytes_in_buffer;
  src->next_input_byte += n;
  src->bytes_in_buffer -= n;
}

// Clears the top byte of `count` 32-bit pixels (libjpeg fills it with 255).
void clearTopBytes(uint8_t* row, uint32_t count) {
  for (uint32_t x = 0; x < count; ++x) {
    uint32_t v;
    std::memcpy(&v, row + 4 * static_cast<size_t>(x), 4);
    v &= 0x00FFFFFFu;
    std::memcpy(row + 4 * static_cast<size_t>(x), &v, 4);
  }
}

}  // namespace

HRESULT DecodedImage::decodeJpg(const uint8_t* data, uint32_t size) {
  ErrorTrap trap;
  jpeg_decompress_struct cinfo;
  cinfo.err = jpeg_std_error(&trap.manager);
  trap.manager.error_exit = trapExit;
  trap.manager.output_message = silentMessage;
  // Set before the jump point and not changed after it.
  volatile bool created = false;
  volatile HRESULT result = E_FAIL;

  if (setjmp(trap.jump) == 0) {
    jpeg_CreateDecompress(&cinfo, JPEG_LIB_VERSION, sizeof(cinfo));
    created = true;
    auto* src = static_cast<MemorySource*>(
        (*cinfo.mem->alloc_small)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_PERMANENT, sizeof(MemorySource)));
    src->manager.init_source = initSource;
    src->manager.fill_input_buffer = fillInputBuffer;
    src->manager.skip_input_data = skipInputData;
    src->manager.resync_to_restart = jpeg_resync_to_restart;
    src->manager.term_source = termSource;
    src->manager.bytes_in_buffer = 0;
    src->manager.next_input_byte = nullptr;
    src->data = data;
    src->size = size;
    src->supplied = false;
    cinfo.src = &src->manager;

    jpeg_read_header(&cinfo, TRUE);
    if (nerro::math::isMmxAvailable() == 0) cinfo.dct_method = JDCT_IFAST;
    trap.manager.output_message = discardMessage;

    // Colour output is asked for in blue, green, red, X order straight from
    // libjpeg (the same conversion and upsampling as its RGB output), so
    // rows land in the pixel buffer without a second pass.
    const bool colour = cinfo.out_color_space == JCS_RGB;
    if (colour) cinfo.out_color_space = JCS_EXT_BGRX;

    // Refused before decompression starts, which for a progressive image
    // sets up whole-image coefficient buffers (spilling to temporary files):
    // a pixel buffer past 32 bits, and Huffman-coded data too short to hold
    // one bit for every 8 x 8 block of the full-resolution component. Such
    // data cannot be complete, and incomplete data fails anyway; without
    // this check a few hundred bytes could make gigabytes of file traffic.
    const uint64_t pixelBytes = uint64_t{cinfo.image_width} * cinfo.image_height * (colour ? 4 : 1);
    const uint64_t blocks = uint64_t{(cinfo.image_width + 7) / 8} * ((cinfo.image_height + 7) / 8);
    if (pixelBytes > 0xFFFFFFFFu || (!cinfo.arith_code && blocks > uint64_t{size} * 8))
      ERREXIT(&cinfo, JERR_INPUT_EOF);
    jpeg_start_decompress(&cinfo);

    const int components = cinfo.output_components;
    if ((colour && components == 4) || (!colour && components == 1)) {
      const uint32_t w = cinfo.output_width, h = cinfo.output_height;
      format = colour ? D3DFMT_X8R8G8B8 : D3DFMT_L8;
      rowPitch = colour ? 4 * w : w;
      width = w;
      height = h;
      depth = 1;
      slicePitch = 0;
      if (!wantPixels) {
        result = S_OK;
      } else {
        uint8_t* buffer = allocatePixels(static_cast<uint64_t>(rowPitch) * h);
        if (buffer == nullptr) {
          result = E_OUTOFMEMORY;
        } else {
          while (cinfo.output_scanline < cinfo.output_height) {
            uint8_t* row = buffer + static_cast<size_t>(cinfo.output_scanline) * rowPitch;
            JSAMPROW rows[1] = {row};
            if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) ERREXIT(&cinfo, JERR_INPUT_EOF);
            if (colour) clearTopBytes(row, w);
          }
          jpeg_finish_decompress(&cinfo);
          result = S_OK;
        }
      }
    }
  }
  if (created) jpeg_destroy_decompress(&cinfo);
  return result;
}

}  // namespace nerro::image
