// The error codes that the pipeline library's operations return.
#ifndef OBJSTORE_PIPELINE_PIPELINEERRORS_H_
#define OBJSTORE_PIPELINE_PIPELINEERRORS_H_

#include <cstdint>

namespace OBJECTOPSAPI {

enum PipelineErrorCode : uint32_t {
  kPipelineInvalidArgument = 0x7001,  // null pointer, bad text, call in the wrong state
  kPipelineStreamLimit = 0x7002,      // the job has already handed out numStreams streams
  kPipelineJobEnded = 0x7003,         // the job has ended (or was never fully started)
  kPipelineStreamReleased = 0x7004,   // the stream handler was released
  kPipelineIoError = 0x7005,          // the backup store could not be written or read
  kPipelineInjectedFault = 0x7006,    // a failure asked for by the fault plan
  kPipelineUnknownStream = 0x7007,    // no running job has a stream with this aFile ID
  kPipelineNoCallback = 0x7008,       // no commit handler is registered for the job
  kPipelineBadStore = 0x7009,         // a store file is damaged or not a store file
};

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_PIPELINEERRORS_H_
