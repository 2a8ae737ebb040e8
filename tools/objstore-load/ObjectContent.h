// ObjectContent: the bytes a load client PUTs under a key, derived from (seed, key, generation)
// alone, so that a checker regenerates every object from the request log instead of keeping it.
//
// A generation counts the PUTs of one key by its client (1, 2, ...); a retried PUT reuses its
// generation and so sends the same bytes. Sizes follow a mix that is mostly small: an empty
// object now and then, most under 4 KiB, some up to 64 KiB, a few up to the mix's largest size.
// All functions are pure and thread-safe.
#ifndef OBJSTORE_LOAD_OBJECTCONTENT_H_
#define OBJSTORE_LOAD_OBJECTCONTENT_H_

#include <cstdint>
#include <string>

namespace objstore_load {

struct SizeMix {
  // Every object has this size when it is not zero; otherwise sizes follow the mix.
  uint64_t fixedSize = 0;
  uint64_t maxSize = 1 << 20;
};

// The size of generation `gen` of `key`: at most mix.maxSize.
uint64_t ObjectSize(uint64_t seed, const std::string& key, uint64_t gen, const SizeMix& mix);

// Replaces `out` with the `size` bytes of generation `gen` of `key`.
void ObjectBytes(uint64_t seed, const std::string& key, uint64_t gen, uint64_t size,
                 std::string* out);

// A 64-bit digest of `bytes` (FNV-1a over 8-byte words, then the tail), to compare stored copies
// with generated ones without keeping either.
uint64_t ContentDigest(const char* bytes, size_t size);
inline uint64_t ContentDigest(const std::string& bytes) {
  return ContentDigest(bytes.data(), bytes.size());
}

}  // namespace objstore_load

#endif  // OBJSTORE_LOAD_OBJECTCONTENT_H_
