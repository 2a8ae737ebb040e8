// The argument records with which a pipeline is set up and its archive created, and the extra
// configuration record that a configurator may attach.
#ifndef OBJSTORE_PIPELINE_PIPELINEARGS_H_
#define OBJSTORE_PIPELINE_PIPELINEARGS_H_

#include <cstdint>
#include <list>
#include <string>

namespace OBJECTOPSAPI {

struct PipelineExtraConfig_t {
  std::string configText1;
  std::string configText2;
  std::string configText3;
  std::list<uint64_t> configNumbers;
  uint32_t reservedFlags = 0;
  uint64_t reservedValue = 0;
};

// Set up by the pipeline before a job's streams open. A configurator may attach an extra
// configuration record; the pipeline owns and frees it.
struct SetupPipelineArgs_t {
  uint32_t numStreams = 0;
  int64_t jobId = 0;
  PipelineExtraConfig_t* extraConfig = nullptr;
  uint64_t extraSetting = 0;
};

struct CreateArgs_t {
  int64_t jobId = 0;
  uint64_t archiveFlags = 0;
};

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_PIPELINEARGS_H_
