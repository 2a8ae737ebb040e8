// Restoring never clobbers: an existing file that differs is left alone unless overwriting was
// asked for, the same file is left as it is, and no temporary outlives a restore.
#include "RestoreTarget.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "TestSupport.h"

namespace objstore_host {
namespace {

struct Existing {
  const char* name;
  std::function<void(const std::string& path)> make;  // what is at the path before
  bool overwrite;
  RestoreTarget::Outcome outcome;
  const char* contentAfter;  // nullptr: not a file afterwards
};

class RestoreTargetTest : public testing::TestWithParam<Existing> {
 protected:
  StoredCopy copyOf(const std::string& path, const std::string& data) {
    item_.sections.clear();
    OBJECTOPSAPI::StoreSection section;
    section.bytes = data;
    section.length = data.size();
    item_.sections.push_back(section);
    StoredCopy copy;
    copy.metadata.path = path;
    copy.metadata.size = data.size();
    copy.metadata.mode = 0644;
    copy.item = &item_;
    return copy;
  }

  // Every file name under the target.
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.sub("to"))) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  objstore_testing::TempDir dir_;
  OBJECTOPSAPI::StoreItem item_;
};

TEST_P(RestoreTargetTest, ExistingFilesAreReplacedOnlyWhenAskedTo) {
  const RestoreTarget target(dir_.sub("to"), GetParam().overwrite);
  std::string why;
  ASSERT_TRUE(target.create(&why)) << why;
  const std::string path = dir_.sub("to/sub/f");
  std::filesystem::create_directories(dir_.sub("to/sub"));
  GetParam().make(path);
  EXPECT_EQ(GetParam().outcome, target.place(copyOf("sub/f", "stored bytes"), &why)) << why;
  if (GetParam().contentAfter != nullptr) {
    EXPECT_EQ(GetParam().contentAfter, objstore_testing::ReadFile(path));
  }
  if (GetParam().outcome == RestoreTarget::kSkipped) {
    EXPECT_NE(std::string::npos, why.find("exists and differs")) << why;
    EXPECT_NE(std::string::npos, why.find("--overwrite")) << why;
  }
  for (const std::string& name : files()) EXPECT_FALSE(RestoreTarget::IsTemporaryName(name));
}

void Nothing(const std::string&) {}
void Same(const std::string& path) {
  objstore_testing::WriteFile(path, "stored bytes");
}
void Other(const std::string& path) {
  objstore_testing::WriteFile(path, "local edits");
}
void Directory(const std::string& path) {
  mkdir(path.c_str(), 0755);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RestoreTargetTest,
    testing::Values(
        Existing{"Missing", Nothing, false, RestoreTarget::kWritten, "stored bytes"},
        Existing{"Identical", Same, false, RestoreTarget::kUpToDate, "stored bytes"},
        Existing{"DifferentKept", Other, false, RestoreTarget::kSkipped, "local edits"},
        Existing{"DifferentOverwritten", Other, true, RestoreTarget::kWritten, "stored bytes"},
        Existing{"DirectoryInTheWay", Directory, true, RestoreTarget::kFailed, nullptr}),
    [](const testing::TestParamInfo<Existing>& info) { return info.param.name; });

TEST(RestoreTargetNamesTest, StaleTemporariesOfAKilledRestoreAreRemoved) {
  objstore_testing::TempDir dir;
  std::filesystem::create_directories(dir.sub("to/a/b"));
  for (const char* name :
       {"to/a/b/file.objstore-restore-gGXZCT", "to/x.objstore-restore-123456",
        "to/keep.objstore-restore-1234567", "to/a/.objstore-restore-abcdef", "to/notes"}) {
    ASSERT_TRUE(objstore_testing::WriteFile(dir.sub(name), "x"));
  }
  std::vector<std::string> problems;
  std::vector<std::string> removed =
      RestoreTarget(dir.sub("to"), false).removeStaleTemporaries(&problems);
  std::sort(removed.begin(), removed.end());
  EXPECT_EQ(std::vector<std::string>({dir.sub("to/a/b/file.objstore-restore-gGXZCT"),
                                      dir.sub("to/x.objstore-restore-123456")}),
            removed);
  EXPECT_TRUE(problems.empty());
  EXPECT_TRUE(objstore_testing::PathExists(dir.sub("to/keep.objstore-restore-1234567")));
  EXPECT_TRUE(objstore_testing::PathExists(dir.sub("to/notes")));
}

}  // namespace
}  // namespace objstore_host
