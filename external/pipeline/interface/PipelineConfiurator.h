// PipelineConfiurator: lets the pipeline's user add settings to a job's pipeline and archive
// arguments. The base does nothing and succeeds.
#ifndef OBJSTORE_PIPELINE_PIPELINECONFIURATOR_H_
#define OBJSTORE_PIPELINE_PIPELINECONFIURATOR_H_

#include <boost/shared_ptr.hpp>

#include "CUxError.h"
#include "FVBase.h"
#include "PipelineArgs.h"

namespace OBJECTOPSAPI {

class PipelineConfiurator {
 public:
  virtual ~PipelineConfiurator() = default;
  virtual CUxError configurePipelineArguments(SetupPipelineArgs_t* args, FVBasePtr owner);
  virtual CUxError configureArchiveArguments(CreateArgs_t* args, FVBasePtr owner);
};
typedef boost::shared_ptr<PipelineConfiurator> PipelineConfiuratorPtr;

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_PIPELINECONFIURATOR_H_
