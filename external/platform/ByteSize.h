// Sizes as people write them: a decimal number of bytes, or of KiB, MiB or GiB.
#ifndef OBJSTORE_PLATFORM_BYTESIZE_H_
#define OBJSTORE_PLATFORM_BYTESIZE_H_

#include <cstdint>
#include <string>

// Reads "<n>", "<n>KiB", "<n>MiB" or "<n>GiB" with n decimal digits only (no sign, no spaces,
// no leading "0x"). False for anything else and for sizes of 2^64 - 1 bytes or more.
bool ParseByteSize(const std::string& text, uint64_t* bytes);

#endif  // OBJSTORE_PLATFORM_BYTESIZE_H_
