#include "api/host_memory.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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

}  // namespace

bool isMappedRange(uintptr_t address, size_t length, bool writable) {
  if (address == 0 || length == 0) return false;
  if (address + (length - 1) < address) return false;  // wraps around the address space
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
