// The command line: wrong arguments end with status 2 and one line saying why; --help works on
// every command; a small demo runs end to end and reports in JSON.
#include "CommandLine.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <iomanip>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace objstore_host {
namespace {

struct BadArguments {
  const char* name;
  // Words split at blanks, 'a b' one word and '' an empty one; "$DIR", "$OTHER": existing
  // directories, "$DIR/x": a path under one.
  const char* args;
  const char* reason;            // part of the one line on standard error
  const char* environment = "";  // "NAME=VALUE" set for the run
};

class CommandLineErrorTest : public testing::TestWithParam<BadArguments> {};

TEST_P(CommandLineErrorTest, FailsWithStatusTwoAndOneLine) {
  objstore_testing::TempDir dir;
  objstore_testing::TempDir other;
  ASSERT_TRUE(objstore_testing::WriteFile(dir.sub("file"), ""));
  ASSERT_EQ(0, mkdir(other.sub("OBJECTSTORE").c_str(), 0755));
  std::vector<std::string> args;
  std::istringstream words(GetParam().args);
  for (std::string arg; words >> std::quoted(arg, '\'');) {
    if (arg.rfind("$DIR", 0) == 0) arg = dir.path() + arg.substr(4);
    if (arg.rfind("$OTHER", 0) == 0) arg = other.path() + arg.substr(6);
    args.push_back(arg);
  }
  const std::string setting = GetParam().environment;
  const objstore_testing::ScopedEnv environment(
      setting.empty() ? "OBJSTORE_TEST_UNUSED" : setting.substr(0, setting.find('=')),
      setting.substr(setting.find('=') + 1), setting.empty());
  const objstore_testing::ScopedEnv noStore("OBJSTORE_PIPELINE_STORE", "", true);
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(2, RunCommandLine(args, out, err));
  EXPECT_EQ("", out.str());
  const std::string line = err.str();
  EXPECT_NE(std::string::npos, line.find(GetParam().reason)) << line;
  EXPECT_EQ(0, line.rfind("objstore-backup: error: ", 0)) << line;
  EXPECT_EQ(line.size() - 1, line.find('\n')) << "more than one line: " << line;
}

const BadArguments kBadArguments[] = {
    {"NoCommand", "", "subcommand is required"},
    {"UnknownCommand", "frob", "unknown command [frob]"},
    {"UnknownCommandAfterGlobalOptions", "--json --log-level 2 frob", "unknown command [frob]"},
    {"IngestWithoutSource", "ingest --cache $DIR", "SRC is required"},
    {"IngestMissingSource", "ingest /nonexistent/objstore --cache $DIR",
     "Directory does not exist"},
    {"IngestZeroExtent", "ingest $DIR --cache $DIR --extent-size 0", "--extent-size"},
    {"IngestBadExtentUnit", "ingest $DIR --cache $DIR --extent-size '4 parsecs'", "--extent-size"},
    {"BackupWithoutCache", "backup", "--cache is required"},
    {"BackupNoStreams", "backup --cache $DIR --streams 0", "--streams"},
    {"BackupThreadsNotANumber", "backup --cache $DIR --threads x", "--threads"},
    {"BackupNegativeJob", "backup --cache $DIR --job-id -1", "--job: [-1]"},
    {"BackupBadFaults", "backup --cache $DIR --root $OTHER --store $OTHER/s --faults bogus=1",
     "invalid --faults [bogus=1]"},
    {"BackupLogLevel", "backup --cache $DIR --log-level 9", "--log-level"},
    {"BackupStrayArgument", "backup --cache $DIR extra", "extra"},
    {"VerifyWithoutSource", "verify --store $DIR", "--source is required"},
    {"DemoSizesReversed", "demo --min-size 10 --max-size 5",
     "--min-size is larger than --max-size"},
    {"DemoTooLarge", "demo --max-size 2GiB",
     "--max-size: [2GiB] is not a size from 0 to 1073741824 bytes"},
    {"JobIdOverflows", "backup --cache $DIR --job-id 99999999999999999999",
     "--job: [99999999999999999999] is not a whole number from 0 to 9223372036854775807"},
    {"CommitItemsNegative", "backup --cache $DIR --commit-items -5",
     "--commit-items: [-5] is not a whole number from 0 to"},
    {"EmptyFaultPlan", "backup --cache $DIR --root $OTHER --store $OTHER/s --faults ,,,",
     "empty fault rule in [,,,]"},
    {"StreamRuleWithoutAStream",
     "backup --cache $DIR --root $OTHER --store $OTHER/s --faults getStreamHandler@1=3",
     "getStreamHandler has no stream"},
    {"LogIntoAMissingDirectory", "verify --store $DIR --source $DIR --log /nonexistent/l",
     "--log: cannot open the log file [/nonexistent/l]: No such file"},
    {"CacheFaultUnknown", "ingest $DIR --cache $OTHER --faults sendHeader",
     "the disk cache knows one fault, diskFullAfter=<size>"},
    // Arguments that would send data elsewhere.
    {"EmptyStore", "check --store ''", "--store: must not be empty"},
    {"EmptyTarget", "restore --store $DIR --job 1 --to ''", "--to: must not be empty"},
    {"EmptyCache", "ingest $DIR --cache ''", "--cache: must not be empty"},
    {"EmptyLog", "check --store $DIR --log ''", "--log: must not be empty"},
    {"EmptyFaults", "demo --faults ''", "--faults: must not be empty"},
    {"NoStoreGiven", "check", "no store given: give --store DIR, or set"},
    {"NoStoreForBackup", "backup --cache $DIR --root $OTHER", "no store given"},
    {"StoreIsAFile", "list --store $DIR/file", "/file] is not a directory"},
    {"BackupStoreIsAFile", "backup --cache $OTHER --root $DIR/r --store $DIR/file",
     "/file] is not a directory"},
    {"UnknownOption", "--bogus", "unknown option [--bogus]"},
    {"StoreIsTheCache", "backup --cache $DIR --root $OTHER --store $DIR/.",
     "is the same directory as the cache"},
    {"CacheInsideTheStore", "backup --cache $DIR --root $OTHER --store $DIR/..",
     "is inside the store"},
    {"RootFolderIsTheStore", "backup --cache $DIR --root $OTHER --store $OTHER/OBJECTSTORE",
     "the root folder (--root's OBJECTSTORE) ["},
    {"RootFolderIsTheCache", "backup --cache $OTHER/OBJECTSTORE --root $OTHER --store $DIR/s",
     "the root folder (--root's OBJECTSTORE) ["},
    {"RootInsideTheCache", "backup --cache $DIR --root $DIR/r --store $OTHER",
     "the root base (--root) ["},
    {"RootIsTheStore", "backup --cache $DIR --root $OTHER --store $OTHER",
     "is the same directory as the store"},
    {"RootParentMissing", "backup --cache $DIR --root $OTHER/a/b --store $OTHER/s",
     "only the last part of a path is created"},
    {"RestoreIntoTheStore", "restore --store $DIR --job 1 --to $DIR/t", "the target (--to) ["},
    {"CacheInsideTheSource", "ingest $DIR --cache $DIR/c", "is inside the source tree"},
    {"PipelineFaultsInTheEnvironment", "demo --objects 1",
     "invalid OBJSTORE_PIPELINE_FAULTS [bogus]", "OBJSTORE_PIPELINE_FAULTS=bogus"},
    {"CacheFaultsInTheEnvironment", "ingest $DIR --cache $OTHER",
     "invalid OBJSTORE_DISKCACHE_FAULTS [bogus]", "OBJSTORE_DISKCACHE_FAULTS=bogus"},
};

INSTANTIATE_TEST_SUITE_P(Arguments, CommandLineErrorTest, testing::ValuesIn(kBadArguments),
                         [](const auto& info) { return std::string(info.param.name); });

// Help in plain words: none of CLI11's type names, validator names or flag defaults.
TEST(CommandLineTest, HelpOfEveryCommandSucceedsWithoutClutter) {
  for (const char* command : {"ingest", "backup", "verify", "restore", "check", "list", "demo"}) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(0, RunCommandLine({command, "--help"}, out, err)) << command;
    const std::string help = out.str();
    EXPECT_NE(std::string::npos, help.find(std::string("objstore-backup ") + command)) << help;
    for (const char* clutter : {"TEXT", "UINT", ":DIR", ":NUMBER", "REQUIRED", "{", "Group"}) {
      EXPECT_EQ(std::string::npos, help.find(clutter)) << command << ": " << clutter;
    }
  }
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_EQ(0, RunCommandLine({"backup", "--help"}, out, err));
  EXPECT_NE(std::string::npos, out.str().find("--streams N  ")) << out.str();
  EXPECT_NE(std::string::npos, out.str().find("(1 to 64) (default: 2)")) << out.str();
  EXPECT_NE(std::string::npos, out.str().find("one deadline for all streams")) << out.str();
}

// The program's version and the loaded library's, which is the package's.
TEST(CommandLineTest, VersionIsOneLineOnStandardOutput) {
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(0, RunCommandLine({"--version"}, out, err));
  EXPECT_EQ(
      std::string("objstore-backup ") + OBJSTORE_VERSION + " (library " + OBJSTORE_VERSION + ")\n",
      out.str());
  EXPECT_EQ("", err.str());
}

TEST(CommandLineTest, SmallDemoRestoresEveryObject) {
  objstore_testing::TempDir dir;
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_EQ(0, RunCommandLine({"demo", "--keep", dir.sub("work"), "--objects", "40", "--max-size",
                               "96KiB", "--extent-size", "16KiB", "--json", "--no-progress"},
                              out, err))
      << err.str();
  const nlohmann::json summary = nlohmann::json::parse(out.str());
  EXPECT_TRUE(summary["ok"].get<bool>());
  // Exactly as many as asked for, an empty file, a link and a directory among them.
  EXPECT_EQ(40u, summary["objects"].get<uint64_t>());
  EXPECT_EQ(40u, summary["backup"]["committed"].get<uint64_t>());
  EXPECT_EQ(dir.sub("work"), summary["workspace"].get<std::string>());
  EXPECT_FALSE(summary["workspace_removed"].get<bool>());
  EXPECT_TRUE(summary["compare"]["identical"].get<bool>());
  EXPECT_EQ(0u, summary["segments_left_in_cache"].get<uint64_t>());
  EXPECT_TRUE(objstore_testing::PathExists(dir.sub("work/objstore.log")));
}

}  // namespace
}  // namespace objstore_host
