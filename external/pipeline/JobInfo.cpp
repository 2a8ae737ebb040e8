#include "JobInfo.h"

namespace OBJECTOPSAPI {

// The flags and the configurator describe how one particular start of a job is run, so a copy
// (for example the job cache's record of the description) starts with their defaults.
JobInfo::JobInfo(const JobInfo& other)
    : numStreams(other.numStreams),
      attr1(other.attr1),
      text1(other.text1),
      jobId(other.jobId),
      attr2(other.attr2),
      appId(other.appId),
      attr3(other.attr3),
      attr4(other.attr4),
      attr5(other.attr5),
      text2(other.text2),
      text3(other.text3),
      text4(other.text4),
      attr6(other.attr6),
      attr7(other.attr7) {}

}  // namespace OBJECTOPSAPI
