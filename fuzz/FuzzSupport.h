// Helpers of the fuzz harnesses: a scratch directory that lives as long as the process, and
// whole-file writes into it. The harnesses feed file readers, so each input goes into a file.
#ifndef OBJSTORE_FUZZ_FUZZSUPPORT_H_
#define OBJSTORE_FUZZ_FUZZSUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace objstore_fuzz {

// A directory of this process, made at first use and removed at exit.
const std::string& ScratchDir();

// Replaces `path` with the `size` bytes at `data`; aborts when it cannot (a broken harness,
// not a finding).
void WriteWholeFile(const std::string& path, const void* data, size_t size);
inline void WriteWholeFile(const std::string& path, const std::string& text) {
  WriteWholeFile(path, text.data(), text.size());
}

// Silences the library's log: a fuzzer's output is its findings.
void SilenceLog();

}  // namespace objstore_fuzz

#endif  // OBJSTORE_FUZZ_FUZZSUPPORT_H_
