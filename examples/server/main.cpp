// An example object-store server, built against the installed package, that runs as a server
// does for a while, is killed in the middle of a job, and restarts.
//
//   1. normal:  three jobs of application A in a row while application B runs one; each job on
//               4 streams from 4 threads, with injected send failures whose items come back in
//               failed lists and are sent again.
//   2. killed:  a job of A whose commits are slow, killed with SIGKILL while it is still sending.
//   3. restart: a fresh process finds the job directory the kill left, resends through the
//               restart protocol what its commit record does not show committed, runs A's next
//               job meanwhile, ends the job and removes the leftover.
// Each phase is this program again in a child process (--phase NAME WORK_DIR), so that each
// starts with the library fresh, as a restarted server does. The driver then checks the
// promise: every object committed exactly once by the commit record, and no job directory left.
//
// Usage: objstore-example-server [WORK_DIR]. WORK_DIR must not exist yet; without it a
// temporary directory is used, removed on success and kept on failure.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "LeftoverJobs.h"
#include "server.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using server::WorkDirs;

const int kPhaseSeconds = 60;          // no phase may take longer
const size_t kCommitsBeforeKill = 60;  // of the killed job's objects, recorded committed

pid_t StartPhase(const char* phase, const fs::path& work) {
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/proc/self/exe", "objstore-example-server", "--phase", phase, work.c_str(), nullptr);
    _exit(127);
  }
  return pid;
}

size_t RecordedCount(const WorkDirs& dirs) {
  size_t lines = 0;
  for (const auto& entry : server::CommitRecord::Read(dirs.record)) lines += entry.second;
  return lines;
}

// Waits for the phase's process; kills it when it overruns. True when it exited with 0.
bool WaitForPhase(const char* phase, pid_t pid) {
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(kPhaseSeconds);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      std::printf("FAILED: phase %s did not end within %d s\n", phase, kPhaseSeconds);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  std::printf("FAILED: phase %s ended with status %d\n", phase, status);
  return false;
}

// Starts the killed job's process and kills it once the record shows some of its objects
// committed: the flow window keeps it from having sent all of them by then.
bool KillMidJob(const WorkDirs& dirs) {
  const size_t target = RecordedCount(dirs) + kCommitsBeforeKill;
  const pid_t pid = StartPhase("killed", dirs.base.parent_path());
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(kPhaseSeconds);
  int status = 0;
  while (RecordedCount(dirs) < target) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      std::printf("FAILED: the killed phase ended by itself (status %d)\n", status);
      return false;
    }
    if (Clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  const size_t recorded = RecordedCount(dirs) - (target - kCommitsBeforeKill);
  if (!WIFSIGNALED(status) || recorded < kCommitsBeforeKill ||
      recorded >= static_cast<size_t>(server::kKilledJob.objects)) {
    std::printf("FAILED: no kill mid-job (%zu of %d recorded committed)\n", recorded,
                server::kKilledJob.objects);
    return false;
  }
  std::printf("killed: SIGKILL after %zu of %d objects were recorded committed\n", recorded,
              server::kKilledJob.objects);
  return true;
}

// The promise: every object of every job in the record exactly once, nothing else in it, and
// no job directory under the root.
bool CheckPromise(const WorkDirs& dirs, size_t* objects) {
  std::map<std::string, int> counts = server::CommitRecord::Read(dirs.record);
  int violations = 0;
  for (const server::JobPlan& job : server::AllJobs()) {
    for (int i = 0; i < job.objects; ++i, ++*objects) {
      const std::string guid = server::ObjectGuid(job, i);
      const int times = counts.count(guid) ? counts[guid] : 0;
      if (times != 1 && ++violations <= 5)
        std::printf("FAILED: object %s of job %lld committed %d times\n", guid.c_str(),
                    (long long)job.jobId, times);
      counts.erase(guid);
    }
  }
  for (const auto& entry : counts)
    if (++violations <= 5)
      std::printf("FAILED: unknown name in the record [%s]\n", entry.first.c_str());
  for (const ObjectStore::LeftoverJob& job : ObjectStore::LeftoverJobs::List(dirs.root.string())) {
    std::printf("FAILED: job directory left: %s\n", job.dir.c_str());
    ++violations;
  }
  return violations == 0;
}

int Drive(const fs::path& work) {
  const Clock::time_point start = Clock::now();
  const WorkDirs dirs(work);
  fs::create_directories(work);
  bool ok = WaitForPhase("normal", StartPhase("normal", work)) && KillMidJob(dirs);
  if (ok && ObjectStore::LeftoverJobs::List(dirs.root.string()).empty()) {
    std::printf("FAILED: the kill left no job directory\n");
    ok = false;
  }
  ok = ok && WaitForPhase("restart", StartPhase("restart", work));
  size_t objects = 0;
  ok = ok && CheckPromise(dirs, &objects);
  if (!ok) return 1;
  std::printf(
      "server: %zu objects in %zu jobs, every one committed exactly once, "
      "no job directory left, %.1f s\n",
      objects, server::AllJobs().size(),
      std::chrono::duration<double>(Clock::now() - start).count());
  return 0;
}

int RunPhase(const std::string& phase, const fs::path& work) {
  const WorkDirs dirs(work);
  if (phase == "normal") return server::RunNormalPhase(dirs);
  if (phase == "killed") return server::RunKilledPhase(dirs);
  if (phase == "restart") return server::RunRestartPhase(dirs);
  std::fprintf(stderr, "unknown phase [%s]\n", phase.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // the phases' lines in order, also through a pipe
  if (argc == 4 && std::strcmp(argv[1], "--phase") == 0) {
    // The library's threads may still run at the end: leave without static destructors.
    const int status = RunPhase(argv[2], argv[3]);
    std::fflush(stdout);
    std::_Exit(status);
  }
  const bool temporary = argc < 2;
  const fs::path work =
      temporary ? fs::temp_directory_path() / ("objstore-server-" + std::to_string(getpid()))
                : fs::absolute(argv[1]);
  if (fs::exists(work)) {
    std::fprintf(stderr, "%s exists already\n", work.c_str());
    return 2;
  }
  const int status = Drive(work);
  if (status != 0) std::printf("work directory kept: %s (log: server.log)\n", work.c_str());
  if (status == 0 && temporary) fs::remove_all(work);
  return status;
}
