#include "PipelineOptions.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "KAPlatformInfo.h"
#include "LogWriter.h"

namespace OBJECTOPSAPI {

namespace {

std::mutex gOptionsMutex;
bool gHasOverride = false;
PipelineOptions gOverride;

// Reads an unsigned decimal environment variable; keeps `fallback` when it is unset or bad.
uint64_t NumberFromEnvironment(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  errno = 0;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || *text == '-') {
    OBJSTORE_LOG(-1, "WARN: ignoring %s=[%s]: not an unsigned decimal number", name, text);
    return fallback;
  }
  return value;
}

}  // namespace

PipelineOptions PipelineOptions::Current() {
  {
    std::lock_guard<std::mutex> lock(gOptionsMutex);
    if (gHasOverride) return gOverride;
  }
  return FromEnvironment();
}

void PipelineOptions::Override(const PipelineOptions& options) {
  std::lock_guard<std::mutex> lock(gOptionsMutex);
  gOverride = options;
  gHasOverride = true;
}

void PipelineOptions::ClearOverride() {
  std::lock_guard<std::mutex> lock(gOptionsMutex);
  gHasOverride = false;
}

PipelineOptions PipelineOptions::FromEnvironment() {
  PipelineOptions options;
  options.storeDir = ResolveStoreDir();
  options.commitItems =
      NumberFromEnvironment("OBJSTORE_PIPELINE_COMMIT_ITEMS", kDefaultCommitItems);
  options.commitBytes =
      NumberFromEnvironment("OBJSTORE_PIPELINE_COMMIT_BYTES", kDefaultCommitBytes);
  options.commitMs = NumberFromEnvironment("OBJSTORE_PIPELINE_COMMIT_MS", kDefaultCommitMs);
  return options;
}

std::string PipelineOptions::ResolveStoreDir() {
  const char* fromEnvironment = std::getenv("OBJSTORE_PIPELINE_STORE");
  if (fromEnvironment != nullptr && *fromEnvironment != '\0') return fromEnvironment;

  KAPlatformInfo settings;
  std::string dir;
  if (settings.getDirectory(kSettingsKey, kSettingsStoreDir, &dir) != 0 && !dir.empty()) return dir;
  if (settings.getString(kSettingsKey, kSettingsStoreDir, &dir) != 0 && !dir.empty()) return dir;
  return kDefaultStoreDir;
}

}  // namespace OBJECTOPSAPI
