// Process statistics across many jobs: the per-application totals carry over from job to job,
// and the Prometheus rendering keeps one fixed set of series per application, whose counters
// never go backwards, so that rate() and histogram_quantile() work across job boundaries.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ControllerTestFixture.h"
#include "PrometheusTestParser.h"
#include "StatisticsText.h"

namespace ObjectStore {
namespace {

using OBJECTOPSAPI::PipelineFaults;

// One scrape of the text format: samples by series (name and sorted labels; job_info's job_id
// label left out), the families' types, and job_info's samples per application.
struct Scrape {
  std::map<std::string, double> samples;
  std::set<std::string> counters;              // series of counters and histograms: they only grow
  std::map<std::string, std::string> jobInfo;  // app_id -> "job_id/state"
  std::map<std::string, int> jobInfoSamples;   // app_id -> samples
};

// Parses `text` (PrometheusTestParser.h checks its form), keeping the series of the applications
// in `apps`.
Scrape Parse(const std::string& text, const std::set<std::string>& apps) {
  objstore_testing::PrometheusText parsed = objstore_testing::ParsePrometheus(text);
  Scrape scrape;
  for (objstore_testing::PrometheusSample sample : parsed.samples) {
    const std::string app = sample.labels["app_id"];
    if (apps.count(app) == 0) continue;
    if (sample.name == "objstore_backup_job_info") {
      ++scrape.jobInfoSamples[app];
      scrape.jobInfo[app] = sample.labels["job_id"] + "/" + sample.labels["state"];
      sample.labels.erase("job_id");
    }
    std::string key = sample.name + "{";
    for (const auto& label : sample.labels) key += label.first + "=" + label.second + ",";
    key += "}";
    EXPECT_EQ(0u, scrape.samples.count(key)) << "series twice: " << key;
    scrape.samples[key] = sample.value;
    if (parsed.types[sample.family] != "gauge") scrape.counters.insert(key);
  }
  return scrape;
}

double Value(const Scrape& scrape, const std::string& name, const std::string& app) {
  const auto found = scrape.samples.find(name + "{app_id=" + app + ",}");
  return found == scrape.samples.end() ? -1 : found->second;
}

// Watches scrape after scrape: no counter goes backwards or disappears, and once frozen the
// set of series neither grows nor shrinks.
class ScrapeWatcher {
 public:
  explicit ScrapeWatcher(std::set<std::string> apps) : apps_(std::move(apps)) {}

  Scrape scrape(const std::string& where) {
    const ProcessStatistics process = GetProcessStatistics();
    countPerJobSeries(process);
    Scrape now = Parse(StatisticsToPrometheus(process), apps_);
    for (const auto& counter : last_) {
      const auto found = now.samples.find(counter.first);
      if (found == now.samples.end()) {
        ADD_FAILURE() << where << ": counter gone: " << counter.first;
      } else {
        EXPECT_GE(found->second, counter.second) << where << ": went backwards: " << counter.first;
      }
    }
    for (const auto& info : now.jobInfoSamples) {
      EXPECT_EQ(1, info.second) << where << ": job_info samples of app " << info.first;
    }
    // job_info's state changes with the job; it is checked above, and by the caller.
    std::set<std::string> series;
    for (const auto& sample : now.samples) {
      if (sample.first.find("objstore_backup_job_info{") != 0) series.insert(sample.first);
    }
    if (frozen_) {
      for (const std::string& app : apps_) {
        EXPECT_EQ(1u, now.jobInfoSamples.count(app)) << where << ": no job_info for " << app;
      }
    }
    if (frozen_) {
      EXPECT_EQ(seen_, series) << where << ": the set of series changed";
    } else {
      seen_.insert(series.begin(), series.end());
    }
    last_.clear();
    for (const std::string& key : now.counters) last_[key] = now.samples[key];
    seriesPerScrape_ = now.samples.size();
    return now;
  }
  // From now on every scrape must show exactly the series seen so far.
  void freeze() { frozen_ = true; }
  size_t seriesPerScrape() const { return seriesPerScrape_; }
  // For comparison: the series a rendering per job and per stream would have shown, 5 per job
  // and 43 per stream, over every scrape so far.
  size_t perJobSeriesSeen() const { return 5 * jobsSeen_.size() + 43 * streamsSeen_.size(); }

 private:
  void countPerJobSeries(const ProcessStatistics& process) {
    for (const ControllerStatistics& c : process.controllers) {
      if (apps_.count(std::to_string(c.appId)) == 0) continue;
      jobsSeen_.insert(c.jobId);
      for (const StreamStatistics& stream : c.streams) streamsSeen_.insert(stream.aFileId);
    }
    for (const StreamStatistics& stream : process.otherStreams) {
      if (apps_.count(std::to_string(stream.appId)) != 0) streamsSeen_.insert(stream.aFileId);
    }
  }

  std::set<std::string> apps_;
  std::set<int64_t> jobsSeen_;
  std::set<uint32_t> streamsSeen_;
  std::set<std::string> seen_;
  std::map<std::string, double> last_;
  bool frozen_ = false;
  size_t seriesPerScrape_ = 0;
};

class ProcessStatisticsTest : public objstore_testing::ControllerTest {
 protected:
  // Sends `count` items spread over the job's streams.
  void sendItems(const BackupInterfacePtr& controller, const std::string& prefix, int count) {
    for (int i = 0; i < count; ++i) {
      const std::string guid = prefix + "-" + std::to_string(i);
      cacheItem(guid, KeyFor(guid));
      std::list<std::string> failed;
      ASSERT_FALSE(
          controller->sendItem(guid.c_str(), failed, nullptr, nullptr, cache_, context_).IsError());
    }
  }
  // Sends one item whose data section fails: its stream's items come back as failed sends.
  void sendFailing(const BackupInterfacePtr& controller, const std::string& guid) {
    cacheItem(guid, KeyFor(guid));
    std::list<std::string> failed;
    PipelineFaults::FailCall(PipelineFaults::kSendUserBufData, 1);
    EXPECT_TRUE(
        controller->sendItem(guid.c_str(), failed, nullptr, nullptr, cache_, context_).IsError());
    EXPECT_FALSE(failed.empty());
    PipelineFaults::Clear();
    PipelineFaults::SetManualCommit(true);
  }
  // Commits on every stream all but the last `leave` of its uncommitted items.
  static void commitAllBut(const BackupInterfacePtr& controller, uint64_t leave) {
    for (const StreamStatistics& s : controller->statistics().streams) {
      if (s.uncommitted == 0) continue;
      std::string sequence = std::to_string(s.itemsRecorded - std::min(leave, s.uncommitted));
      ChunkCommitHandler(controller).commitUpdate(s.aFileId, sequence);
    }
  }
  // The application's figures now; empty ones, with a failure, when the process has none.
  static ApplicationStatistics application(int32_t appId) {
    const ProcessStatistics process = GetProcessStatistics();
    const ApplicationStatistics* found = find(process, appId);
    EXPECT_NE(nullptr, found) << "no application " << appId;
    return found != nullptr ? *found : ApplicationStatistics();
  }
  static const ApplicationStatistics* find(const ProcessStatistics& process, int32_t appId) {
    for (const ApplicationStatistics& a : process.applications) {
      if (a.appId == appId) return &a;
    }
    return nullptr;
  }
};

void ExpectSameCounters(const StreamStatistics& expected, const StreamStatistics& actual,
                        const std::string& where) {
  EXPECT_EQ(expected.itemsRecorded, actual.itemsRecorded) << where;
  EXPECT_EQ(expected.bytesSent, actual.bytesSent) << where;
  EXPECT_EQ(expected.itemsCommitted, actual.itemsCommitted) << where;
  EXPECT_EQ(expected.handedBackFailedSend, actual.handedBackFailedSend) << where;
  EXPECT_EQ(expected.handedBackCommitTimeout, actual.handedBackCommitTimeout) << where;
  EXPECT_EQ(expected.handedBackException, actual.handedBackException) << where;
  EXPECT_EQ(expected.uncommitted, actual.uncommitted) << where;
  EXPECT_EQ(expected.commitsRefusedStale, actual.commitsRefusedStale) << where;
  EXPECT_EQ(expected.commitsRefusedTooHigh, actual.commitsRefusedTooHigh) << where;
  EXPECT_EQ(expected.commitLatency.count(), actual.commitLatency.count()) << where;
  EXPECT_EQ(expected.commitLatency.sumMicros(), actual.commitLatency.sumMicros()) << where;
}

// Thirty jobs of two applications, alternating; some end without waiting for their commits
// (their records outlive them and take late commits), some hand items back, some time out.
TEST_F(ProcessStatisticsTest, TotalsCarryOverThirtyJobsOfTwoApplications) {
  PipelineFaults::SetManualCommit(true);
  const int32_t kApps[] = {61, 62};
  ScrapeWatcher watcher({"61", "62"});
  std::vector<BackupInterfacePtr> jobs;
  BackupInterfacePtr lingering;  // ended without waiting; its last commits come later
  size_t seriesBefore = 0;
  for (int j = 0; j < 30; ++j) {
    const int32_t app = kApps[j % 2];
    const std::string appText = std::to_string(app);
    const int64_t jobId = 5000 + j;
    const std::string where = "job " + std::to_string(j);
    BackupInterfacePtr controller = start(app, 3, jobId);
    ASSERT_TRUE(controller);
    jobs.push_back(controller);
    sendItems(controller, "p" + std::to_string(j), 5 + j % 4);
    if (j % 3 == 0) sendFailing(controller, "f" + std::to_string(j));
    commitAllBut(controller, 1);

    Scrape middle = watcher.scrape(where + " running");
    EXPECT_EQ(std::to_string(jobId) + "/running", middle.jobInfo[appText]) << where;
    EXPECT_EQ(j / 2 + 1, Value(middle, "objstore_backup_jobs_started_total", appText)) << where;
    if (lingering) {
      commitAllBut(lingering, 0);
      lingering.reset();
      watcher.scrape(where + " after a late commit");
    }

    std::list<std::string> failed;
    uint32_t expectedResult = 0;
    switch (j / 2 % 4) {  // each application goes through every way of ending
      case 0:
        commitAllBut(controller, 0);
        EXPECT_FALSE(controller->endBackup(failed, true).IsError()) << where;
        break;
      case 1:
        EXPECT_FALSE(controller->endBackup(failed, false).IsError()) << where;
        lingering = controller;
        break;
      case 2:
        expectedResult = kErrNoCommitInTime;
        EXPECT_EQ(expectedResult, controller->endBackup(failed, true).GetErrorCode()) << where;
        break;
      default:
        commitAllBut(controller, 0);
        EXPECT_FALSE(controller->endBackup(failed, false).IsError()) << where;
    }
    Scrape ended = watcher.scrape(where + " ended");
    EXPECT_EQ(std::to_string(jobId) + "/ended", ended.jobInfo[appText]) << where;
    EXPECT_EQ(expectedResult, Value(ended, "objstore_backup_last_job_result_code", appText))
        << where;
    EXPECT_EQ(j / 2 + 1, Value(ended, "objstore_backup_jobs_ended_total", appText)) << where;
    if (j == 0) seriesBefore = watcher.seriesPerScrape();
    if (j == 1) watcher.freeze();
  }
  if (lingering) commitAllBut(lingering, 0);
  watcher.scrape("after the last late commit");
  std::cout << "series of the two applications per scrape: " << seriesBefore << " after one job, "
            << watcher.seriesPerScrape() << " after thirty; a rendering per job and stream "
            << "would have shown " << watcher.perJobSeriesSeen() << " series over the run\n";

  // The totals are the sums of what each job's own snapshot says now.
  std::map<int32_t, StreamStatistics> expected;
  for (const BackupInterfacePtr& controller : jobs) {
    const ControllerStatistics job = controller->statistics();
    AddStreamStatistics(job.total, &expected[job.appId]);
  }
  const ProcessStatistics process = GetProcessStatistics();
  for (int32_t app : kApps) {
    const ApplicationStatistics* a = find(process, app);
    ASSERT_NE(nullptr, a) << app;
    const std::string where = "app " + std::to_string(app);
    ExpectSameCounters(expected[app], a->totals, where);
    EXPECT_EQ(0u, a->itemsAbandoned) << where;
    EXPECT_EQ(a->totals.itemsRecorded, a->totals.itemsCommitted + a->totals.itemsHandedBack() +
                                           a->totals.uncommitted + a->itemsAbandoned)
        << where;
    EXPECT_GT(a->totals.handedBackFailedSend, 0u) << where;
    EXPECT_GT(a->totals.handedBackCommitTimeout, 0u) << where;
    EXPECT_EQ(15u, a->jobsStarted) << where;
    EXPECT_EQ(15u, a->jobsEnded) << where;
    ASSERT_TRUE(a->hasLastEndedJob) << where;
    EXPECT_EQ(app == 61 ? 5028 : 5029, a->lastEndedJob.jobId) << where;
  }
}

// A record that outlives its job's end still adds its late commits, once, to the totals.
TEST_F(ProcessStatisticsTest, LateCommitAfterTheEndCountsOnce) {
  PipelineFaults::SetManualCommit(true);
  BackupInterfacePtr controller = start(63, 1, 6300);
  ASSERT_TRUE(controller);
  sendItems(controller, "late", 3);
  commitAllBut(controller, 2);
  std::list<std::string> failed;
  ASSERT_FALSE(controller->endBackup(failed, false).IsError());
  const uint32_t stream = controller->statistics().streams.at(0).aFileId;
  ASSERT_TRUE(registeredStream(stream));

  const ApplicationStatistics atEnd = application(63);
  EXPECT_EQ(3u, atEnd.totals.itemsRecorded);
  EXPECT_EQ(1u, atEnd.totals.itemsCommitted);
  EXPECT_EQ(2u, atEnd.totals.uncommitted);
  EXPECT_EQ(1u, atEnd.jobsEnded);
  EXPECT_EQ(6300, atEnd.lastEndedJob.jobId);
  EXPECT_EQ(1u, atEnd.lastEndedJob.total.itemsCommitted);
  EXPECT_EQ(2u, atEnd.lastEndedJob.total.uncommitted);
  EXPECT_EQ(0u, atEnd.lastEndedJob.result);
  EXPECT_EQ(JobState::kEnded, atEnd.jobState);

  commitAllBut(controller, 0);
  EXPECT_FALSE(registeredStream(stream));  // the record has left the registry
  for (int scrape = 0; scrape < 2; ++scrape) {
    const ProcessStatistics process = GetProcessStatistics();
    const ApplicationStatistics* after = find(process, 63);
    ASSERT_NE(nullptr, after);
    EXPECT_EQ(3u, after->totals.itemsRecorded);
    EXPECT_EQ(3u, after->totals.itemsCommitted);
    EXPECT_EQ(0u, after->totals.uncommitted);
    EXPECT_EQ(3u, after->totals.commitLatency.count());
    const Scrape text = Parse(StatisticsToPrometheus(process), {"63"});
    EXPECT_EQ(3, Value(text, "objstore_backup_items_committed_total", "63"));
    EXPECT_EQ(3, Value(text, "objstore_backup_commit_latency_seconds_count", "63"));
    EXPECT_EQ(1, Value(text, "objstore_backup_last_job_items_committed", "63"));
  }
}

// A record that a later job's record replaces under its stream id keeps its figures, and the
// items it still held count as abandoned.
TEST_F(ProcessStatisticsTest, ReplacedRecordKeepsItsFigures) {
  PipelineFaults::SetManualCommit(true);
  BackupInterfacePtr first = start(65, 1, 6500);
  ASSERT_TRUE(first);
  // The pipeline hands out stream ids one after the other: the next job's will be this one.
  const uint32_t nextId = first->statistics().streams.at(0).aFileId + 1;
  StreamInfoPtr old(new StreamInfo(nextId, tmp_.sub("old")));
  old->setJob(6400, 64);
  old->addFilePath("a");
  old->addFilePath("b");
  {
    KaCriticalSectionLock lock(&gStreamLock);
    gStreams[nextId] = old;
    old->setRegistered(true);
  }
  EXPECT_EQ(2u, application(64).totals.uncommitted);
  std::list<std::string> failed;
  ASSERT_FALSE(first->endBackup(failed, true).IsError());

  BackupInterfacePtr second = start(65, 1, 6501);
  ASSERT_TRUE(second);
  ASSERT_EQ(nextId, second->statistics().streams.at(0).aFileId);
  EXPECT_FALSE(old->isRegistered());
  const ApplicationStatistics replaced = application(64);
  EXPECT_EQ(2u, replaced.totals.itemsRecorded);
  EXPECT_EQ(0u, replaced.totals.uncommitted);
  EXPECT_EQ(2u, replaced.itemsAbandoned);
  EXPECT_EQ(0u, replaced.jobsStarted);  // known by its records alone
  const Scrape text = Parse(StatisticsToPrometheus(GetProcessStatistics()), {"64"});
  EXPECT_EQ(2, Value(text, "objstore_backup_items_abandoned_total", "64"));
  EXPECT_EQ(0u, text.jobInfoSamples.count("64"));
}

// Once the host has let go of an ended job's controller, the application's latest job is still
// that one, as ended.
TEST_F(ProcessStatisticsTest, LatestJobOutlivesItsController) {
  PipelineFaults::SetManualCommit(true);
  boost::weak_ptr<BackupInterface> gone;
  {
    BackupInterfacePtr controller;
    ASSERT_FALSE(BackupInterface::getController(job(66, 1, 6600), controller, false).IsError());
    std::list<std::string> failed;
    ASSERT_FALSE(controller->endBackup(failed, true).IsError());
    gone = controller;
  }
  ASSERT_TRUE(gone.expired());
  const ApplicationStatistics a = application(66);
  EXPECT_TRUE(a.hasJob);
  EXPECT_EQ(6600, a.jobId);
  EXPECT_EQ(JobState::kEnded, a.jobState);
  Scrape text = Parse(StatisticsToPrometheus(GetProcessStatistics()), {"66"});
  EXPECT_EQ("6600/ended", text.jobInfo["66"]);
}

}  // namespace
}  // namespace ObjectStore
