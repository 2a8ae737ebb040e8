// World: what the harness's runs share in one process: a work directory (on tmpfs when there
// is one, since the pipeline syncs at every commit), the settings file, and a disk cache whose
// items are cached once, the first time a run names them, and read by every later run.
// A run gets a fresh library root and backup store of its own (freshRun).
#ifndef OBJSTORE_TESTS_STRESS_WORLD_H_
#define OBJSTORE_TESTS_STRESS_WORLD_H_

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "DirectoryDiskCache.h"
#include "DiskCacheContext.h"
#include "SectionV.h"

namespace stress {

class World {
 public:
  // Item kinds, by the letter that ends their names.
  static constexpr char kSmall = 's', kBig = 'b', kMissing = 'm', kDamaged = 'd', kEmpty = 'e';

  // Makes the work directory under `parent` (empty: /dev/shm when writable, else TMPDIR or /tmp).
  explicit World(const std::string& parent);
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  // Empties the previous run's root and store, and points the library and the pipeline at new
  // ones. False, with `why`, when the library refused the root.
  bool freshRun(std::string* why);
  const std::string& root() const { return root_; }
  // The current run's backup store.
  std::string storeDir() const { return dir_ + "/run/store"; }

  // The sections cached for `name` (before a damaged item is cut short).
  static std::vector<ObjectStore::SectionV> SectionsOf(const std::string& name);

  // Caches `name` unless it is cached already, as the kind its last letter names: a missing item
  // is never cached; a damaged one is a segment file cut short. Thread-safe.
  void ensureCached(const std::string& name);

  ObjectStore::DirectoryDiskCache& cache() { return *cache_; }
  ObjectStore::DiskCacheContext& context() { return context_; }

 private:
  std::string dir_;
  std::string root_;
  std::unique_ptr<ObjectStore::DirectoryDiskCache> cache_;
  ObjectStore::DiskCacheContext context_;
  std::mutex mutex_;
  std::set<std::string> cached_;
};

}  // namespace stress

#endif  // OBJSTORE_TESTS_STRESS_WORLD_H_
