// RestartRegistration: the host's side of the restart protocol for one application, as a scope.
//
// While a registration of an application lives, gThreadSyncMap holds an entry for it, so every
// getController for that application waits (BackupInterface::waitForRestartThread), except the
// restart thread's own call (isRestartThread true). The destructor, or an earlier finish(),
// erases the entry and sets its event, which wakes the waiters at once instead of at the end of
// their round: a host that throws out of its restart thread leaves no entry behind.
//
// Registrations of one application nest by count: a second one made while the first lives
// shares its entry, and the entry goes when the last of them finishes, whatever the order.
// Waiters therefore wait until every restart thread of the application is done, and no
// registration can erase an entry that another still needs.
//
// Do not mix a registration with entries the host writes into gThreadSyncMap by hand for the
// same application: the first registration replaces such an entry, and the last one erases the
// entry only while it is still the registrations' own.
#ifndef OBJSTORE_BACKUP_RESTARTREGISTRATION_H_
#define OBJSTORE_BACKUP_RESTARTREGISTRATION_H_

#include "ObjStoreExport.h"
#include "RestartRegistry.h"
#include "ThreadAnnotations.h"

namespace ObjectStore {

class OBJSTORE_API RestartRegistration {
 public:
  // Registers the application `appId`; make it before the restart thread asks for the
  // controller. Takes gThreadSyncLock alone; never blocks for longer than that.
  explicit RestartRegistration(int appId);
  // finish(), when the registration still holds its share.
  ~RestartRegistration();

  // Takes over `other`'s share of the registration; `other` then holds none, and its
  // destruction or finish() changes nothing.
  RestartRegistration(RestartRegistration&& other) noexcept;
  // Finishes this registration's own share first, then takes over `other`'s.
  RestartRegistration& operator=(RestartRegistration&& other) noexcept;
  RestartRegistration(const RestartRegistration&) = delete;
  RestartRegistration& operator=(const RestartRegistration&) = delete;

  // Gives up this registration's share. When it was the last of the application's, erases the
  // entry and then sets its event, so that the waiters wake and find no entry. Thread-safe;
  // later calls, and calls on a moved-from registration, do nothing.
  void finish();

  // Whether this registration still holds a share (false once finished or moved from).
  bool active() const;

  int appId() const { return appId_; }

 private:
  void dropShare(SyncEventPtr* toWake) REQUIRES(gThreadSyncLock);

  int appId_;
  SyncEventPtr entry_ GUARDED_BY(gThreadSyncLock);  // null: no share held
};

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_RESTARTREGISTRATION_H_
