#include "ErrorText.h"

namespace objstore_host {

std::string ErrorText(const CUxError& error) {
  const std::string code = "error " + std::to_string(error.GetErrorCode());
  if (error.GetMessage().empty()) return code;
  return error.GetMessage() + " (" + code + ")";
}

}  // namespace objstore_host
