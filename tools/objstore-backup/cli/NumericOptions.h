// Numeric options of the command line, read exactly: decimal digits only (a leading zero does
// not make a number octal), no fractions, nothing that overflows. A value out of range is
// refused with one line that names the option and the range in plain numbers.
#ifndef OBJSTORE_HOST_NUMERICOPTIONS_H_
#define OBJSTORE_HOST_NUMERICOPTIONS_H_

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

namespace objstore_host {

// Reads `text` as a whole decimal number from `min` to `max` (a '-' only when min < 0).
bool ReadDecimal(const std::string& text, int64_t min, int64_t max, int64_t* value);
bool ReadDecimal(const std::string& text, uint64_t min, uint64_t max, uint64_t* value);

// Adds an option `name` (or several names, comma-separated, the first shown in errors) whose
// value is a whole number from `min` to `max`, stored in `value` (whose current value shows as
// the default in --help, with the range when it is narrower than the type's).
CLI::Option* AddIntegerOption(CLI::App* command, const std::string& name, int64_t* value,
                              int64_t min, int64_t max, const std::string& description);
CLI::Option* AddIntegerOption(CLI::App* command, const std::string& name, int32_t* value,
                              int32_t min, int32_t max, const std::string& description);
CLI::Option* AddIntegerOption(CLI::App* command, const std::string& name, uint32_t* value,
                              uint32_t min, uint32_t max, const std::string& description);
CLI::Option* AddIntegerOption(CLI::App* command, const std::string& name, uint64_t* value,
                              uint64_t min, uint64_t max, const std::string& description);
// The same for a size: bytes, or a number followed by KiB, MiB or GiB.
CLI::Option* AddSizeOption(CLI::App* command, const std::string& name, uint64_t* value,
                           uint64_t min, uint64_t max, const std::string& description);

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_NUMERICOPTIONS_H_
