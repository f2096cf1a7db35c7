// The mapped-memory checks behind the host bitmap handles, by both probes.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "api/host_memory.h"

namespace nerro::api {
namespace {

TEST(HostMemory, BothProbesTellMappedReadOnlyAndMissingPages) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  // Pages: read-write, read-only, inaccessible, read-write.
  auto* base = static_cast<uint8_t*>(mmap(nullptr, 4 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(base, MAP_FAILED);
  base[0] = 0x5A;
  base[page] = 0xA5;
  ASSERT_EQ(mprotect(base + page, page, PROT_READ), 0);
  ASSERT_EQ(mprotect(base + 2 * page, page, PROT_NONE), 0);
  const auto at = [&](size_t offset) { return reinterpret_cast<uintptr_t>(base) + offset; };

  struct Case {
    const char* what;
    uintptr_t address;
    size_t length;
    bool writable;
    bool mapped;
  };
  const Case cases[] = {
      {"read-write page", at(0), page, true, true},
      {"read-only page, read", at(page), page, false, true},
      {"read-only page, write", at(page), page, true, false},
      {"two pages, the second read-only, write", at(page - 8), 16, true, false},
      {"into the inaccessible page", at(2 * page - 4), 8, false, false},
      {"across the inaccessible page", at(page), 2 * page + 1, false, false},
      {"inaccessible page only", at(2 * page), 4, false, false},
      {"last page", at(3 * page), page, true, true},
      {"address 0", 0, 4, false, false},
      {"length 0", at(0), 0, false, false},
      {"wrapping the address space", ~uintptr_t{0} - 2, 8, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(isMappedRange(c.address, c.length, c.writable), c.mapped);
    EXPECT_EQ(isMappedRangeByPipe(c.address, c.length, c.writable), c.mapped);
  }
  // The write probes put back what they found.
  EXPECT_EQ(base[0], 0x5A);
  EXPECT_EQ(base[page], 0xA5);

  uint32_t word = 0;
  std::memcpy(base + 16, "\x78\x56\x34\x12", 4);
  EXPECT_TRUE(readHostWord(at(16), &word));
  EXPECT_EQ(word, 0x12345678u);
  EXPECT_FALSE(readHostWord(at(2 * page - 2), &word));
  munmap(base, 4 * page);
}

TEST(HostMemory, LargeRangesByTheMemoryMap) {
  // Large ranges are looked up in the memory map rather than probed page by
  // page; the answers must be the same as the probes give.
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  constexpr size_t kPages = 40;
  auto* base = static_cast<uint8_t*>(
      mmap(nullptr, kPages * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(base, MAP_FAILED);
  const auto at = [&](size_t pageIndex) { return reinterpret_cast<uintptr_t>(base) + pageIndex * page; };
  ASSERT_EQ(mprotect(base + 20 * page, page, PROT_READ), 0);
  ASSERT_EQ(munmap(base + 30 * page, page), 0);

  struct Case {
    const char* what;
    uintptr_t address;
    size_t length;
    bool writable;
    bool mapped;
  };
  const Case cases[] = {
      {"read-write run", at(0), 20 * page, true, true},
      {"run over a read-only page, read", at(2), 25 * page, false, true},
      {"run over a read-only page, write", at(2), 25 * page, true, false},
      {"run over a hole", at(10), 25 * page, false, false},
      {"run after the hole", at(31), 9 * page - 1, true, true},
      {"unaligned run ending inside the read-only page", at(2) + 7, 18 * page, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(isMappedRange(c.address, c.length, c.writable), c.mapped);
    EXPECT_EQ(isMappedRangeByPipe(c.address, c.length, c.writable), c.mapped);
  }
  munmap(base, 30 * page);
  munmap(base + 31 * page, (kPages - 31) * page);

  // A file mapping longer than its file: mapped, but the pages past the end
  // of the file would fault, so they must be reported.
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(ftruncate(fileno(file), static_cast<off_t>(page)), 0);
  auto* mapped = static_cast<uint8_t*>(mmap(nullptr, 20 * page, PROT_READ, MAP_PRIVATE, fileno(file), 0));
  ASSERT_NE(mapped, MAP_FAILED);
  EXPECT_FALSE(isMappedRange(reinterpret_cast<uintptr_t>(mapped), 20 * page, false));
  munmap(mapped, 20 * page);
  std::fclose(file);
}

}  // namespace
}  // namespace nerro::api
