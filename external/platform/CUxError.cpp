#include "CUxError.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

const char* BaseName(const char* path) {
  if (path == nullptr) return "?";
  const char* slash = strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

std::string FormatV(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int size = vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (size <= 0) return std::string();
  std::string text(static_cast<size_t>(size), '\0');
  vsnprintf(&text[0], text.size() + 1, fmt, args);
  return text;
}

}  // namespace

CUxError::CUxError(uint32_t code, const CUxCodeLocation& where, std::string message)
    : code_(code), details_(new Details) {
  details_->message = std::move(message);
  details_->locations.push_back(where);
}

CUxError& CUxError::Success() {
  code_ = 0;
  details_.reset();
  return *this;
}

const std::string& CUxError::GetMessage() const {
  static const std::string kEmpty;
  return details_ ? details_->message : kEmpty;
}

std::string CUxError::AsString() const {
  // Decimal and hexadecimal: errno values read best in decimal, the pipeline's codes in hex.
  char code[32];
  std::snprintf(code, sizeof(code), "%u = 0x%x", code_, code_);
  std::string text = std::string("code [") + code + "]";
  if (!details_) return text;
  if (!details_->message.empty()) text += " msg [" + details_->message + "]";
  const char* separator = " at ";
  for (const CUxCodeLocation& where : details_->locations) {
    text += separator;
    text += where.function != nullptr ? where.function : "?";
    text += " (";
    text += BaseName(where.file);
    text += ":" + std::to_string(where.line) + ")";
    separator = " <- ";
  }
  return text;
}

CUxError& CUxError::Push(const CUxCodeLocation& where) {
  // Copies share the details; copy them before changing so no other copy sees this location.
  if (!details_) {
    details_.reset(new Details);
  } else if (details_.use_count() > 1) {
    details_.reset(new Details(*details_));
  }
  details_->locations.push_back(where);
  return *this;
}

size_t CUxError::LocationCount() const {
  return details_ ? details_->locations.size() : 0;
}

CUxError CUxMakeError(const CUxCodeLocation& where, uint32_t code) {
  return CUxError(code, where, std::string());
}

CUxError CUxMakeError(const CUxCodeLocation& where, uint32_t code, const char* fmt, ...) {
  std::string message;
  if (fmt != nullptr) {
    va_list args;
    va_start(args, fmt);
    message = FormatV(fmt, args);
    va_end(args);
  }
  return CUxError(code, where, std::move(message));
}
