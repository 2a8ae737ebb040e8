// ErrorText: a CUxError as one short line for people: its message and code, without the stack
// of code locations that the log records carry.
#ifndef OBJSTORE_HOST_ERRORTEXT_H_
#define OBJSTORE_HOST_ERRORTEXT_H_

#include <string>

#include "CUxError.h"

namespace objstore_host {

std::string ErrorText(const CUxError& error);

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_ERRORTEXT_H_
