#include "Crc32c.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace {

constexpr uint32_t kReflectedPolynomial = 0x82F63B78u;

constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint32_t crc = byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1u) ? kReflectedPolynomial : 0u);
    table[byte] = crc;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();

using ExtendFunction = uint32_t (*)(uint32_t, const void*, size_t);

ExtendFunction ChooseImplementation() {
  return Crc32cHardwareAvailable() ? &Crc32cExtendHardware : &Crc32cExtendPortable;
}

}  // namespace

uint32_t Crc32cExtendPortable(uint32_t crc, const void* data, size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = (crc >> 8) ^ kTable[(crc ^ bytes[i]) & 0xFFu];
  return ~crc;
}

#if defined(__x86_64__)

bool Crc32cHardwareAvailable() {
  return __builtin_cpu_supports("sse4.2");
}

__attribute__((target("sse4.2"))) uint32_t Crc32cExtendHardware(uint32_t crc, const void* data,
                                                                size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  uint64_t state = ~crc;
  for (; size >= 8; size -= 8, bytes += 8) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof(word));  // the data need not be aligned
    state = _mm_crc32_u64(state, word);
  }
  uint32_t state32 = static_cast<uint32_t>(state);
  for (; size > 0; --size, ++bytes) state32 = _mm_crc32_u8(state32, *bytes);
  return ~state32;
}

#else

bool Crc32cHardwareAvailable() {
  return false;
}

uint32_t Crc32cExtendHardware(uint32_t crc, const void* data, size_t size) {
  return Crc32cExtendPortable(crc, data, size);
}

#endif

uint32_t Crc32cExtend(uint32_t crc, const void* data, size_t size) {
  static const ExtendFunction implementation = ChooseImplementation();
  return implementation(crc, data, size);
}
