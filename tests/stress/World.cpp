#include "World.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "CUxDirectory.h"
#include "MakeCXFileHeader.h"
#include "ObjectStoreStatic.h"
#include "PipelineOptions.h"
#include "SectionTypes.h"

namespace stress {

namespace {

std::string DefaultParent() {
  if (access("/dev/shm", W_OK) == 0) return "/dev/shm";
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

uint64_t Hash(const std::string& text) {
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return hash;
}

// A 40-character hex key: long keys spread items over every stream of a job.
std::string KeyFor(const std::string& name) {
  std::string key;
  uint64_t hash = Hash(name);
  while (key.size() < 40) {
    char digits[17];
    snprintf(digits, sizeof(digits), "%016llx", static_cast<unsigned long long>(hash));
    key += digits;
    hash = hash * 6364136223846793005ull + 1442695040888963407ull;
  }
  return key.substr(0, 40);
}

ObjectStore::SectionV Section(int32_t type, size_t bytes, char fill) {
  ObjectStore::SectionV section;
  section.type = type;
  section.data.assign(bytes, fill);
  return section;
}

}  // namespace

// Sizes from 0 bytes up: most items small, a big one with a data section past the pipeline's
// direct-write size.
std::vector<ObjectStore::SectionV> World::SectionsOf(const std::string& name) {
  const char kind = name.empty() ? kSmall : name.back();
  std::vector<ObjectStore::SectionV> sections;
  OBJECTOPSAPI::CXFileHeader header = OBJECTOPSAPI::MakeCXFileHeader(name, KeyFor(name));
  ObjectStore::SectionV head;
  head.type = ObjectStore::kSectionStreamHeader;
  const char* bytes = reinterpret_cast<const char*>(&header);
  head.data.assign(bytes, bytes + sizeof(header));
  sections.push_back(head);
  if (kind == kEmpty) return sections;
  const uint64_t hash = Hash(name);
  ObjectStore::SectionV meta = Section(ObjectStore::kSectionMetaData, hash % 64, 'm');
  meta.metaDataType = 7;
  sections.push_back(meta);
  if (kind == kBig) {
    sections.push_back(
        Section(ObjectStore::kSectionFileData, (260 << 10) + hash % (140 << 10), 'B'));
    return sections;
  }
  const int data = static_cast<int>(hash % 3);
  for (int i = 0; i < data; ++i) {
    sections.push_back(Section(ObjectStore::kSectionFileData, (hash >> (8 * i)) % 6000, 'a' + i));
  }
  return sections;
}

World::World(const std::string& parent) {
  std::string pattern = (parent.empty() ? DefaultParent() : parent) + "/objstore-stress-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + pattern);
  dir_ = buffer.data();
  setenv("OBJSTORE_SETTINGS_FILE", (dir_ + "/settings").c_str(), 1);
  cache_.reset(new ObjectStore::DirectoryDiskCache(dir_ + "/cache"));
  std::string why;
  if (!cache_->isOpen(&why)) throw std::runtime_error("disk cache: " + why);
}

World::~World() {
  cache_.reset();
  CUxDirectory::Remove(dir_.c_str(), true, true);
}

bool World::freshRun(std::string* why) {
  const std::string run = dir_ + "/run";
  CUxDirectory::Remove(run.c_str(), true, true);
  if (mkdir(run.c_str(), 0755) != 0 || mkdir((run + "/base").c_str(), 0755) != 0) {
    *why = "cannot make " + run;
    return false;
  }
  OBJECTOPSAPI::PipelineOptions options;
  options.storeDir = storeDir();
  OBJECTOPSAPI::PipelineOptions::Override(options);
  if (!ObjectStore::initBackupInterace(run + "/base")) {
    *why = "initBackupInterace refused " + run + "/base";
    return false;
  }
  root_ = ObjectStore::ObjectStoreStatic::rootDir;
  return true;
}

void World::ensureCached(const std::string& name) {
  const char kind = name.back();
  if (kind == kMissing) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!cached_.insert(name).second) return;
  if (cache_->writeSegment(name, SectionsOf(name)).IsError()) {
    throw std::runtime_error("cannot cache " + name);
  }
  if (kind != kDamaged) return;
  const std::string file = cache_->segmentFile(name);
  struct stat st;
  if (stat(file.c_str(), &st) != 0 || truncate(file.c_str(), st.st_size / 2) != 0) {
    throw std::runtime_error("cannot damage " + file);
  }
}

}  // namespace stress
