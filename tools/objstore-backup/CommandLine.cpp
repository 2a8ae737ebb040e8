#include "CommandLine.h"

#include <CLI/CLI.hpp>
#include <cstdint>
#include <exception>
#include <functional>

#include "Commands.h"

namespace objstore_host {

namespace {

const char kProgram[] = "objstore-backup";

// Everything the parsed command line holds; the selected command runs from it.
struct Parsed {
  CommonOptions common;
  JobOptions job;
  IngestOptions ingest;
  BackupOptions backup;
  VerifyOptions verify;
  RestoreOptions restore;
  DemoOptions demo;
  std::function<int(std::ostream&, std::ostream&)> run;
};

void AddCommonOptions(CLI::App* command, CommonOptions* common) {
  command->add_flag("--json", common->json, "Print the summary as JSON");
  command->add_flag("--no-progress", common->noProgress, "Show no progress on standard error");
  command->add_option("--log", common->logFile,
                      "Write the library's log to FILE ('-': standard error)");
  command->add_option("--log-level", common->logLevel, "Log level, -1 (errors) to 5 (tracing)")
      ->check(CLI::Range(-1, 5));
}

void AddJobOptions(CLI::App* command, JobOptions* job) {
  command->add_flag("--perf", job->perf,
                    "Show the library's read_for_backup and write_to_pipeline counters");
  command->add_option("--faults", job->faults,
                      "Pipeline faults to inject, e.g. 'sendHeader=3,sendUserBufData=10+' "
                      "(also OBJSTORE_PIPELINE_FAULTS)");
  command->add_option("--commit-items", job->commitItems, "Commit a stream after N items")
      ->check(CLI::NonNegativeNumber);
  command
      ->add_option("--commit-ms", job->commitMs,
                   "Commit a stream MS milliseconds after its last commit")
      ->check(CLI::NonNegativeNumber);
}

void AddStreamOptions(CLI::App* command, uint32_t* streams, uint32_t* threads,
                      uint32_t* resendRounds) {
  command->add_option("--streams", *streams, "Pipeline streams of the job")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
  command->add_option("--threads", *threads, "Host threads calling sendItem")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
  command
      ->add_option("--resend-rounds", *resendRounds,
                   "How often items handed back in failed lists are sent again")
      ->check(CLI::Range(0, 100))
      ->capture_default_str();
}

void AddExtentOption(CLI::App* command, uint64_t* extentSize) {
  command->add_option("--extent-size", *extentSize, "Largest data section, e.g. 64KiB or 1MiB")
      ->transform(CLI::AsSizeValue(false))
      ->check(CLI::Range(uint64_t{1}, uint64_t{1} << 30))
      ->capture_default_str();
}

void AddIngest(CLI::App& app, Parsed* p) {
  CLI::App* command = app.add_subcommand(
      "ingest", "Put every file, link and empty directory under SRC into a disk cache");
  command->add_option("SRC", p->ingest.sourceDir, "Source directory")
      ->required()
      ->check(CLI::ExistingDirectory);
  command->add_option("--cache", p->ingest.cacheDir, "Disk cache directory (created if missing)")
      ->required();
  AddExtentOption(command, &p->ingest.extentSize);
  command->add_option("--threads", p->ingest.threads, "Threads writing segments")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
  command->add_flag("--sync", p->ingest.sync, "fsync every segment");
  AddCommonOptions(command, &p->common);
  command->callback([p] {
    p->run = [p](std::ostream& out, std::ostream& err) {
      return RunIngestCommand(p->ingest, p->common, out, err);
    };
  });
}

void AddBackup(CLI::App& app, Parsed* p) {
  CLI::App* command =
      app.add_subcommand("backup", "Back up every segment of a disk cache in one job");
  command->add_option("--cache", p->backup.cacheDir, "Disk cache directory")
      ->required()
      ->check(CLI::ExistingDirectory);
  command->add_option("--root", p->backup.rootBase,
                      "Base directory of the library's root (default: the settings store)");
  command->add_option("--store", p->backup.storeDir,
                      "Backup store directory (default: OBJSTORE_PIPELINE_STORE or settings)");
  command->add_option("--job-id", p->backup.jobId, "Job id")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  command->add_option("--app-id", p->backup.appId, "Application id")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  AddStreamOptions(command, &p->backup.streams, &p->backup.threads, &p->backup.resendRounds);
  AddJobOptions(command, &p->job);
  AddCommonOptions(command, &p->common);
  command->callback([p] {
    p->run = [p](std::ostream& out, std::ostream& err) {
      return RunBackupCommand(p->backup, p->job, p->common, out, err);
    };
  });
}

void AddVerify(CLI::App& app, Parsed* p) {
  CLI::App* command = app.add_subcommand(
      "verify", "Check that every object under SOURCE has an intact committed copy");
  command->add_option("--store", p->verify.storeDir, "Backup store directory")
      ->required()
      ->check(CLI::ExistingDirectory);
  command->add_option("--source", p->verify.sourceDir, "Source directory")
      ->required()
      ->check(CLI::ExistingDirectory);
  CLI::Option* job = command->add_option("--job", p->verify.jobId, "Only this job's runs")
                         ->check(CLI::NonNegativeNumber);
  AddCommonOptions(command, &p->common);
  command->callback([p, job] {
    p->verify.allJobs = job->count() == 0;
    p->run = [p](std::ostream& out, std::ostream& err) {
      return RunVerifyCommand(p->verify, p->common, out, err);
    };
  });
}

void AddRestore(CLI::App& app, Parsed* p) {
  CLI::App* command = app.add_subcommand(
      "restore", "Write the latest committed copy of every object of a job under a directory");
  command->add_option("--store", p->restore.storeDir, "Backup store directory")
      ->required()
      ->check(CLI::ExistingDirectory);
  command->add_option("--job", p->restore.jobId, "Job id")
      ->required()
      ->check(CLI::NonNegativeNumber);
  command->add_option("--to", p->restore.targetDir, "Target directory (created if missing)")
      ->required();
  AddCommonOptions(command, &p->common);
  command->callback([p] {
    p->run = [p](std::ostream& out, std::ostream& err) {
      return RunRestoreCommand(p->restore, p->common, out, err);
    };
  });
}

void AddDemo(CLI::App& app, Parsed* p) {
  CLI::App* command = app.add_subcommand(
      "demo", "Generate objects, back them up, restore them and compare, in a fresh workspace");
  command->add_option("--keep", p->demo.keepDir, "Use and keep this (empty) workspace directory");
  command->add_option("--objects", p->demo.tree.objects, "Objects to generate")
      ->check(CLI::Range(uint64_t{0}, uint64_t{10000000}))
      ->capture_default_str();
  command->add_option("--min-size", p->demo.tree.minSize, "Smallest object, e.g. 1 or 2KiB")
      ->transform(CLI::AsSizeValue(false))
      ->capture_default_str();
  command->add_option("--max-size", p->demo.tree.maxSize, "Largest object, e.g. 4MiB")
      ->transform(CLI::AsSizeValue(false))
      ->check(CLI::Range(uint64_t{0}, uint64_t{1} << 30))
      ->capture_default_str();
  command->add_option("--seed", p->demo.tree.seed, "Seed of the generated data")
      ->capture_default_str();
  AddExtentOption(command, &p->demo.extentSize);
  AddStreamOptions(command, &p->demo.streams, &p->demo.threads, &p->demo.resendRounds);
  AddJobOptions(command, &p->job);
  AddCommonOptions(command, &p->common);
  command->callback([p] {
    p->run = [p](std::ostream& out, std::ostream& err) {
      if (p->demo.tree.minSize > p->demo.tree.maxSize) {
        err << kProgram << ": error: --min-size is larger than --max-size\n";
        return static_cast<int>(kExitUsage);
      }
      return RunDemoCommand(p->demo, p->job, p->common, out, err);
    };
  });
}

bool IsCommand(const CLI::App& app, const std::string& name) {
  try {
    app.get_subcommand(name);
    return true;
  } catch (const CLI::OptionNotFound&) {
    return false;
  }
}

}  // namespace

int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  try {
    CLI::App app(
        "The object store's backup host: ingest objects into a disk cache, back them "
        "up through the object-store backup interface, verify and restore them.",
        kProgram);
    app.require_subcommand(1);
    app.fallthrough(false);
    Parsed parsed;
    AddIngest(app, &parsed);
    AddBackup(app, &parsed);
    AddVerify(app, &parsed);
    AddRestore(app, &parsed);
    AddDemo(app, &parsed);
    if (argc > 1 && argv[1][0] != '-' && !IsCommand(app, argv[1])) {
      err << kProgram << ": error: unknown command [" << argv[1] << "] (see --help)\n";
      return kExitUsage;
    }
    try {
      app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
      if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success))
        return app.exit(e, out, err);
      err << kProgram << ": error: " << e.what() << " (see --help)\n";
      return kExitUsage;
    }
    return parsed.run(out, err);
  } catch (const std::exception& e) {
    err << kProgram << ": error: " << e.what() << "\n";
  } catch (...) {
    err << kProgram << ": error: unexpected failure\n";
  }
  return kExitFailed;
}

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::vector<const char*> argv;
  argv.push_back(kProgram);
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  return RunCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
}

}  // namespace objstore_host
