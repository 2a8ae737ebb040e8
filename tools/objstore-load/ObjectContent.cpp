#include "ObjectContent.h"

#include <cstring>

namespace objstore_load {

namespace {

uint64_t SplitMix(uint64_t* state) {
  uint64_t z = (*state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// One state per (seed, key, generation): two generations of a key never share their bytes.
uint64_t StateOf(uint64_t seed, const std::string& key, uint64_t gen) {
  uint64_t state = seed ^ 0x6a09e667f3bcc908ULL;
  for (unsigned char c : key) state = (state ^ c) * 0x100000001b3ULL;
  state ^= gen * 0xd1342543de82ef95ULL;
  SplitMix(&state);
  return state;
}

uint64_t Between(uint64_t draw, uint64_t low, uint64_t high) {
  return low + draw % (high - low + 1);
}

}  // namespace

uint64_t ObjectSize(uint64_t seed, const std::string& key, uint64_t gen, const SizeMix& mix) {
  if (mix.fixedSize != 0) return mix.fixedSize;
  uint64_t state = StateOf(seed, key, gen) ^ 0x5151;
  const uint64_t bucket = SplitMix(&state) % 100;
  const uint64_t draw = SplitMix(&state);
  uint64_t size = 0;
  if (bucket < 3) {
    size = 0;
  } else if (bucket < 80) {
    size = Between(draw, 1, 4096);
  } else if (bucket < 97) {
    size = Between(draw, 4097, 65536);
  } else {
    size = Between(draw, 65537, 1 << 20);
  }
  return size < mix.maxSize ? size : mix.maxSize;
}

void ObjectBytes(uint64_t seed, const std::string& key, uint64_t gen, uint64_t size,
                 std::string* out) {
  out->resize(size);
  uint64_t state = StateOf(seed, key, gen);
  char* bytes = &(*out)[0];
  size_t at = 0;
  for (; at + 8 <= size; at += 8) {
    const uint64_t word = SplitMix(&state);
    std::memcpy(bytes + at, &word, 8);
  }
  if (at < size) {
    const uint64_t word = SplitMix(&state);
    std::memcpy(bytes + at, &word, size - at);
  }
}

uint64_t ContentDigest(const char* bytes, size_t size) {
  uint64_t hash = 0xcbf29ce484222325ULL ^ size;
  size_t at = 0;
  for (; at + 8 <= size; at += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + at, 8);
    hash = (hash ^ word) * 0x100000001b3ULL;
    hash ^= hash >> 29;
  }
  for (; at < size; ++at) hash = (hash ^ static_cast<unsigned char>(bytes[at])) * 0x100000001b3ULL;
  return hash;
}

}  // namespace objstore_load
