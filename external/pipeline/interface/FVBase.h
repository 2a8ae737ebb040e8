// FVBase: root base class of the pipeline library's shared objects.
#ifndef OBJSTORE_PIPELINE_FVBASE_H_
#define OBJSTORE_PIPELINE_FVBASE_H_

#include <boost/shared_ptr.hpp>

namespace OBJECTOPSAPI {

class FVBase {
 public:
  virtual ~FVBase() = default;
};
typedef boost::shared_ptr<FVBase> FVBasePtr;

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_FVBASE_H_
