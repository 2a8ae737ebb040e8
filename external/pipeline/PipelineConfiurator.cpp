#include "PipelineConfiurator.h"

namespace OBJECTOPSAPI {

CUxError PipelineConfiurator::configurePipelineArguments(SetupPipelineArgs_t* /*args*/,
                                                         FVBasePtr /*owner*/) {
  return CUxError();
}

CUxError PipelineConfiurator::configureArchiveArguments(CreateArgs_t* /*args*/,
                                                        FVBasePtr /*owner*/) {
  return CUxError();
}

}  // namespace OBJECTOPSAPI
