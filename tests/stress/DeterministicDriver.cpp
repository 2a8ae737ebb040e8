#include "Drivers.h"

namespace stress {

void DeterministicDriver::run() {
  const Schedule& schedule = run_.schedule_;
  Random random(schedule.seed ^ 0x9e3779b97f4a7c15ull);
  std::vector<App> apps(schedule.apps.size());
  for (size_t a = 0; a < apps.size(); ++a) {
    apps[a].plan = &schedule.apps[a];
    apps[a].random = random.fork();
    if (apps[a].plan->crashAfterSends >= 0) {
      apps[a].pending = run_.crashChild(*apps[a].plan);
      apps[a].restartPending = true;
    }
  }
  run_.startInterleaver();
  for (;;) {
    std::vector<App*> live;
    for (App& app : apps) {
      if (!app.done) live.push_back(&app);
    }
    if (live.empty()) break;
    step(*live[random.below(live.size())]);
    run_.checkSnapshot();
  }
}

void DeterministicDriver::step(App& app) {
  if (app.restartPending) {
    app.restartPending = false;
    run_.restartJob(*app.plan, app.pending, false, app.random, &app.carry);
    return;
  }
  if (!app.job) {
    startNext(app);
    return;
  }
  const JobPlan& plan = *app.job->plan;
  const bool endsEarly = plan.endAfterSends >= 0 && app.sends >= plan.endAfterSends;
  if (endsEarly && !app.job->ending) {
    std::vector<std::string> resend;
    run_.endJob(*app.job, app.random, &resend);
    app.carry.insert(app.carry.end(), resend.begin(), resend.end());
    return;
  }
  if (!app.queue.empty()) {
    if (app.random.chance(15)) {
      run_.deliverSomething(app.random);
    } else {
      send(app);
    }
    return;
  }
  finish(app);
}

void DeterministicDriver::startNext(App& app) {
  if (app.nextJob == app.plan->jobs.size()) {
    app.done = true;
    return;
  }
  const JobPlan& plan = app.plan->jobs[app.nextJob++];
  app.job = run_.startJob(app.plan->appId, plan, false);
  if (!app.job) return;  // what was to be sent waits for the next job
  app.queue.assign(app.carry.begin(), app.carry.end());
  app.carry.clear();
  for (int i = 0; i < plan.newItems; ++i) {
    app.queue.push_back(run_.newItemName(app.plan->appId, app.random));
  }
  app.sends = 0;
}

void DeterministicDriver::send(App& app) {
  Run::Job& job = *app.job;
  const int n = app.sends++;
  ++job.sendsStarted;
  run_.callbackAtSend(job, n);
  const std::string name = app.queue.front();
  app.queue.pop_front();
  std::vector<std::string> resend;
  run_.sendOne(job, name, app.random, &resend);
  for (const std::string& item : resend) {
    if (job.ending) {
      app.carry.push_back(item);
    } else {
      app.queue.push_back(item);
    }
  }
}

void DeterministicDriver::finish(App& app) {
  Run::Job& job = *app.job;
  if (!job.ending) {
    std::vector<std::string> resend;
    run_.endJob(job, app.random, &resend);
    app.carry.insert(app.carry.end(), resend.begin(), resend.end());
  }
  run_.settleJob(job);
  job.controller.reset();
  app.job.reset();
}

}  // namespace stress
