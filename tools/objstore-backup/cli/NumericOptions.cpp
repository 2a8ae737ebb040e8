#include "NumericOptions.h"

#include <limits>

#include "ByteSize.h"

namespace objstore_host {

namespace {

bool ReadDigits(const std::string& digits, uint64_t* value) {
  if (digits.empty()) return false;
  *value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9' || *value > (UINT64_MAX - (c - '0')) / 10) return false;
    *value = *value * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

[[noreturn]] void Refuse(const std::string& name, const std::string& text, const std::string& min,
                         const std::string& max, const char* what) {
  throw CLI::ValidationError(name, "[" + text + "] is not " + what + " from " + min + " to " + max);
}

// Adds a string option whose callback reads the number and stores it.
// The name errors show: the first of `names` ("--job,--job-id").
std::string ShownName(const std::string& names) {
  return names.substr(0, names.find(','));
}

// A range the help should state: one narrower than the type's own.
template <typename T>
std::string RangeText(T min, T max) {
  if (max == std::numeric_limits<T>::max()) return "";
  return " (" + std::to_string(min) + " to " + std::to_string(max) + ")";
}

template <typename T, typename Wide>
CLI::Option* AddNumber(CLI::App* command, const std::string& names, T* value, T min, T max,
                       const std::string& description) {
  const std::string name = ShownName(names);
  CLI::Option* option = command->add_option_function<std::string>(
      names,
      [name, value, min, max](const std::string& text) {
        Wide wide = 0;
        if (!ReadDecimal(text, static_cast<Wide>(min), static_cast<Wide>(max), &wide)) {
          Refuse(name, text, std::to_string(min), std::to_string(max), "a whole number");
        }
        *value = static_cast<T>(wide);
      },
      description + RangeText(min, max));
  option->type_name("N")->default_str(std::to_string(*value));
  return option;
}

}  // namespace

bool ReadDecimal(const std::string& text, int64_t min, int64_t max, int64_t* value) {
  const bool negative = !text.empty() && text[0] == '-';
  uint64_t magnitude = 0;
  if (!ReadDigits(negative ? text.substr(1) : text, &magnitude)) return false;
  if (negative ? magnitude > uint64_t{1} << 63 : magnitude > INT64_MAX) return false;
  const int64_t number =
      negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  if (number < min || number > max) return false;
  *value = number;
  return true;
}

bool ReadDecimal(const std::string& text, uint64_t min, uint64_t max, uint64_t* value) {
  uint64_t number = 0;
  if (!ReadDigits(text, &number) || number < min || number > max) return false;
  *value = number;
  return true;
}

CLI::Option* AddIntegerOption(CLI::App* command, const std::string& name, int64_t* value,
                              int64_t min, int64_t max, const std::string& description) {
  return AddNumber<int64_t, int64_t>(command, name, value, min, max, description);
}

CLI::Option* AddIntegerOption(CLI::App* command, const std::string& name, int32_t* value,
                              int32_t min, int32_t max, const std::string& description) {
  return AddNumber<int32_t, int64_t>(command, name, value, min, max, description);
}

CLI::Option* AddIntegerOption(CLI::App* command, const std::string& name, uint32_t* value,
                              uint32_t min, uint32_t max, const std::string& description) {
  return AddNumber<uint32_t, uint64_t>(command, name, value, min, max, description);
}

CLI::Option* AddIntegerOption(CLI::App* command, const std::string& name, uint64_t* value,
                              uint64_t min, uint64_t max, const std::string& description) {
  return AddNumber<uint64_t, uint64_t>(command, name, value, min, max, description);
}

CLI::Option* AddSizeOption(CLI::App* command, const std::string& name, uint64_t* value,
                           uint64_t min, uint64_t max, const std::string& description) {
  CLI::Option* option = command->add_option_function<std::string>(
      name,
      [name, value, min, max](const std::string& text) {
        uint64_t bytes = 0;
        if (!ParseByteSize(text, &bytes) || bytes < min || bytes > max) {
          Refuse(name, text, std::to_string(min), std::to_string(max) + " bytes (e.g. 4096, 64KiB)",
                 "a size");
        }
        *value = bytes;
      },
      description);
  option->type_name("SIZE")->default_str(std::to_string(*value));
  return option;
}

}  // namespace objstore_host
