// CUxError: the result type of most platform, pipeline and library operations.
//
// An error is a 32-bit code (0 means success) plus details shared between copies: an optional
// message and a stack of code locations, innermost first. Copies are cheap; Push() on a copy
// never changes what another copy shows (the details are copied on write).
#ifndef OBJSTORE_PLATFORM_CUXERROR_H_
#define OBJSTORE_PLATFORM_CUXERROR_H_

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <string>
#include <vector>

// Where an error was made or passed through.
struct CUxCodeLocation {
  const char* function;  // full signature text (__PRETTY_FUNCTION__)
  const char* file;
  int line;
};

#define UX_CODE_LOCATION (CUxCodeLocation{__PRETTY_FUNCTION__, __FILE__, __LINE__})

class CUxError {
 public:
  // A success.
  CUxError() : code_(0) {}
  CUxError(uint32_t code, const CUxCodeLocation& where, std::string message);

  CUxError(const CUxError&) = default;
  CUxError& operator=(const CUxError&) = default;

  // Resets this object to success and returns it.
  CUxError& Success();

  bool IsError() const { return code_ != 0; }
  uint32_t GetErrorCode() const { return code_; }
  const std::string& GetMessage() const;

  // One line: code, message and every location ("code [N = 0xH] msg [..] at f (file:line) <- ...").
  std::string AsString() const;

  // Adds the caller's location to the stack and returns this same error.
  CUxError& Push(const CUxCodeLocation& where);

  // Number of code locations recorded (the creation site counts as one).
  size_t LocationCount() const;

 private:
  struct Details {
    std::string message;
    std::vector<CUxCodeLocation> locations;
  };
  uint32_t code_;
  boost::shared_ptr<Details> details_;
};

// Makes an error at `where` with `code` and an optional printf-style message.
CUxError CUxMakeError(const CUxCodeLocation& where, uint32_t code);
CUxError CUxMakeError(const CUxCodeLocation& where, uint32_t code, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// The platform's error utility: UX_ERROR(code) or UX_ERROR(code, "fmt", args...).
#define UX_ERROR(...) CUxMakeError(UX_CODE_LOCATION, __VA_ARGS__)

#endif  // OBJSTORE_PLATFORM_CUXERROR_H_
