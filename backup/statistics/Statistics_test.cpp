// Statistics: the figures of each stream agree with each other in every snapshot, and with what
// the host saw; both renderings parse back.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

#include "ControllerTestFixture.h"
#include "PrometheusTestParser.h"
#include "StatisticsText.h"

namespace ObjectStore {
namespace {

using OBJECTOPSAPI::PipelineFaults;
using objstore_testing::Guid;

void ExpectIdentity(const StreamStatistics& s, const std::string& where) {
  EXPECT_EQ(s.itemsRecorded, s.itemsCommitted + s.itemsHandedBack() + s.uncommitted)
      << where << " stream " << s.aFileId;
}

class StatisticsTest : public objstore_testing::ControllerTest {
 protected:
  CUxError send(const BackupInterfacePtr& controller, const std::string& item,
                std::list<std::string>* failed) {
    cacheItem(item, "k");
    return controller->sendItem(item.c_str(), *failed, nullptr, nullptr, cache_, context_);
  }
  // Delivers a commit on the stream that took the test's items (they share their key).
  void commit(const BackupInterfacePtr& controller, const std::string& sequence) {
    std::string text = sequence;
    ChunkCommitHandler(controller).commitUpdate(busyStream(controller), text);
  }
  static uint32_t busyStream(const BackupInterfacePtr& controller) {
    for (const StreamStatistics& s : controller->statistics().streams) {
      if (s.itemsRecorded != 0) return s.aFileId;
    }
    return 0;
  }
};

// One stream through every way an item can go, with the figures after each step.
TEST_F(StatisticsTest, EveryCauseIsCountedOnce) {
  PipelineFaults::SetManualCommit(true);
  BackupInterfacePtr controller = start(3, 1, 77);
  std::list<std::string> failed;
  for (int i = 0; i < 4; ++i) ASSERT_FALSE(send(controller, Guid(i), &failed).IsError());
  commit(controller, "3");
  commit(controller, "2");   // stale
  commit(controller, "99");  // beyond what the stream holds: releases the one left
  PipelineFaults::FailCall(PipelineFaults::kSendUserBufData, 1);
  // Recorded, then its data section fails: it comes back.
  EXPECT_TRUE(send(controller, Guid(4), &failed).IsError());
  EXPECT_EQ(std::list<std::string>{Guid(4)}, failed);
  PipelineFaults::Clear();
  PipelineFaults::SetManualCommit(true);
  ASSERT_FALSE(send(controller, Guid(5), &failed).IsError());
  ASSERT_FALSE(send(controller, Guid(6), &failed).IsError());

  ControllerStatistics running = controller->statistics();
  ASSERT_EQ(1u, running.streams.size());
  const StreamStatistics& s = running.streams[0];
  EXPECT_EQ(77, s.jobId);
  EXPECT_EQ(3, s.appId);
  EXPECT_EQ(JobState::kRunning, running.state);
  EXPECT_EQ(7u, s.itemsRecorded);
  EXPECT_EQ(4u, s.itemsCommitted);
  EXPECT_EQ(1u, s.handedBackFailedSend);
  EXPECT_EQ(2u, s.uncommitted);
  EXPECT_EQ(1u, s.commitsRefusedStale);
  EXPECT_EQ(1u, s.commitsRefusedTooHigh);
  EXPECT_EQ(4u, s.commitLatency.count());
  EXPECT_GT(s.lastCommitTime, 0);
  EXPECT_GT(s.bytesSent, 0u);
  ExpectIdentity(s, "running");
  EXPECT_EQ(s.itemsRecorded, running.total.itemsRecorded);

  std::list<std::string> atEnd;
  EXPECT_EQ(258u, controller->endBackup(atEnd, true).GetErrorCode());
  ControllerStatistics ended = controller->statistics();
  EXPECT_EQ(JobState::kEnded, ended.state);
  EXPECT_EQ(2u, ended.streams[0].handedBackCommitTimeout);
  EXPECT_EQ(0u, ended.streams[0].uncommitted);
  ExpectIdentity(ended.streams[0], "ended");
}

// The JSON parses, with the documented names; the Prometheus text follows the exposition
// format: each family announced once before its samples, counters ending in _total, histogram
// buckets cumulative up to +Inf, which equals _count.
TEST_F(StatisticsTest, RenderingsParseBack) {
  PipelineFaults::SetManualCommit(true);
  BackupInterfacePtr controller = start(59, 2, 55);
  std::list<std::string> failed;
  for (int i = 0; i < 3; ++i) ASSERT_FALSE(send(controller, Guid(i), &failed).IsError());
  commit(controller, "2");
  const ProcessStatistics process = GetProcessStatistics();

  nlohmann::json json = nlohmann::json::parse(StatisticsToJson(process));
  ASSERT_EQ(1u, json["controllers"].size());
  const nlohmann::json& job = json["controllers"][0];
  EXPECT_EQ(55, job["job_id"]);
  EXPECT_EQ("running", job["state"]);
  EXPECT_EQ(3, job["totals"]["items_recorded"]);
  EXPECT_EQ(2, job["totals"]["items_committed"]);
  EXPECT_EQ(1, job["totals"]["uncommitted"]);
  EXPECT_EQ(2, job["totals"]["commit_latency_seconds"]["count"]);
  EXPECT_EQ(2u, job["items_per_stream"].size());
  EXPECT_EQ(2u, job["streams"].size());
  EXPECT_TRUE(job["streams"][0].contains("afile_id"));
  nlohmann::json application;
  for (const nlohmann::json& a : json["applications"]) {
    if (a["app_id"] == 59) application = a;
  }
  ASSERT_TRUE(application.is_object());
  EXPECT_EQ(3, application["totals"]["items_recorded"]);
  EXPECT_EQ(2, application["totals"]["items_committed"]);
  EXPECT_EQ(1, application["jobs_started"]);
  EXPECT_EQ(55, application["job"]["job_id"]);
  EXPECT_EQ("running", application["job"]["state"]);
  EXPECT_TRUE(application["last_ended_job"].is_null());

  objstore_testing::PrometheusText text =
      objstore_testing::ParsePrometheus(StatisticsToPrometheus(process));
  EXPECT_EQ("histogram", text.types["objstore_backup_commit_latency_seconds"]);
  const std::string labels = "app_id=\"59\"";
  EXPECT_EQ(3, text.values["objstore_backup_items_recorded_total{" + labels + "}"]);
  EXPECT_EQ(2, text.values["objstore_backup_commit_latency_seconds_count{" + labels + "}"]);
  EXPECT_EQ(
      2, text.values["objstore_backup_commit_latency_seconds_bucket{" + labels + ",le=\"+Inf\"}"]);
  EXPECT_EQ(
      1, text.values["objstore_backup_job_info{" + labels + ",job_id=\"55\",state=\"running\"}"]);
  EXPECT_EQ(1, text.values["objstore_backup_uncommitted_items{" + labels + "}"]);
}

}  // namespace
}  // namespace ObjectStore
