// Checks on memory the host names by address, made without touching it:
// an unmapped or protected page is reported, never faulted on.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nerro::api {

// True when every byte of [address, address + length) is mapped readable,
// and writable too when `writable` is set. A length of 0 is never mapped.
bool isMappedRange(uintptr_t address, size_t length, bool writable);

// The same check made only with a pipe (the way taken where the process may
// not read its own memory with process_vm_readv): exposed for tests.
bool isMappedRangeByPipe(uintptr_t address, size_t length, bool writable);

// Reads the 32-bit little-endian value at address when those four bytes are
// mapped readable.
bool readHostWord(uintptr_t address, uint32_t* value);

}  // namespace nerro::api
