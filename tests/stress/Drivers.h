// The two ways a Run drives its schedule.
//
// ThreadedDriver: real threads. Per application a thread that runs its jobs in a row, per job
// its sending threads, a thread that takes statistics snapshots, and with manual commits a
// thread that delivers them. The seed fixes the schedule and the faults, not the interleaving.
//
// DeterministicDriver: one thread does everything, and the pipeline's commits are delivered
// only at call boundaries the seed picks (PipelineFaults' call and hold hooks), so that a seed
// fixes the interleaving too and replays exactly.
#ifndef OBJSTORE_TESTS_STRESS_DRIVERS_H_
#define OBJSTORE_TESTS_STRESS_DRIVERS_H_

#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "Random.h"
#include "Run.h"

namespace stress {

class ThreadedDriver {
 public:
  explicit ThreadedDriver(Run& run) : run_(run) {}
  void run();

 private:
  void runApp(const AppPlan& app, const std::vector<std::string>& pending, Random random);
  void runJob(const AppPlan& app, const JobPlan& plan, Random& random,
              std::vector<std::string>* carry);

  Run& run_;
  std::atomic<bool> stop_{false};
};

class DeterministicDriver {
 public:
  explicit DeterministicDriver(Run& run) : run_(run) {}
  void run();

 private:
  struct App {
    const AppPlan* plan = nullptr;
    Random random{0};
    bool restartPending = false;
    std::vector<std::string> pending;  // the crashed child's, for the restart
    size_t nextJob = 0;
    std::unique_ptr<Run::Job> job;
    std::deque<std::string> queue;
    std::vector<std::string> carry;
    int sends = 0;
    bool done = false;
  };
  // One step of `app`: a start, a send, a delivery or an end.
  void step(App& app);
  void startNext(App& app);
  void send(App& app);
  void finish(App& app);

  Run& run_;
};

}  // namespace stress

#endif  // OBJSTORE_TESTS_STRESS_DRIVERS_H_
