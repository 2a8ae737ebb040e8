// RestartRegistration: the host's side of the restart protocol for one application.
//
// While it is registered, gThreadSyncMap holds an entry for the application, so every
// getController for it waits, except the restart thread's own (isRestartThread true). finish()
// erases the entry and sets its event, which wakes the waiters at once.
#ifndef OBJSTORE_HOST_RESTARTREGISTRATION_H_
#define OBJSTORE_HOST_RESTARTREGISTRATION_H_

#include <mutex>

#include "RestartRegistry.h"

namespace objstore_host {

class RestartRegistration {
 public:
  // Registers the entry for `appId`; call before the restart thread asks for the controller.
  explicit RestartRegistration(int appId);
  // Finishes, when finish() was not called.
  ~RestartRegistration();
  RestartRegistration(const RestartRegistration&) = delete;
  RestartRegistration& operator=(const RestartRegistration&) = delete;

  // Erases the entry and wakes the waiters. Thread-safe; later calls do nothing.
  void finish();

 private:
  const int appId_;
  ObjectStore::SyncEventPtr event_;
  std::mutex mutex_;
  bool finished_ = false;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_RESTARTREGISTRATION_H_
