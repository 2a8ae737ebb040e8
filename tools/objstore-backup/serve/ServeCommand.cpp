#include "ServeCommand.h"

#include <chrono>
#include <memory>
#include <thread>

#ifdef OBJSTORE_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

#include "BackupService.h"
#include "NumericOptions.h"
#include "PerfProbe.h"
#include "ScopedInterrupt.h"
#include "SharedOptions.h"
#include "Summary.h"

namespace objstore_host {

namespace {

const char kProgram[] = "objstore-backup";
const char kStopNotice[] =
    "\nobjstore-backup: stopping: ending the job and waiting for its commits; press again to "
    "stop at once (the cache keeps what was not committed)\n";

void Notify(const char* state) {
#ifdef OBJSTORE_HAVE_SYSTEMD
  sd_notify(0, state);
#else
  static_cast<void>(state);
#endif
}

// With --perf, the library's send counters since the start go into the summary as "perf".
void PrintSummary(nlohmann::json summary, const PerfProbe* perf, bool json, std::ostream& out) {
  if (perf != nullptr) summary["perf"] = nlohmann::json::parse(PerfSummary(perf->figures()).dump());
  if (json) {
    out << summary.dump(2) << "\n";
    return;
  }
  out << "jobs: " << summary["jobs"] << "\n"
      << "objects received: " << summary["objects_received"] << " (" << summary["bytes_received"]
      << " bytes)\n"
      << "committed: " << summary["committed"] << "\n"
      << "waiting in the cache: " << summary["objects_waiting"] << "\n"
      << "resent: " << summary["resent"] << "\n";
  for (const auto& problem : summary["problems"]) {
    out << "problem: " << problem.get<std::string>() << "\n";
  }
  if (perf != nullptr) PrintSummaryText(Summary{{"perf", PerfSummary(perf->figures())}}, out);
}

void AddServe(CLI::App& app, CommonOptions* common, JobOptions* job,
              std::function<int(std::ostream&, std::ostream&)>* run) {
  std::shared_ptr<ServeOptions> options = std::make_shared<ServeOptions>();
  CLI::App* command = app.add_subcommand(
      "serve", "Run the backup service: objects PUT over HTTP are cached durably and backed up");
  command->add_option("--listen", options->listen, "Address and port to listen on")
      ->type_name("ADDR:PORT")
      ->default_str(options->listen);
  command->add_option("--cache", options->backup.cacheDir, "Disk cache directory (created)")
      ->required()
      ->check(NonEmpty())
      ->type_name("DIR");
  command
      ->add_option("--root", options->backup.rootBase,
                   "Base directory of the library's root; required unless the settings hold "
                   "one. Only its last part is created; not inside the cache or the store")
      ->check(NonEmpty())
      ->type_name("DIR");
  AddStoreOption(command, &options->backup.storeDir);
  command
      ->add_option("--catalog", options->catalogFile,
                   "The catalog database (SQLite), beside the cache and on its file system")
      ->check(NonEmpty())
      ->type_name("FILE")
      ->default_str("<cache>.catalog.sqlite");
  AddIntegerOption(command, "--app-id", &options->backup.appId, 0, INT32_MAX, "Application id");
  AddSizeOption(command, "--high-watermark", &options->backup.highWatermark, 0, UINT64_MAX - 1,
                "The disk cache is short of space above this many bytes of segments, which "
                "makes the library force commits")
      ->default_str("no limit");
  AddStreamOptions(command, &options->backup.streams, &options->backup.threads,
                   &options->backup.resendRounds);
  AddIntegerOption(command, "--job-objects", &options->jobObjects, uint64_t{1}, UINT64_MAX,
                   "A job ends after this many objects (or --job-seconds)");
  command->add_option("--job-seconds", options->jobSeconds, "A job ends after this long")
      ->type_name("SECONDS")
      ->check(CLI::Range(0.01, 86400.0))
      ->default_str("10");
  command
      ->add_option("--ack-timeout", options->ackTimeoutSeconds,
                   "Longest wait of a PUT ?wait=committed before it is answered 503")
      ->type_name("SECONDS")
      ->check(CLI::Range(0.01, 86400.0))
      ->default_str("60");
  AddSizeOption(command, "--max-object-size", &options->maxObjectSize, 0, uint64_t{1} << 40,
                "Larger bodies are refused with 413 before they are read")
      ->default_str("1GiB");
  AddIntegerOption(command, "--http-threads", &options->httpThreads, uint64_t{1}, uint64_t{4096},
                   "Connections served at once; a keep-alive connection holds its thread");
  AddJobOptions(command, job);
  AddCommonOptions(command, common);
  command->callback([options, common, job, run] {
    *run = [options, common, job](std::ostream& out, std::ostream& err) {
      return RunServeCommand(*options, *job, *common, out, err);
    };
  });
}

}  // namespace

int RunServeCommand(const ServeOptions& given, const JobOptions& job, const CommonOptions& common,
                    std::ostream& out, std::ostream& err) {
  ServeOptions options = given;
  options.backup.statsFile = job.statsFile;
  options.backup.statsInterval =
      std::chrono::milliseconds(static_cast<int64_t>(job.statsIntervalSeconds * 1000));
  bool rootCreated = false;
  if (const int status = PrepareBackup(job, common, &options.backup, &rootCreated, err)) {
    return status;
  }
  const ScopedInterrupt interrupt(kStopNotice);
  // Before the service's threads call into the library.
  std::unique_ptr<PerfProbe> perf(job.perf ? new PerfProbe : nullptr);
  BackupService service(options);
  std::string error;
  if (!service.start(&error)) {
    err << kProgram << ": error: " << error << "\n";
    return kExitFailed;
  }
  err << kProgram << ": serving on port " << service.port() << " (" << options.listen << ")\n";
  Notify("READY=1");
  while (!ScopedInterrupt::Flag().load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  Notify("STOPPING=1");
  PrintSummary(service.stop(), perf.get(), common.json, out);
  return kExitOk;
}

void RegisterServeCommand() {
  AddCommandHook(&AddServe);
}

}  // namespace objstore_host
