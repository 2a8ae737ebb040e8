// objstore_stress: runs the library through seeded schedules and checks, per seed, that every
// item given to sendItem ends exactly once. See README.md.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "LogWriter.h"
#include "Run.h"
#include "Schedule.h"
#include "Watchdog.h"
#include "World.h"

namespace {

using stress::Mode;

const char kUsage[] =
    "usage: objstore_stress [options]\n"
    "  --mode threaded|deterministic   real threads (default), or one thread and commits at\n"
    "                                  call boundaries the seed picks, which replays exactly\n"
    "  --seed S                        run seed S alone\n"
    "  --first S --seeds N             run seeds S .. S+N-1 (default 1 and 100)\n"
    "  --describe                      print the schedule of each seed and run nothing\n"
    "  --replay-check                  deterministic mode: run each seed twice and compare the\n"
    "                                  digests of their traces\n"
    "  --keep-going                    go on after a failed seed\n"
    "  --verbose                       print each seed's trace\n"
    "  --log                           keep the library's log (OBJSTORE_LOG_LEVEL, stderr)\n"
    "  --end-margin-ms N               what endBackup may take beyond its wait (default 3000)\n"
    "  --hang-seconds N                a seed without progress for N s is a hang: stacks are\n"
    "                                  dumped with gdb (default 120; 0: no watchdog)\n"
    "  --work-dir DIR                  where the runs' files go (default /dev/shm or TMPDIR)\n"
    "  --help, --version\n"
    "Exit status: 0 when every seed passed, 1 when one failed, 2 for bad arguments.\n";

struct Arguments {
  Mode mode = Mode::kThreaded;
  uint64_t first = 1;
  uint64_t seeds = 100;
  bool describe = false;
  bool replayCheck = false;
  bool keepGoing = false;
  bool log = false;
  int hangSeconds = 120;
  std::string workDir;
  stress::RunOptions run;
};

bool ParseNumber(const char* text, uint64_t* out) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || text[0] == '-') return false;
  *out = value;
  return true;
}

// 0: go on; otherwise the exit status.
int Parse(int argc, char** argv, Arguments* args) {
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    uint64_t number = 0;
    auto numeric = [&](uint64_t* out) {
      if (!ParseNumber(value, out)) {
        fprintf(stderr, "objstore_stress: %s needs a number\n", flag.c_str());
        return false;
      }
      ++i;
      return true;
    };
    if (flag == "--help" || flag == "-h") {
      fputs(kUsage, stdout);
      return -1;
    } else if (flag == "--version") {
      puts("objstore_stress 1");
      return -1;
    } else if (flag == "--mode" && value != nullptr &&
               (strcmp(value, "threaded") == 0 || strcmp(value, "deterministic") == 0)) {
      args->mode = strcmp(value, "threaded") == 0 ? Mode::kThreaded : Mode::kDeterministic;
      ++i;
    } else if (flag == "--seed") {
      if (!numeric(&args->first)) return 2;
      args->seeds = 1;
    } else if (flag == "--first") {
      if (!numeric(&args->first)) return 2;
    } else if (flag == "--seeds") {
      if (!numeric(&args->seeds)) return 2;
    } else if (flag == "--end-margin-ms") {
      if (!numeric(&number)) return 2;
      args->run.endMarginMs = static_cast<long>(number);
    } else if (flag == "--hang-seconds") {
      if (!numeric(&number)) return 2;
      args->hangSeconds = static_cast<int>(number);
    } else if (flag == "--work-dir" && value != nullptr && *value != '\0') {
      args->workDir = value;
      ++i;
    } else if (flag == "--describe") {
      args->describe = true;
    } else if (flag == "--replay-check") {
      args->replayCheck = true;
    } else if (flag == "--keep-going") {
      args->keepGoing = true;
    } else if (flag == "--verbose") {
      args->run.verbose = true;
    } else if (flag == "--log") {
      args->log = true;
    } else {
      fprintf(stderr, "objstore_stress: unknown or incomplete option %s\n%s", flag.c_str(), kUsage);
      return 2;
    }
  }
  if (args->replayCheck && args->mode != Mode::kDeterministic) {
    fprintf(stderr, "objstore_stress: --replay-check needs --mode deterministic\n");
    return 2;
  }
  return 0;
}

std::string ReplayCommand(const char* program, const Arguments& args) {
  return std::string(program) + " --mode " +
         (args.mode == Mode::kDeterministic ? "deterministic" : "threaded");
}

void PrintFailure(const char* program, const Arguments& args, uint64_t seed,
                  const std::vector<std::string>& violations) {
  fprintf(stderr, "FAILED seed=%llu mode=%s\n", static_cast<unsigned long long>(seed),
          args.mode == Mode::kDeterministic ? "deterministic" : "threaded");
  for (const std::string& violation : violations) fprintf(stderr, "  %s\n", violation.c_str());
  fprintf(stderr, "replay: %s --seed %llu --verbose   (schedule: add --describe)\n",
          ReplayCommand(program, args).c_str(), static_cast<unsigned long long>(seed));
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  const int parsed = Parse(argc, argv, &args);
  if (parsed != 0) return parsed < 0 ? 0 : parsed;
  if (args.describe) {
    for (uint64_t seed = args.first; seed < args.first + args.seeds; ++seed) {
      fputs(stress::Describe(stress::MakeSchedule(seed, args.mode)).c_str(), stdout);
    }
    return 0;
  }
  if (!args.log) g_ptrLogWriter.reset();
  signal(SIGPIPE, SIG_IGN);
  stress::Watchdog watchdog(args.hangSeconds, ReplayCommand(argv[0], args));
  std::unique_ptr<stress::World> world;
  try {
    world.reset(new stress::World(args.workDir));
  } catch (const std::exception& exception) {
    fprintf(stderr, "objstore_stress: %s\n", exception.what());
    return 2;
  }

  const auto start = std::chrono::steady_clock::now();
  stress::RunTotals all;
  uint64_t passed = 0, failed = 0;
  for (uint64_t seed = args.first; seed < args.first + args.seeds; ++seed) {
    watchdog.beat(seed);
    const stress::Schedule schedule = stress::MakeSchedule(seed, args.mode);
    if (args.run.verbose) fputs(stress::Describe(schedule).c_str(), stderr);
    stress::Run run(schedule, *world, args.run);
    bool ok = run.execute();
    std::vector<std::string> violations = run.violations();
    if (ok && args.replayCheck) {
      stress::Run again(schedule, *world, args.run);
      again.execute();
      if (again.digest() != run.digest()) {
        ok = false;
        violations.push_back("the second run of the seed took another course (trace digests " +
                             std::to_string(run.digest()) + " and " +
                             std::to_string(again.digest()) + ")");
      }
    }
    const stress::RunTotals totals = run.totals();
    all.sends += totals.sends;
    all.committed += totals.committed;
    all.handedBack += totals.handedBack;
    all.refused += totals.refused;
    all.jobs += totals.jobs;
    all.snapshots += totals.snapshots;
    all.storeChecked += totals.storeChecked;
    if (ok) {
      ++passed;
      continue;
    }
    ++failed;
    PrintFailure(argv[0], args, seed, violations);
    if (!args.keepGoing) break;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  printf(
      "%s: %llu seeds passed, %llu failed in %.1f s; %llu jobs, %llu sends: %llu committed, "
      "%llu handed back, %llu refused; %llu statistics snapshots checked; %llu commits read back "
      "from the store\n",
      args.mode == Mode::kDeterministic ? "deterministic" : "threaded",
      static_cast<unsigned long long>(passed), static_cast<unsigned long long>(failed), seconds,
      static_cast<unsigned long long>(all.jobs), static_cast<unsigned long long>(all.sends),
      static_cast<unsigned long long>(all.committed),
      static_cast<unsigned long long>(all.handedBack), static_cast<unsigned long long>(all.refused),
      static_cast<unsigned long long>(all.snapshots),
      static_cast<unsigned long long>(all.storeChecked));
  return failed == 0 ? 0 : 1;
}
