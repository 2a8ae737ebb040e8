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
// Flow control. A pipeline may hold sendEof until the stream has room: under a flow window of n
// items (the stand-in's fault plan sets one), until fewer than n ended items wait for their
// commit to be reported through commitUpdate. A caller must therefore not hold, across sendEof,
// anything its commitUpdate needs.
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

 private:
  // Handlers are made and released by their job's controller.
  friend class CSynchronousBackup;
  explicit CStreamHandler(boost::shared_ptr<PipelineStream> stream);

  boost::shared_ptr<PipelineStream> stream_;
};
typedef boost::shared_ptr<CStreamHandler> CStreamHandlerPtr;

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_CSTREAMHANDLER_H_
