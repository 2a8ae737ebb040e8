#include "Schedule.h"

#include <sstream>

#include "Random.h"

namespace stress {

using OBJECTOPSAPI::PipelineFaults;

namespace {

// Faults are rare enough that most items get through and common enough that every job meets
// some; the end of the pipeline job fails at most once in a row, so that a retry ends it.
void AddFaults(Random& random, Schedule* schedule) {
  const int rules = static_cast<int>(random.below(5));
  for (int i = 0; i < rules; ++i) {
    FaultRule rule;
    rule.op = static_cast<PipelineFaults::Op>(random.below(PipelineFaults::kOpCount));
    rule.call = static_cast<uint64_t>(random.between(1, 60));
    rule.andLater = rule.op != PipelineFaults::kEndBackup &&
                    rule.op != PipelineFaults::kGetController &&
                    rule.op != PipelineFaults::kGetStreamHandler && random.chance(5);
    rule.throws = rule.op != PipelineFaults::kEndBackup && random.chance(30);
    schedule->faults.push_back(rule);
  }
}

JobPlan MakeJob(Random& random, Mode mode, int64_t jobId) {
  JobPlan job;
  job.jobId = jobId;
  job.streams = static_cast<uint32_t>(random.between(1, 4));
  job.senders = mode == Mode::kDeterministic ? 1 : static_cast<int>(random.between(1, 6));
  job.newItems = static_cast<int>(random.between(0, mode == Mode::kDeterministic ? 16 : 40));
  job.waitForCommits = random.chance(85);
  const int sends = job.newItems + 4;
  if (random.chance(mode == Mode::kThreaded ? 35 : 20)) {
    job.endAfterSends = static_cast<int>(random.below(sends));
  }
  if (random.chance(25)) {
    job.callbackChangeAt = static_cast<int>(random.below(sends));
    job.callbackToNone = random.chance(50);
    job.callbackRestoreAfter = random.chance(70) ? static_cast<int>(random.between(1, 10)) : -1;
  }
  return job;
}

// Ends that overtake their senders with short commit waits, commits forced under space pressure
// and a callback replaced every few sends: the schedule in which a sender reports a covered item
// after its job's end has returned, and the record it empties must leave the registry.
void ApplyChurn(Random& random, Mode mode, Schedule* schedule) {
  schedule->spacePressure = true;
  schedule->maxUncommitted = static_cast<uint32_t>(random.between(1, 4));
  schedule->clockStepSeconds = static_cast<int>(random.between(0, 5));
  if (mode == Mode::kThreaded) {
    schedule->commitWaitMs = static_cast<long>(random.between(0, 60));
    if (!schedule->manualCommits) {
      schedule->commitDelayMs = static_cast<uint32_t>(random.between(0, 5));
      if (random.chance(50)) schedule->flowWindow = static_cast<uint32_t>(random.between(1, 2));
    }
  }
  for (AppPlan& app : schedule->apps) {
    for (JobPlan& job : app.jobs) {
      if (mode == Mode::kThreaded) {
        job.streams = static_cast<uint32_t>(random.between(1, 3));
        job.senders = static_cast<int>(random.between(2, 4));
      }
      if (random.chance(70)) job.endAfterSends = static_cast<int>(random.below(job.newItems + 4));
      job.callbackFlipEvery = static_cast<int>(random.between(1, 3));
      job.callbackToNone = random.chance(50);
      if (!schedule->manualCommits || schedule->lateCommits) job.waitForCommits = random.chance(50);
    }
  }
}

}  // namespace

Schedule MakeSchedule(uint64_t seed, Mode mode) {
  Schedule schedule;
  schedule.seed = seed;
  schedule.mode = mode;
  Random random(seed * 2 + (mode == Mode::kDeterministic ? 1 : 0));

  schedule.manualCommits = mode == Mode::kDeterministic || random.chance(30);
  schedule.lateCommits = schedule.manualCommits && random.chance(50);
  if (!schedule.manualCommits) {
    schedule.commitItems = random.chance(60) ? static_cast<uint64_t>(random.between(1, 8)) : 0;
    schedule.commitBytes =
        random.chance(30) ? static_cast<uint64_t>(random.between(1, 512)) << 10 : 0;
    schedule.commitMs = random.chance(60) ? static_cast<uint64_t>(random.between(1, 20)) : 0;
    schedule.commitDelayMs = random.chance(30) ? static_cast<uint32_t>(random.between(1, 5)) : 0;
  }
  const bool flow = mode == Mode::kDeterministic ? random.chance(40)
                                                 : !schedule.manualCommits && random.chance(40);
  if (flow) schedule.flowWindow = static_cast<uint32_t>(random.between(1, 4));
  AddFaults(random, &schedule);
  schedule.deliverPercent = static_cast<int>(random.between(2, 30));
  schedule.oddNumberPercent = random.chance(50) ? static_cast<int>(random.between(1, 20)) : 0;

  schedule.spacePressure = random.chance(30);
  schedule.clockStepSeconds = schedule.spacePressure ? static_cast<int>(random.between(0, 20)) : 0;
  schedule.maxUncommitted =
      schedule.spacePressure && random.chance(50) ? static_cast<uint32_t>(random.between(1, 6)) : 0;
  // The deterministic mode never waits for a commit that only another thread could deliver.
  schedule.commitWaitMs =
      mode == Mode::kDeterministic ? 0 : static_cast<long>(random.between(5, 250));
  schedule.missingPercent = random.chance(30) ? static_cast<int>(random.between(1, 10)) : 0;
  schedule.unreadablePercent = random.chance(30) ? static_cast<int>(random.between(1, 10)) : 0;
  schedule.resendPercent = static_cast<int>(random.between(0, 100));
  schedule.bigPercent = random.chance(30) ? static_cast<int>(random.between(1, 15)) : 0;

  const int apps = static_cast<int>(random.between(1, 3));
  for (int a = 0; a < apps; ++a) {
    AppPlan app;
    app.appId = 10 + a;
    if (random.chance(mode == Mode::kDeterministic ? 8 : 15)) {
      app.crashAfterSends = static_cast<int>(random.between(0, 12));
      app.crashStreams = static_cast<uint32_t>(random.between(1, 4));
    }
    const int jobs = static_cast<int>(random.between(1, 3));
    for (int j = 0; j < jobs; ++j) {
      JobPlan job = MakeJob(random, mode, app.appId * 100 + j);
      // Without late commits nothing commits after the end: a job that did not wait for its
      // commits would leave its items to nobody.
      if (schedule.manualCommits && !schedule.lateCommits) job.waitForCommits = true;
      app.jobs.push_back(job);
    }
    schedule.apps.push_back(app);
  }
  if (mode == Mode::kDeterministic) {
    // Drawn apart, so that adding it left every other choice of a seed as it was.
    Random own(seed ^ 0x2545f4914f6cdd1dull);
    const int percents[] = {0, 5, 25, 60};
    schedule.interleavePercent = percents[own.below(4)];
  }
  Random churn(seed ^ 0x9e3779b97f4a7c15ull);  // drawn apart as well
  if (churn.chance(25)) ApplyChurn(churn, mode, &schedule);
  return schedule;
}

std::string Describe(const Schedule& s) {
  std::ostringstream out;
  out << "seed " << s.seed << " ("
      << (s.mode == Mode::kDeterministic ? "deterministic" : "threaded") << ")\n";
  out << "  pipeline: " << (s.manualCommits ? "manual commits" : "own commits")
      << (s.lateCommits ? ", late commits" : "") << ", thresholds items " << s.commitItems
      << " bytes " << s.commitBytes << " ms " << s.commitMs << ", delay " << s.commitDelayMs
      << " ms, flow window " << s.flowWindow << "\n";
  out << "  deliveries: " << s.deliverPercent << "% of call boundaries, " << s.oddNumberPercent
      << "% stale; a second thread at " << s.interleavePercent << "% of the sections left\n";
  for (const FaultRule& rule : s.faults) {
    out << "  fault: " << PipelineFaults::OpName(rule.op) << " call " << rule.call
        << (rule.andLater ? " and later" : "") << (rule.throws ? ", throws" : "") << "\n";
  }
  out << "  cache: space pressure " << (s.spacePressure ? "yes" : "no") << ", clock step "
      << s.clockStepSeconds << " s, uncommitted limit " << s.maxUncommitted << ", missing "
      << s.missingPercent << "%, unreadable " << s.unreadablePercent << "%, big " << s.bigPercent
      << "%\n";
  out << "  library: commit wait " << s.commitWaitMs << " ms, resend " << s.resendPercent << "%\n";
  for (const AppPlan& app : s.apps) {
    out << "  app " << app.appId;
    if (app.crashAfterSends >= 0) {
      out << ": crashes after " << app.crashAfterSends << " sends on " << app.crashStreams
          << " streams, then restarts";
    }
    out << "\n";
    for (const JobPlan& job : app.jobs) {
      out << "    job " << job.jobId << ": " << job.streams << " streams, " << job.senders
          << " senders, " << job.newItems << " new items, "
          << (job.waitForCommits ? "waits for commits" : "does not wait");
      if (job.endAfterSends >= 0) out << ", ends after " << job.endAfterSends << " sends";
      if (job.callbackChangeAt >= 0) {
        out << ", callback " << (job.callbackToNone ? "removed" : "replaced") << " at send "
            << job.callbackChangeAt;
        if (job.callbackRestoreAfter >= 0) out << " for " << job.callbackRestoreAfter;
      }
      if (job.callbackFlipEvery > 0) {
        out << ", callback " << (job.callbackToNone ? "removed" : "replaced")
            << " and set back every " << job.callbackFlipEvery << " sends";
      }
      out << "\n";
    }
  }
  return out.str();
}

}  // namespace stress
