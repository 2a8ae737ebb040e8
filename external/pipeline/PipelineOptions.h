// PipelineOptions: where the backup store lives and when streams commit.
//
// Each job takes a copy of the process's options when it starts. The options come from
// Override() when a program set one, otherwise from the environment:
//   OBJSTORE_PIPELINE_STORE         store directory; when unset, the settings store's key
//                                   "Pipeline", value "sStoreDir"; else
//                                   /var/tmp/objstore-pipeline-store
//   OBJSTORE_PIPELINE_COMMIT_ITEMS  commit a stream after this many items (default 1000)
//   OBJSTORE_PIPELINE_COMMIT_BYTES  ... or at the end of an item once this many bytes were sent
//                                   since its last commit (default 64 MiB)
//   OBJSTORE_PIPELINE_COMMIT_MS     ... or this many milliseconds after its last commit, when it
//                                   holds uncommitted items (default 1000)
// A threshold of 0 switches that trigger off. Malformed values are logged and ignored.
#ifndef OBJSTORE_PIPELINE_PIPELINEOPTIONS_H_
#define OBJSTORE_PIPELINE_PIPELINEOPTIONS_H_

#include <cstdint>
#include <string>

namespace OBJECTOPSAPI {

struct PipelineOptions {
  static constexpr uint64_t kDefaultCommitItems = 1000;
  static constexpr uint64_t kDefaultCommitBytes = 64ull << 20;
  static constexpr uint64_t kDefaultCommitMs = 1000;
  static constexpr const char* kDefaultStoreDir = "/var/tmp/objstore-pipeline-store";
  static constexpr const char* kSettingsKey = "Pipeline";
  static constexpr const char* kSettingsStoreDir = "sStoreDir";

  std::string storeDir;  // empty: resolved from the environment and settings at job start
  uint64_t commitItems = kDefaultCommitItems;
  uint64_t commitBytes = kDefaultCommitBytes;
  uint64_t commitMs = kDefaultCommitMs;

  // The options jobs started now use. Thread-safe.
  static PipelineOptions Current();
  // Makes every later job use `options` instead of the environment (tests, embedding programs).
  static void Override(const PipelineOptions& options);
  // Goes back to the environment.
  static void ClearOverride();
  // The options the environment and the settings store give, with defaults for the rest.
  static PipelineOptions FromEnvironment();
  // The store directory the environment and the settings store give.
  static std::string ResolveStoreDir();
};

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_PIPELINEOPTIONS_H_
