#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "Drivers.h"

namespace stress {

namespace {

// The sends of one job: what is still to be sent, and what its senders hand on to the next job.
class SendQueue {
 public:
  void push(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    names_.push_back(name);
  }
  bool pop(std::string* name) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (names_.empty()) return false;
    *name = names_.front();
    names_.pop_front();
    return true;
  }
  void drainInto(std::vector<std::string>* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    out->insert(out->end(), names_.begin(), names_.end());
    names_.clear();
  }

 private:
  std::mutex mutex_;
  std::deque<std::string> names_;
};

}  // namespace

void ThreadedDriver::run() {
  const Schedule& schedule = run_.schedule_;
  Random random(schedule.seed ^ 0x2545f4914f6cdd1dull);
  // The crashes first, while this is the process's only thread.
  std::vector<std::vector<std::string>> pending(schedule.apps.size());
  for (size_t a = 0; a < schedule.apps.size(); ++a) {
    if (schedule.apps[a].crashAfterSends >= 0) pending[a] = run_.crashChild(schedule.apps[a]);
  }
  std::thread sampler([this] {
    while (!stop_) {
      run_.checkSnapshot();
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  });
  std::thread committer;
  if (schedule.manualCommits) {
    committer = std::thread([this, committerRandom = random.fork()]() mutable {
      while (!stop_) {
        run_.deliverSomething(committerRandom);
        std::this_thread::sleep_for(std::chrono::microseconds(committerRandom.below(1500)));
      }
    });
  }
  std::vector<std::thread> apps;
  for (size_t a = 0; a < schedule.apps.size(); ++a) {
    apps.emplace_back([this, &schedule, &pending, a, appRandom = random.fork()] {
      runApp(schedule.apps[a], pending[a], appRandom);
    });
  }
  for (std::thread& app : apps) app.join();
  stop_ = true;
  sampler.join();
  if (committer.joinable()) committer.join();
}

void ThreadedDriver::runApp(const AppPlan& app, const std::vector<std::string>& pending,
                            Random random) {
  std::vector<std::string> carry;
  if (app.crashAfterSends >= 0) run_.restartJob(app, pending, true, random, &carry);
  for (const JobPlan& plan : app.jobs) runJob(app, plan, random, &carry);
}

void ThreadedDriver::runJob(const AppPlan& app, const JobPlan& plan, Random& random,
                            std::vector<std::string>* carry) {
  std::unique_ptr<Run::Job> job = run_.startJob(app.appId, plan, false);
  if (!job) return;  // what was to be sent waits for the next job
  SendQueue queue;
  for (const std::string& name : *carry) queue.push(name);
  carry->clear();
  for (int i = 0; i < plan.newItems; ++i) queue.push(run_.newItemName(app.appId, random));

  std::mutex carryMutex;
  std::atomic<int> sendersDone(0);
  std::vector<std::thread> senders;
  for (int t = 0; t < plan.senders; ++t) {
    senders.emplace_back([&, senderRandom = random.fork()]() mutable {
      std::string name;
      while (queue.pop(&name)) {
        const int n = job->sendsStarted++;
        run_.callbackAtSend(*job, n);
        std::vector<std::string> resend;
        run_.sendOne(*job, name, senderRandom, &resend);
        if (job->ending) {
          std::lock_guard<std::mutex> lock(carryMutex);
          carry->insert(carry->end(), resend.begin(), resend.end());
        } else {
          for (const std::string& item : resend) queue.push(item);
        }
      }
      ++sendersDone;
    });
  }
  if (plan.endAfterSends >= 0) {
    // The end overtakes the senders that are still at it.
    while (job->sendsStarted < plan.endAfterSends && sendersDone < plan.senders) {
      std::this_thread::yield();
    }
    std::vector<std::string> resend;
    run_.endJob(*job, random, &resend);
    for (std::thread& sender : senders) sender.join();
    carry->insert(carry->end(), resend.begin(), resend.end());
  } else {
    for (std::thread& sender : senders) sender.join();
    if (job->controller->freeStreamHandlerCount() != job->controller->streamHandlerCount()) {
      run_.ledger_.violation("job " + std::to_string(plan.jobId) +
                             ": a stream handler was not given back after its sends");
    }
    std::vector<std::string> resend;
    run_.endJob(*job, random, &resend);
    carry->insert(carry->end(), resend.begin(), resend.end());
  }
  queue.drainInto(carry);
  run_.settleJob(*job);
  job->controller.reset();
}

}  // namespace stress
