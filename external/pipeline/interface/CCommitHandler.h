// CCommitHandler: receives a job's commit notifications.
#ifndef OBJSTORE_PIPELINE_CCOMMITHANDLER_H_
#define OBJSTORE_PIPELINE_CCOMMITHANDLER_H_

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <string>

#include "CUxError.h"
#include "FVBase.h"

namespace OBJECTOPSAPI {

class CCommitHandler {
 public:
  // Keeps `owner` alive for the handler's whole life.
  explicit CCommitHandler(FVBasePtr owner) : owner_(owner) {}
  virtual ~CCommitHandler() = default;

  // Called on a pipeline thread, never on a thread that is inside a send, when the stream
  // `aFileId` has durably stored `sequence` items in all (decimal text).
  virtual CUxError commitUpdate(uint64_t aFileId, std::string& sequence) = 0;

 private:
  FVBasePtr owner_;
};
typedef boost::shared_ptr<CCommitHandler> CCommitHandlerPtr;

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_CCOMMITHANDLER_H_
