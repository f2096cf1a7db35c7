#include "api/host_memory.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nerro::api {
namespace {

size_t pageSize() {
  static const size_t size = [] {
    const long s = ::sysconf(_SC_PAGESIZE);
    return s > 0 ? static_cast<size_t>(s) : size_t{4096};
  }();
  return size;
}

// One probe address in every page the range touches, and its last byte.
std::vector<uintptr_t> probeAddresses(uintptr_t address, size_t length) {
  std::vector<uintptr_t> probes;
  const size_t page = pageSize();
  const uintptr_t last = address + (length - 1);
  probes.push_back(address);
  for (uintptr_t p = (address & ~(page - 1)) + page; p <= last && p > address; p += page) probes.push_back(p);
  if (probes.back() != last) probes.push_back(last);
  return probes;
}

enum class Probe { Mapped, Unmapped, Unsupported };

// The kernel's own copy routines report a bad address as an error instead
// of a fault: read the probe bytes of this process, then write them back
// unchanged to test for writability.
Probe probeWithVmCalls(const std::vector<uintptr_t>& probes, bool writable) {
  constexpr size_t kBatch = 512;
  std::vector<uint8_t> bytes(probes.size());
  std::vector<iovec> local(kBatch), remote(kBatch);
  const pid_t self = ::getpid();
  for (size_t start = 0; start < probes.size(); start += kBatch) {
    const size_t n = std::min(kBatch, probes.size() - start);
    for (size_t i = 0; i < n; ++i) {
      local[i] = iovec{&bytes[start + i], 1};
      remote[i] = iovec{reinterpret_cast<void*>(probes[start + i]), 1};
    }
    const ssize_t got = ::process_vm_readv(self, local.data(), n, remote.data(), n, 0);
    if (got < 0 && (errno == ENOSYS || errno == EPERM)) return Probe::Unsupported;
    if (got != static_cast<ssize_t>(n)) return Probe::Unmapped;
    if (writable) {
      const ssize_t put = ::process_vm_writev(self, local.data(), n, remote.data(), n, 0);
      if (put < 0 && (errno == ENOSYS || errno == EPERM)) return Probe::Unsupported;
      if (put != static_cast<ssize_t>(n)) return Probe::Unmapped;
    }
  }
  return Probe::Mapped;
}

// Where those calls are not allowed: a pipe takes the byte from the address
// (EFAULT when unreadable) and, for the write test, gives it back into the
// same address (EFAULT when not writable).
bool probeWithPipe(const std::vector<uintptr_t>& probes, bool writable) {
  int fds[2];
  if (::pipe(fds) != 0) return false;
  bool ok = true;
  for (uintptr_t p : probes) {
    auto* at = reinterpret_cast<uint8_t*>(p);
    if (::write(fds[1], at, 1) != 1) {
      ok = false;
      break;
    }
    uint8_t drained = 0;
    if (writable) {
      if (::read(fds[0], at, 1) != 1) {
        ok = false;
        // The byte is still in the pipe: take it out so the pipe closes clean.
        (void)::read(fds[0], &drained, 1);
        break;
      }
    } else if (::read(fds[0], &drained, 1) != 1) {
      ok = false;
      break;
    }
  }
  ::close(fds[0]);
  ::close(fds[1]);
  return ok;
}

// Ranges of this many pages or more are looked up in the process's memory
// map instead of being probed page by page: one read of a small file
// instead of two kernel copies a page.
constexpr size_t kMapLookupPages = 16;

std::optional<std::string> readMemoryMap() {
  const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char chunk[8192];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    text.append(chunk, static_cast<size_t>(got));
  }
  ::close(fd);
  return text;
}

bool parseHex(std::string_view text, uintptr_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  return error == std::errc() && end == text.data() + text.size();
}

// Looks the range up in the memory map: true when it lies in consecutive
// anonymous mappings with the permissions, false when a byte is unmapped or
// lacks them. No answer (nullopt) when the map cannot be read or the range
// touches a file mapping, whose pages past the end of the file would fault
// although mapped: those ranges are probed instead.
std::optional<bool> lookUpMemoryMap(uintptr_t address, size_t length, bool writable) {
  const std::optional<std::string> map = readMemoryMap();
  if (!map) return std::nullopt;
  const uintptr_t end = address + length;  // the caller has ruled out wrapping
  uintptr_t covered = address;
  std::string_view rest = *map;
  while (!rest.empty() && covered < end) {
    const size_t newline = rest.find('\n');
    const std::string_view line = rest.substr(0, newline);
    rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
    // start-end perms offset device inode [path]
    const size_t dash = line.find('-');
    const size_t space = line.find(' ');
    if (dash == std::string_view::npos || space == std::string_view::npos || dash > space) return std::nullopt;
    uintptr_t start = 0, stop = 0;
    if (!parseHex(line.substr(0, dash), start) || !parseHex(line.substr(dash + 1, space - dash - 1), stop))
      return std::nullopt;
    if (stop <= covered) continue;
    if (start > covered) return false;  // a hole before the rest of the range
    const std::string_view perms = line.substr(space + 1, 4);
    if (perms.size() < 4 || perms[0] != 'r' || (writable && perms[1] != 'w')) return false;
    // Fields after the permissions: offset, device, inode.
    std::string_view fields = line.substr(space + 6);
    for (int skip = 0; skip < 2; ++skip) {
      const size_t gap = fields.find(' ');
      if (gap == std::string_view::npos) return std::nullopt;
      fields = fields.substr(gap + 1);
    }
    if (fields.empty() || fields[0] != '0' || (fields.size() > 1 && fields[1] != ' ')) return std::nullopt;
    covered = stop;
  }
  return covered >= end;
}

}  // namespace

bool isMappedRange(uintptr_t address, size_t length, bool writable) {
  if (address == 0 || length == 0) return false;
  if (address + (length - 1) < address) return false;  // wraps around the address space
  if (length / pageSize() >= kMapLookupPages && address + length > address) {
    if (const std::optional<bool> known = lookUpMemoryMap(address, length, writable)) return *known;
  }
  const std::vector<uintptr_t> probes = probeAddresses(address, length);
  switch (probeWithVmCalls(probes, writable)) {
    case Probe::Mapped:
      return true;
    case Probe::Unmapped:
      return false;
    case Probe::Unsupported:
      break;
  }
  return probeWithPipe(probes, writable);
}

bool isMappedRangeByPipe(uintptr_t address, size_t length, bool writable) {
  if (address == 0 || length == 0) return false;
  if (address + (length - 1) < address) return false;
  return probeWithPipe(probeAddresses(address, length), writable);
}

bool readHostWord(uintptr_t address, uint32_t* value) {
  if (!isMappedRange(address, 4, false)) return false;
  std::memcpy(value, reinterpret_cast<const void*>(address), 4);
  return true;
}

}  // namespace nerro::api
