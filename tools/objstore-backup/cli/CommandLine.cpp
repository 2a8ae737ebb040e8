#include "CommandLine.h"

#include <CLI/CLI.hpp>
#include <cstdint>
#include <exception>
#include <functional>

#include "Commands.h"
#include "HelpFormatter.h"
#include "NumericOptions.h"
#include "ObjectStoreVersion.h"
#include "SharedOptions.h"

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
  CheckOptions check;
  ListOptions list;
  DemoOptions demo;
  std::function<int(std::ostream&, std::ostream&)> run;
};

}  // namespace

// An empty value of a path (or a fault plan, or a log file) would silently mean "the default"
// or "nothing", which sends data where nobody asked: refused, with the option's name.
CLI::Validator NonEmpty() {
  return CLI::Validator(
      [](std::string& value) {
        return value.empty() ? std::string("must not be empty") : std::string();
      },
      "", "NONEMPTY");
}

// Every command takes these; so does the program before the command's name, for the same
// values ("objstore-backup --json list" and "objstore-backup list --json" are one thing).
void AddCommonOptions(CLI::App* command, CommonOptions* common) {
  command->add_flag("--json", common->json, "Print the summary as JSON");
  command->add_flag("--no-progress", common->noProgress, "Show no progress on standard error");
  command
      ->add_option("--log", common->logFile,
                   "Write the library's log to FILE ('-': standard error)")
      ->check(NonEmpty())
      ->type_name("FILE");
  AddIntegerOption(command, "--log-level", &common->logLevel, -1, 5,
                   "How much the library logs: -1 errors only, 5 everything")
      ->default_str("1");
}

void AddJobOptions(CLI::App* command, JobOptions* job) {
  command->add_flag("--perf", job->perf,
                    "Show the library's read_for_backup and write_to_pipeline counters");
  command
      ->add_option("--faults", job->faults,
                   "Pipeline faults to inject, e.g. 'sendHeader=3,sendUserBufData=10+' "
                   "(also OBJSTORE_PIPELINE_FAULTS)")
      ->check(NonEmpty())
      ->type_name("SPEC");
  AddIntegerOption(command, "--commit-items", &job->commitItems, int64_t{0}, INT64_MAX,
                   "Commit a stream after N items (0: never for that reason)")
      ->default_str("the pipeline's setting");
  AddIntegerOption(
      command, "--commit-ms", &job->commitMs, int64_t{0}, INT64_MAX,
      "Commit a stream N milliseconds after its last commit (0: never for that reason)")
      ->default_str("the pipeline's setting");
  command
      ->add_option("--stats", job->statsFile,
                   "Rewrite FILE with the library's statistics every interval: Prometheus text "
                   "when its name ends in .prom, JSON otherwise")
      ->type_name("FILE")
      ->check([](const std::string& value) {
        return value.empty() ? std::string("--stats needs a file name") : std::string();
      });
  command
      ->add_option("--stats-interval", job->statsIntervalSeconds,
                   "Seconds between two writes of the statistics file")
      ->type_name("SECONDS")
      ->check(CLI::Range(0.1, 3600.0))
      ->default_str("5");
}

void AddStreamOptions(CLI::App* command, uint32_t* streams, uint32_t* threads,
                      uint32_t* resendRounds) {
  AddIntegerOption(command, "--streams", streams, 1u, 64u, "Pipeline streams of the job");
  AddIntegerOption(command, "--threads", threads, 1u, 64u, "Host threads calling sendItem");
  AddIntegerOption(command, "--resend-rounds", resendRounds, 0u, 100u,
                   "How often items handed back in failed lists are sent again");
}

// --job, spelt --job-id too, as backup once spelt it.
CLI::Option* AddJobOption(CLI::App* command, int64_t* jobId, const std::string& description) {
  return AddIntegerOption(command, "--job,--job-id", jobId, int64_t{0}, INT64_MAX, description);
}

// Every command that reads a store finds it as a backup job does (ResolveStoreDir).
void AddStoreOption(CLI::App* command, std::string* storeDir) {
  command
      ->add_option("--store", *storeDir,
                   "Backup store directory; required unless OBJSTORE_PIPELINE_STORE or the "
                   "settings (Pipeline / sStoreDir) name one")
      ->check(NonEmpty())
      ->type_name("DIR");
}

namespace {

void AddExtentOption(CLI::App* command, uint64_t* extentSize) {
  AddSizeOption(command, "--extent-size", extentSize, 1, uint64_t{1} << 30,
                "Largest data section, e.g. 64KiB or 1MiB");
}

void AddIngest(CLI::App& app, Parsed* p) {
  CLI::App* command = app.add_subcommand(
      "ingest", "Put every file, link and empty directory under SRC into a disk cache");
  command->add_option("SRC", p->ingest.sourceDir, "Source directory")
      ->required()
      ->check(NonEmpty())
      ->check(CLI::ExistingDirectory);
  command
      ->add_option("--cache", p->ingest.cacheDir,
                   "Disk cache directory (created if missing); not inside SRC")
      ->required()
      ->check(NonEmpty())
      ->type_name("DIR");
  AddExtentOption(command, &p->ingest.extentSize);
  AddIntegerOption(command, "--threads", &p->ingest.threads, 1u, 64u, "Threads writing segments");
  command->add_flag("--sync", p->ingest.sync, "fsync every segment");
  command
      ->add_option("--faults", p->ingest.faults,
                   "Disk cache faults to inject: 'diskFullAfter=SIZE' (also "
                   "OBJSTORE_DISKCACHE_FAULTS)")
      ->check(NonEmpty())
      ->type_name("SPEC");
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
      ->check(NonEmpty())
      ->check(CLI::ExistingDirectory)
      ->type_name("DIR");
  command
      ->add_option("--root", p->backup.rootBase,
                   "Base directory of the library's root; required unless the settings hold "
                   "one (OBJECTSTORE / sOBJECTSTORERootDir). Only its last part is created; "
                   "not inside the cache or the store")
      ->check(NonEmpty())
      ->type_name("DIR");
  AddStoreOption(command, &p->backup.storeDir);
  AddJobOption(command, &p->backup.jobId, "Job id");
  AddIntegerOption(command, "--app-id", &p->backup.appId, 0, INT32_MAX, "Application id");
  AddSizeOption(command, "--high-watermark", &p->backup.highWatermark, 0, UINT64_MAX - 1,
                "The disk cache is short of space above this many bytes of segments, which "
                "makes the library force commits")
      ->default_str("no limit");
  command->add_flag("!--no-commit-wait", p->backup.waitForCommits,
                    "End the job without waiting for outstanding commits (the library waits up to "
                    "60 s in all, one deadline for all streams); what is not committed then is "
                    "reported at once");
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
  AddStoreOption(command, &p->verify.storeDir);
  command->add_option("--source", p->verify.sourceDir, "Source directory")
      ->required()
      ->check(NonEmpty())
      ->check(CLI::ExistingDirectory)
      ->type_name("DIR");
  CLI::Option* job =
      AddJobOption(command, &p->verify.jobId, "Only this job's runs")->default_str("every job");
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
      "restore",
      "Write the latest committed copy of every object (of one job, else of every job) under a "
      "directory");
  AddStoreOption(command, &p->restore.storeDir);
  CLI::Option* job = AddJobOption(command, &p->restore.jobId, "Only this job's copies")
                         ->default_str("every job: the highest version, then the latest job");
  command
      ->add_option("--to", p->restore.targetDir,
                   "Target directory (created if missing); not the store or inside it")
      ->required()
      ->check(NonEmpty())
      ->type_name("DIR");
  command->add_flag("--overwrite", p->restore.overwrite,
                    "Replace existing files that differ (atomically); without it they are "
                    "left alone and reported");
  AddCommonOptions(command, &p->common);
  command->callback([p, job] {
    p->restore.allJobs = job->count() == 0;
    p->run = [p](std::ostream& out, std::ostream& err) {
      return RunRestoreCommand(p->restore, p->common, out, err);
    };
  });
}

// Adds --store and --job (one job's runs, else every run); the result, called in the command's
// callback, completes the selection.
std::function<void()> AddRunSelection(CLI::App* command, RunSelection* selection) {
  AddStoreOption(command, &selection->storeDir);
  CLI::Option* job =
      AddJobOption(command, &selection->jobId, "Only this job's runs")->default_str("every job");
  return [selection, job] { selection->allJobs = job->count() == 0; };
}

void AddCheck(CLI::App& app, Parsed* p) {
  CLI::App* command = app.add_subcommand(
      "check", "Read every run of a store and prove every record's checksum and every count");
  const std::function<void()> select = AddRunSelection(command, &p->check);
  AddCommonOptions(command, &p->common);
  command->callback([p, select] {
    select();
    p->run = [p](std::ostream& out, std::ostream& err) {
      return RunCheckCommand(p->check, p->common, out, err);
    };
  });
}

void AddList(CLI::App& app, Parsed* p) {
  CLI::App* command = app.add_subcommand(
      "list", "One line per run of a job in a store: items, committed, how it ended, when");
  const std::function<void()> select = AddRunSelection(command, &p->list);
  AddCommonOptions(command, &p->common);
  command->callback([p, select] {
    select();
    p->run = [p](std::ostream& out, std::ostream& err) {
      return RunListCommand(p->list, p->common, out, err);
    };
  });
}

void AddDemo(CLI::App& app, Parsed* p) {
  CLI::App* command = app.add_subcommand(
      "demo", "Generate objects, back them up, restore them and compare, in a fresh workspace");
  command
      ->add_option("--keep", p->demo.keepDir,
                   "Use and keep this (empty) workspace directory, also when interrupted")
      ->check(NonEmpty())
      ->type_name("DIR");
  AddIntegerOption(command, "--objects", &p->demo.tree.objects, uint64_t{0}, uint64_t{10000000},
                   "Objects to generate");
  AddSizeOption(command, "--min-size", &p->demo.tree.minSize, 0, uint64_t{1} << 30,
                "Smallest object, e.g. 1 or 2KiB");
  AddSizeOption(command, "--max-size", &p->demo.tree.maxSize, 0, uint64_t{1} << 30,
                "Largest object, e.g. 4MiB");
  AddIntegerOption(command, "--seed", &p->demo.tree.seed, 0u, UINT32_MAX,
                   "Seed of the generated data");
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

// The first argument that is neither an option of `app` nor an option's value: the command's
// name, or "" when there is none. An option before it that `app` does not know goes into
// `unknown` (the first one only), so that it is named instead of the missing command.
std::string CommandName(const CLI::App& app, int argc, const char* const* argv,
                        std::string* unknown) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.empty() || arg[0] != '-') return arg;
    const std::string name = arg.substr(0, arg.find('='));
    const CLI::Option* option = app.get_option_no_throw(name);
    if (option == nullptr && unknown->empty()) *unknown = name;
    if (option != nullptr && option->get_items_expected_min() > 0 && name == arg) ++i;
  }
  return "";
}

}  // namespace

std::vector<CommandHook>& CommandHooks() {
  static std::vector<CommandHook> hooks;
  return hooks;
}

void AddCommandHook(CommandHook hook) {
  CommandHooks().push_back(std::move(hook));
}

int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  try {
    CLI::App app(
        "The object store's backup host: ingest objects into a disk cache, back them "
        "up through the object-store backup interface, verify and restore them.",
        kProgram);
    app.set_version_flag("--version", std::string(kProgram) + " " + OBJSTORE_VERSION +
                                          " (library " + ObjectStore::GetLibraryVersion() + ")");
    app.require_subcommand(1);
    app.fallthrough(false);
    app.formatter(std::make_shared<HelpFormatter>());  // the commands inherit it
    Parsed parsed;
    AddCommonOptions(&app, &parsed.common);
    AddIngest(app, &parsed);
    AddBackup(app, &parsed);
    AddVerify(app, &parsed);
    AddRestore(app, &parsed);
    AddCheck(app, &parsed);
    AddList(app, &parsed);
    AddDemo(app, &parsed);
    for (const CommandHook& hook : CommandHooks())
      hook(app, &parsed.common, &parsed.job, &parsed.run);
    std::string unknown;
    const std::string command = CommandName(app, argc, argv, &unknown);
    if (!unknown.empty()) {
      err << kProgram << ": error: unknown option [" << unknown << "] (see --help)\n";
      return kExitUsage;
    }
    if (!command.empty() && !IsCommand(app, command)) {
      err << kProgram << ": error: unknown command [" << command << "] (see --help)\n";
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
