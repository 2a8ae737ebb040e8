// The shared library exports its public interface and nothing of its internals.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string DefinedDynamicSymbols() {
  std::string command = std::string("nm -DC --defined-only '") + OBJSTORE_SHARED_LIBRARY + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return std::string();
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

bool Exports(const std::string& symbols, const std::string& name) {
  // nm prints "<address> <type> <name>"; match the name after the type letter.
  return symbols.find(" " + name) != std::string::npos;
}

TEST(SharedLibraryExports, PublicInterfaceIsExported) {
  const std::string symbols = DefinedDynamicSymbols();
  ASSERT_FALSE(symbols.empty()) << "nm found no symbols in " << OBJSTORE_SHARED_LIBRARY;
  const char* exported[] = {
      "ObjectStore::initBackupInterace(",
      "ObjectStore::BackupInterface::getController(",
      "ObjectStore::BackupInterface::setCallBack(",
      "ObjectStore::BackupInterface::getStreamHandler(",
      "ObjectStore::BackupInterface::releaseStreamHandler(",
      "ObjectStore::BackupInterface::sendItem(",
      "ObjectStore::BackupInterface::endBackup(",
      "ObjectStore::BackupInterface::waitForRestartThread(",
      "ObjectStore::ChunkCommitHandler::commitUpdate(",
      "ObjectStore::StreamInfo::getCommitGUIDList(",
      "ObjectStore::ObjStoreJobInfo::init(",
      "ObjectStore::ObjectStoreStatic::CreateDir(",
      "ObjectStore::ObjectStoreStatic::rootDir",
      "ObjectStore::NFSObjectStorePLConfigurator::configurePipelineArguments(",
      "FileParser::putData(",
      "ObjectStore::GetMaxUncommittedCount(",
      "ObjectStore::gObjToAppIdMap",
      "ObjectStore::gObjectCreationLock",
      "ObjectStore::gConfigurator",
      "ObjectStore::gThreadSyncMap",
      "ObjectStore::gThreadSyncLock",
      "ObjectStore::gStreams",
      "ObjectStore::gStreamLock",
  };
  for (const char* name : exported) EXPECT_TRUE(Exports(symbols, name)) << name;
}

TEST(SharedLibraryExports, InternalsAreHidden) {
  const std::string symbols = DefinedDynamicSymbols();
  ASSERT_FALSE(symbols.empty());
  const char* hidden[] = {
      "ObjectStore::fastChecksum(",
      "ObjectStore::OBJECT_STORE_START_PERF_COUNTER(",
      "ObjectStore::OBJECT_STORE_STOP_PERF_COUNTER(",
      "ObjectStore::PerfCounters",
      "ObjectStore::ReadStreamKey(",
      "ObjectStore::GetBackupTimings(",
  };
  for (const char* name : hidden) EXPECT_FALSE(Exports(symbols, name)) << name;
}

}  // namespace
