#include "CStreamHandler.h"

#include "PipelineStream.h"

namespace OBJECTOPSAPI {

CStreamHandler::CStreamHandler(boost::shared_ptr<PipelineStream> stream) : stream_(stream) {}

CStreamHandler::~CStreamHandler() = default;

uint32_t CStreamHandler::getAfileID() const {
  return stream_->aFileId();
}

CUxError CStreamHandler::sendHeader(CXFileHeader* header) {
  return stream_->sendHeader(header);
}

CUxError CStreamHandler::sendMetaData(uint32_t kind, const void* bytes, uint32_t length) {
  return stream_->sendMetaData(kind, bytes, length);
}

// Data is stored as sent; there is no single-instance store behind this pipeline.
CUxError CStreamHandler::startSingleInstanceData() {
  return CUxError();
}

CUxError CStreamHandler::sendUserBufData(const void* bytes, uint32_t length) {
  return stream_->sendData(bytes, length);
}

CUxError CStreamHandler::sendEof(bool success, const char* reason, uint32_t reasonLength) {
  return stream_->sendEof(success, reason, reasonLength);
}

CUxError CStreamHandler::commitData() {
  return stream_->requestCommit();
}

}  // namespace OBJECTOPSAPI
