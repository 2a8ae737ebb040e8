// Random: the harness's source of choices. A small generator of its own (splitmix64), so that a
// seed means the same schedule with every compiler and standard library.
#ifndef OBJSTORE_TESTS_STRESS_RANDOM_H_
#define OBJSTORE_TESTS_STRESS_RANDOM_H_

#include <cstdint>

namespace stress {

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}

  uint64_t next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  // A number in [0, n); 0 when n is 0.
  uint64_t below(uint64_t n) { return n == 0 ? 0 : next() % n; }
  // A number in [low, high].
  int64_t between(int64_t low, int64_t high) {
    return low + static_cast<int64_t>(below(static_cast<uint64_t>(high - low) + 1));
  }
  // True with a chance of `percent` in a hundred.
  bool chance(int percent) { return static_cast<int>(below(100)) < percent; }
  // A generator of its own for one part of a run, so that the choices of one part do not shift
  // those of another.
  Random fork() { return Random(next()); }

 private:
  uint64_t state_;
};

}  // namespace stress

#endif  // OBJSTORE_TESTS_STRESS_RANDOM_H_
