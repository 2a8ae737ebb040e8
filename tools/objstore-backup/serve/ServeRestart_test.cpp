// The serve command as a process: killed with objects not yet committed, started again, it
// resends them from the cache through the restart path; SIGTERM then ends it with status 0.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "HostTestTree.h"
#include "LeftoverJobs.h"
#include "TestSupport.h"

namespace objstore_host {
namespace {

// The port a starting service names on its standard error; 0 when it names none in time.
int WaitForPort(const std::string& errFile) {
  const std::string marker = "serving on port ";
  for (int i = 0; i < 400; ++i) {
    std::ifstream in(errFile);
    std::stringstream text;
    text << in.rdbuf();
    const size_t at = text.str().find(marker);
    if (at != std::string::npos) return std::stoi(text.str().substr(at + marker.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return 0;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ServeRestartTest, AKilledServiceResendsItsCachedObjectsWhenStartedAgain) {
  objstore_testing::TempDir dir;
  const std::vector<std::string> common = {
      "serve",          "--cache",  dir.sub("cache"), "--root",        dir.sub("root"), "--store",
      dir.sub("store"), "--listen", "127.0.0.1:0",    "--no-progress", "--json"};
  // First run: nothing commits while it lives.
  std::vector<std::string> first = common;
  for (const char* arg : {"--commit-ms", "0", "--commit-items", "0"}) first.push_back(arg);
  const pid_t dying = StartHostProgram(first, dir.sub("out1"), dir.sub("err1"));
  const int port1 = WaitForPort(dir.sub("err1"));
  ASSERT_GT(port1, 0) << ReadFile(dir.sub("err1"));
  httplib::Client client1("127.0.0.1", port1);
  const int kObjects = 12;
  for (int i = 0; i < kObjects; ++i) {
    httplib::Result put =
        client1.Put("/objects/k" + std::to_string(i), "v" + std::to_string(i), "x");
    ASSERT_TRUE(put);
    ASSERT_EQ(201, put->status);
  }
  // Sent, not committed: the job directory stays when the process dies.
  int64_t firstJob = 0;
  for (int i = 0; i < 400 && firstJob == 0; ++i) {
    httplib::Result got = client1.Get("/objects/k0");
    if (got && nlohmann::json::parse(got->body)["state"] == "in_job") {
      firstJob = nlohmann::json::parse(got->body)["job"];
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  }
  ASSERT_GT(firstJob, 0);
  kill(dying, SIGKILL);
  ASSERT_EQ(128 + SIGKILL, WaitForExit(dying));
  ASSERT_EQ(1u, ObjectStore::LeftoverJobs::List(dir.sub("root/OBJECTSTORE")).size());

  std::vector<std::string> second = common;
  for (const char* arg : {"--commit-ms", "20", "--perf"}) second.push_back(arg);
  const pid_t service = StartHostProgram(second, dir.sub("out2"), dir.sub("err2"));
  const int port2 = WaitForPort(dir.sub("err2"));
  ASSERT_GT(port2, 0) << ReadFile(dir.sub("err2"));
  httplib::Client client2("127.0.0.1", port2);
  int committed = 0;
  for (int round = 0; round < 400 && committed < kObjects; ++round) {
    committed = 0;
    for (int i = 0; i < kObjects; ++i) {
      httplib::Result got = client2.Get("/objects/k" + std::to_string(i));
      if (!got || got->status != 200) continue;
      const nlohmann::json row = nlohmann::json::parse(got->body);
      if (row["state"] != "committed") continue;
      ++committed;
      EXPECT_GT(row["job"].get<int64_t>(), firstJob);  // a job id is never used twice
    }
    if (committed < kObjects) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  EXPECT_EQ(kObjects, committed);
  kill(service, SIGTERM);
  EXPECT_EQ(0, WaitForExit(service)) << ReadFile(dir.sub("err2"));
  const nlohmann::json summary = nlohmann::json::parse(ReadFile(dir.sub("out2")));
  EXPECT_EQ(true, summary["restarted"]);
  EXPECT_EQ(kObjects, summary["resumed_from_cache"]);
  EXPECT_EQ(kObjects, summary["committed"]);
  EXPECT_EQ(0, summary["objects_waiting"]);
  // --perf: the library's read and send counters, one count per object sent.
  ASSERT_EQ(2u, summary["perf"].size()) << summary.dump();
  for (const nlohmann::json& counter : summary["perf"]) {
    EXPECT_GE(counter["count"].get<int>(), kObjects) << counter.dump();
  }
  // The dead run's job directory is gone, and so is every committed segment.
  EXPECT_TRUE(ObjectStore::LeftoverJobs::List(dir.sub("root/OBJECTSTORE")).empty());
  EXPECT_EQ(0, CountSegments(dir.sub("cache")));
}

}  // namespace
}  // namespace objstore_host
