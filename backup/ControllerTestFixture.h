// A backup job's surroundings for controller tests: a temporary root directory, settings file,
// backup store and disk cache; a host callback that collects committed items; and helpers that
// cache items the way the object store does.
#ifndef OBJSTORE_BACKUP_CONTROLLERTESTFIXTURE_H_
#define OBJSTORE_BACKUP_CONTROLLERTESTFIXTURE_H_

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <condition_variable>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "BackupOptions.h"
#include "DirectoryDiskCache.h"
#include "KaCriticalSectionLock.h"
#include "MakeCXFileHeader.h"
#include "ObjStoreBackupInterface.h"
#include "PipelineFaults.h"
#include "PipelineOptions.h"
#include "TestSupport.h"

namespace objstore_testing {

// A short, distinct item name. Short names choose their stream by their first character, so
// these all go to one stream; tests that need a spread use longer keys.
inline std::string Guid(int i) {
  return "guid-" + std::to_string(i);
}

// What the host's commit callback received.
struct CommitLog {
  struct Call {
    uint32_t aFileId;
    std::list<std::string> items;
    void* context;
  };
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Call> calls;

  static void OnCommit(uint32_t aFileId, std::list<std::string> items, void* context) {
    CommitLog* log = static_cast<CommitLog*>(context);
    std::lock_guard<std::mutex> lock(log->mutex);
    log->calls.push_back(Call{aFileId, items, context});
    log->changed.notify_all();
  }
  std::vector<std::string> committedItems() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> all;
    for (const Call& call : calls) all.insert(all.end(), call.items.begin(), call.items.end());
    return all;
  }
};

class ControllerTest : public ::testing::Test {
 protected:
  ControllerTest()
      : settings_("OBJSTORE_SETTINGS_FILE", tmp_.sub("settings")), cache_(tmp_.sub("cache")) {}

  void SetUp() override {
    OBJECTOPSAPI::PipelineFaults::Clear();
    OBJECTOPSAPI::PipelineOptions options;
    options.storeDir = tmp_.sub("store");
    options.commitItems = 0;  // commits only when asked for, unless a test says otherwise
    options.commitBytes = 0;
    options.commitMs = 0;
    OBJECTOPSAPI::PipelineOptions::Override(options);
    ASSERT_EQ(0, mkdir(tmp_.sub("base").c_str(), 0755));
    ASSERT_TRUE(ObjectStore::initBackupInterace(tmp_.sub("base")));
    ChangeOptions([](ObjectStore::BackupOptions& options) {
      options.commitWaitMs = 100;
      options.cleanupPollMs = 1;
      options.restartWaitMs = 5;
    });
  }

  void TearDown() override {
    OBJECTOPSAPI::PipelineFaults::Clear();
    // A controller and its commit handler hold each other until the job ends.
    for (const ObjectStore::BackupInterfacePtr& controller : started_) {
      std::list<std::string> failed;
      if (controller->holdsCommitHandler()) controller->endBackup(failed, false);
    }
    OBJECTOPSAPI::PipelineOptions::ClearOverride();
    ObjectStore::SetBackupOptions(ObjectStore::BackupOptions());
  }

  // Changes the process's options for the jobs started from now on.
  template <typename Change>
  static void ChangeOptions(Change change) {
    ObjectStore::BackupOptions options = ObjectStore::GetBackupOptions();
    change(options);
    CUxError error = ObjectStore::SetBackupOptions(options);
    ASSERT_FALSE(error.IsError()) << error.AsString();
  }

  OBJECTOPSAPI::JobInfoPtr job(int appId, uint32_t numStreams, int64_t jobId = 100) {
    OBJECTOPSAPI::JobInfoPtr info(new OBJECTOPSAPI::JobInfo());
    info->appId = appId;
    info->jobId = jobId;
    info->numStreams = numStreams;
    return info;
  }

  // Starts a job and registers the collecting callback.
  ObjectStore::BackupInterfacePtr start(int appId, uint32_t numStreams, int64_t jobId = 100) {
    ObjectStore::BackupInterfacePtr controller;
    CUxError error = ObjectStore::BackupInterface::getController(job(appId, numStreams, jobId),
                                                                 controller, false);
    EXPECT_FALSE(error.IsError()) << error.AsString();
    if (controller) {
      controller->setCallBack(&CommitLog::OnCommit, &commits_);
      started_.push_back(controller);
    }
    return controller;
  }

  // Caches an item whose header key is `key`, with metadata and `dataSections` data sections.
  void cacheItem(const std::string& guid, const std::string& key, int dataSections = 1,
                 size_t dataBytes = 100) {
    std::vector<ObjectStore::SectionV> sections;
    sections.push_back(headerSection(guid, key));
    ObjectStore::SectionV meta;
    meta.type = ObjectStore::kSectionMetaData;
    meta.metaDataType = 7;
    meta.data.assign(20, 'm');
    sections.push_back(meta);
    for (int i = 0; i < dataSections; ++i) {
      ObjectStore::SectionV data;
      data.type = ObjectStore::kSectionFileData;
      data.data.assign(dataBytes, static_cast<char>('a' + i));
      sections.push_back(data);
    }
    ASSERT_FALSE(cache_.writeSegment(guid, sections).IsError());
  }

  // A 40-character hex key derived from `name`, the kind of second identifier that spreads
  // items over every stream (a key of 32 characters or fewer chooses by its first alone).
  static std::string KeyFor(const std::string& name) {
    uint64_t hash = 1469598103934665603ull;  // FNV-1a
    std::string key;
    while (key.size() < 40) {
      for (char c : name + key) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
      char digits[17];
      snprintf(digits, sizeof(digits), "%016llx", static_cast<unsigned long long>(hash));
      key += digits;
    }
    return key.substr(0, 40);
  }

  static ObjectStore::SectionV headerSection(const std::string& guid, const std::string& key) {
    OBJECTOPSAPI::CXFileHeader header = OBJECTOPSAPI::MakeCXFileHeader(guid, key);
    ObjectStore::SectionV section;
    section.type = ObjectStore::kSectionStreamHeader;
    const char* bytes = reinterpret_cast<const char*>(&header);
    section.data.assign(bytes, bytes + sizeof(header));
    return section;
  }

  // Registry sizes, read under their locks.
  static size_t registeredControllers(int appId) {
    KaCriticalSectionLock lock(&ObjectStore::gObjectCreationLock);
    return ObjectStore::gObjToAppIdMap.count(appId);
  }
  static size_t registeredStreams() {
    KaCriticalSectionLock lock(&ObjectStore::gStreamLock);
    return ObjectStore::gStreams.size();
  }
  static ObjectStore::StreamInfoPtr registeredStream(uint32_t aFileId) {
    KaCriticalSectionLock lock(&ObjectStore::gStreamLock);
    auto found = ObjectStore::gStreams.find(aFileId);
    return found == ObjectStore::gStreams.end() ? ObjectStore::StreamInfoPtr() : found->second;
  }

  std::string jobDirectory(int64_t jobId = 100) {
    return ObjectStore::ObjectStoreStatic::rootDir + "/" + std::to_string(jobId);
  }

  TempDir tmp_;
  ScopedEnv settings_;
  ObjectStore::DirectoryDiskCache cache_;
  ObjectStore::DiskCacheContext context_;
  CommitLog commits_;
  std::vector<ObjectStore::BackupInterfacePtr> started_;
};

}  // namespace objstore_testing

#endif  // OBJSTORE_BACKUP_CONTROLLERTESTFIXTURE_H_
