#include "ErrorText.h"

#include <cstdio>

namespace objstore_host {

std::string ErrorText(const CUxError& error) {
  // Both ways: the guide lists errno values in decimal and the pipeline's codes in hex.
  char code[48];
  std::snprintf(code, sizeof(code), "error %u = 0x%x", error.GetErrorCode(), error.GetErrorCode());
  if (error.GetMessage().empty()) return code;
  return error.GetMessage() + " (" + code + ")";
}

}  // namespace objstore_host
