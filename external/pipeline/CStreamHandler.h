// CStreamHandler: one stream of a backup job.
//
// A stream takes items one after another: a header, any metadata and data sections, and an
// end-of-file record. One thread at a time sends on a stream; commitData() may be called by that
// thread between items. Sends are buffered; commits happen on the pipeline's own thread.
//
// Counting. A stream's commit sequence number, the text that commitUpdate receives, is the
// number of the stream's items that are committed, counted from the first item the stream ever
// ended. Every sendEof call ends one item, and the number counts that item whether the call
// succeeds or fails (an end-of-file that fails ends its item as abandoned) and whether or not
// any section of the item was accepted. Items are committed in the order they were ended. A
// stream that can no longer commit (its job has ended, or a write to the store failed) ends no
// further item: nothing it would count can be reported any more. Callers keep their own count
// by the same rule.
//
// Flow control. Under a flow window (PipelineFaults.h), sendEof returns only once the stream has
// room: fewer than n ended items whose commit has not yet been reported through commitUpdate.
// A caller must therefore not hold, across sendEof, anything its commitUpdate needs.
#ifndef OBJSTORE_PIPELINE_CSTREAMHANDLER_H_
#define OBJSTORE_PIPELINE_CSTREAMHANDLER_H_

#include <boost/shared_ptr.hpp>
#include <cstdint>

#include "CUxError.h"
#include "CXFileHeader.h"

namespace OBJECTOPSAPI {

class PipelineStream;  // the pipeline's own state of one stream

class CStreamHandler {
 public:
  explicit CStreamHandler(boost::shared_ptr<PipelineStream> stream);
  ~CStreamHandler();
  CStreamHandler(const CStreamHandler&) = delete;
  CStreamHandler& operator=(const CStreamHandler&) = delete;

  // The stream's aFile ID: fixed for its life, unique across all jobs of the process.
  uint32_t getAfileID() const;

  CUxError sendHeader(CXFileHeader* header);
  CUxError sendMetaData(uint32_t kind, const void* bytes, uint32_t length);
  CUxError startSingleInstanceData();
  CUxError sendUserBufData(const void* bytes, uint32_t length);
  // Ends the current item; `success` false marks it as failed in the store.
  CUxError sendEof(bool success, const char* reason, uint32_t reasonLength);
  // Asks for a commit of everything sent so far; the outcome arrives through commitUpdate.
  CUxError commitData();

  PipelineStream* stream() const { return stream_.get(); }

 private:
  boost::shared_ptr<PipelineStream> stream_;
};
typedef boost::shared_ptr<CStreamHandler> CStreamHandlerPtr;

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_CSTREAMHANDLER_H_
