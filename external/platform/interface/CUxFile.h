// CUxFile: one file descriptor, closed by Close() or the destructor. Error codes are errno values.
#ifndef OBJSTORE_PLATFORM_CUXFILE_H_
#define OBJSTORE_PLATFORM_CUXFILE_H_

#include "CUxError.h"

class CUxFile {
 public:
  CUxFile();
  ~CUxFile();
  CUxFile(const CUxFile&) = delete;
  CUxFile& operator=(const CUxFile&) = delete;

  // open(2) with `openFlags` and `mode`; an already open file is closed first.
  CUxError Open(const char* path, int openFlags, int mode);
  CUxError Close();
  int Descriptor() const { return fd_; }

 private:
  int fd_;
};

#endif  // OBJSTORE_PLATFORM_CUXFILE_H_
