// CRC-32C (Castagnoli): the checksum of disk-cache segments and of backup-store records.
//
// Uses the SSE4.2 crc32 instruction when the processor has it (decided once, at first use) and a
// portable table otherwise; both give the same values. All functions are thread-safe.
#ifndef OBJSTORE_PLATFORM_CRC32C_H_
#define OBJSTORE_PLATFORM_CRC32C_H_

#include <cstddef>
#include <cstdint>

// The CRC-32C of `size` bytes at `data` continued from `crc`, the CRC-32C of the bytes before
// them (0 for none). Crc32cExtend(Crc32c(a), b) equals the CRC-32C of a followed by b.
uint32_t Crc32cExtend(uint32_t crc, const void* data, size_t size);

inline uint32_t Crc32c(const void* data, size_t size) {
  return Crc32cExtend(0, data, size);
}

// The two implementations behind Crc32cExtend, for tests and benchmarks.
uint32_t Crc32cExtendPortable(uint32_t crc, const void* data, size_t size);
// Only valid when Crc32cHardwareAvailable() is true.
uint32_t Crc32cExtendHardware(uint32_t crc, const void* data, size_t size);
bool Crc32cHardwareAvailable();

#endif  // OBJSTORE_PLATFORM_CRC32C_H_
