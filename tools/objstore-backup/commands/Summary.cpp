#include "Summary.h"

#include <cmath>
#include <cstdio>

namespace objstore_host {

namespace {

const size_t kListLimit = 20;

double Rounded(double value) {
  return std::round(value * 1000) / 1000;
}

double PerSecond(double amount, double seconds) {
  return seconds > 0 ? Rounded(amount / seconds) : 0.0;
}

double Mib(uint64_t bytes) {
  return Rounded(bytes / 1048576.0);
}

Summary Lines(const std::vector<std::string>& lines) {
  Summary list = Summary::array();
  for (const std::string& line : lines) list.push_back(line);
  return list;
}

Summary WalkSummary(const WalkStats& walk) {
  Summary summary;
  summary["runs"] = walk.runs;
  summary["committed_copies"] = walk.copies;
  summary["uncommitted_copies"] = walk.uncommittedCopies;
  summary["failed_copies"] = walk.failedCopies;
  summary["streams_cut_short"] = walk.incompleteStreams;
  summary["damaged_copies"] = walk.damagedCopies;
  summary["foreign_metadata_copies"] = walk.foreignCopies;
  summary["problems"] = Lines(walk.problems);
  // Warnings, not problems: neither is damage to what was committed.
  summary["foreign_metadata"] = Lines(walk.foreignLines);
  summary["leftovers_of_interrupted_writes"] = Lines(walk.leftovers);
  return summary;
}

std::string Scalar(const Summary& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_boolean()) return value.get<bool>() ? "yes" : "no";
  if (value.is_number_float()) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f", value.get<double>());
    return text;
  }
  if (value.is_object()) {
    std::string text;
    for (const auto& field : value.items()) {
      text += (text.empty() ? "" : ", ") + field.key() + " " + Scalar(field.value());
    }
    return text;
  }
  return value.dump();
}

std::string Label(std::string key) {
  for (char& c : key) {
    if (c == '_') c = ' ';
  }
  return key;
}

// The library's statistics in a few lines; --json and --stats carry them whole.
void PrintStatisticsDigest(const Summary& statistics, std::ostream& out, const std::string& pad) {
  out << pad << "statistics:\n";
  for (const Summary& job : statistics.value("controllers", Summary::array())) {
    const Summary& totals = job["totals"];
    const Summary& back = totals["items_handed_back"];
    const Summary& latency = totals["commit_latency_seconds"];
    char line[512];
    std::snprintf(line, sizeof(line),
                  "job %lld: recorded %llu, committed %llu, handed back %llu failed send + %llu "
                  "commit timeout + %llu exception, uncommitted %llu; commit latency p50 %.1f "
                  "ms, p99 %.1f ms, max %.1f ms",
                  job.value("job_id", 0LL), totals.value("items_recorded", 0ULL),
                  totals.value("items_committed", 0ULL), back.value("failed_send", 0ULL),
                  back.value("commit_timeout", 0ULL), back.value("exception", 0ULL),
                  totals.value("uncommitted", 0ULL), latency.value("p50", 0.0) * 1e3,
                  latency.value("p99", 0.0) * 1e3, latency.value("max", 0.0) * 1e3);
    out << pad << "  " << line << "\n";
  }
}

void PrintIndented(const Summary& summary, std::ostream& out, const std::string& pad) {
  for (const auto& field : summary.items()) {
    const Summary& value = field.value();
    if (field.key() == "statistics" && value.is_object()) {
      PrintStatisticsDigest(value, out, pad);
    } else if (value.is_object()) {
      out << pad << Label(field.key()) << ":\n";
      PrintIndented(value, out, pad + "  ");
    } else if (value.is_array()) {
      out << pad << Label(field.key()) << ": " << (value.empty() ? "none" : "") << "\n";
      for (size_t i = 0; i < value.size() && i < kListLimit; ++i) {
        out << pad << "  - " << Scalar(value[i]) << "\n";
      }
      if (value.size() > kListLimit) {
        out << pad << "  ... and " << value.size() - kListLimit << " more\n";
      }
    } else {
      out << pad << Label(field.key()) << ": " << Scalar(value) << "\n";
    }
  }
}

}  // namespace

Summary IngestSummary(const IngestResult& result) {
  Summary summary;
  summary["command"] = "ingest";
  summary["ok"] = result.ok();
  summary["objects"] = result.objects;
  summary["files"] = result.files;
  summary["symlinks"] = result.symlinks;
  summary["empty_directories"] = result.directories;
  summary["mib"] = Mib(result.bytes);
  summary["seconds"] = Rounded(result.seconds);
  summary["objects_per_second"] = PerSecond(result.objects, result.seconds);
  summary["mib_per_second"] = PerSecond(Mib(result.bytes), result.seconds);
  summary["problems"] = Lines(result.problems);
  return summary;
}

Summary BackupSummary(const BackupResult& result) {
  Summary summary;
  summary["command"] = "backup";
  summary["ok"] = result.ok();
  summary["interrupted"] = result.interrupted;
  summary["root_dir"] = result.rootDir;
  summary["job_started"] = result.jobStarted;
  summary["items"] = result.items;
  summary["committed"] = result.committed;
  summary["left_for_the_next_run"] = result.notCommitted.size();
  summary["mib_sent"] = Mib(result.bytesSent);
  summary["seconds"] = Rounded(result.seconds);
  // A job that never started sent nothing: a rate over its seconds would read as a result.
  if (result.jobStarted) {
    summary["items_per_second"] = PerSecond(result.items, result.seconds);
    summary["mib_per_second"] = PerSecond(Mib(result.bytesSent), result.seconds);
  }
  summary["send_failures"] = result.sendFailures;
  summary["handed_back_in_failed_lists"] = result.handedBack;
  summary["resent"] = result.resent;
  summary["resend_rounds"] = result.resendRoundsUsed;
  summary["end_backup_ms"] = Rounded(result.endBackupSeconds * 1000);
  summary["last_commit_to_end_ms"] = Rounded(result.lastCommitToEndMs);
  summary["send_and_commit_seconds"] = Rounded(result.sendAndCommitSeconds);
  summary["segments_removed"] = result.removed;
  summary["removal_after_the_job_seconds"] = Rounded(result.removalTailSeconds);
  if (result.removalInBackground) summary["removal_in_background"] = true;
  Summary restart;
  restart["restarted"] = result.restarted;
  restart["items_resent_by_restart_thread"] = result.restartItems;
  restart["leftover_dirs_removed"] = Lines(result.leftoverDirsRemoved);
  restart["other_applications_dirs_kept"] = Lines(result.leftoverDirsKept);
  summary["restart"] = restart;
  Summary failed = Summary::array();
  for (const std::string& item : result.notCommitted) {
    Summary entry;
    entry["item"] = item;
    entry["reason"] = result.reasons.at(item);
    failed.push_back(entry);
  }
  summary["not_committed"] = failed;
  summary["warnings"] = Lines(result.warnings);
  if (!result.statisticsJson.empty()) {
    summary["statistics"] = Summary::parse(result.statisticsJson);
  }
  if (!result.error.empty()) summary["error"] = result.error;
  return summary;
}

Summary VerifySummary(const VerifyResult& result) {
  Summary summary;
  summary["command"] = "verify";
  summary["ok"] = result.ok();
  summary["source_objects"] = result.sourceObjects;
  summary["verified"] = result.verified;
  summary["mib_verified"] = Mib(result.bytes);
  summary["seconds"] = Rounded(result.seconds);
  summary["missing"] = Lines(result.missing);
  summary["mismatched"] = Lines(result.mismatched);
  summary["stored_but_not_in_source"] = Lines(result.extra);
  summary["store"] = WalkSummary(result.walk);
  summary["problems"] = Lines(result.problems);
  if (!result.noRuns.empty()) summary["error"] = result.noRuns;
  return summary;
}

Summary RestoreSummary(const RestoreResult& result) {
  Summary summary;
  summary["command"] = "restore";
  summary["ok"] = result.ok();
  summary["objects"] = result.objects;
  summary["written"] = result.written;
  summary["already_up_to_date"] = result.upToDate;
  summary["mib"] = Mib(result.bytes);
  summary["superseded_copies"] = result.superseded;
  summary["skipped"] = Lines(result.skipped);
  summary["stale_temporaries_removed"] = Lines(result.temporariesRemoved);
  summary["seconds"] = Rounded(result.seconds);
  summary["mib_per_second"] = PerSecond(Mib(result.bytes), result.seconds);
  summary["store"] = WalkSummary(result.walk);
  summary["problems"] = Lines(result.problems);
  return summary;
}

Summary CheckSummary(const WalkStats& walk, double seconds) {
  Summary summary;
  summary["command"] = "check";
  summary["ok"] = walk.problems.empty();
  Summary store = WalkSummary(walk);
  for (const auto& field : store.items()) summary[field.key()] = field.value();
  summary["seconds"] = Rounded(seconds);
  return summary;
}

Summary DemoSummary(const DemoResult& result) {
  Summary summary;
  summary["command"] = "demo";
  summary["ok"] = result.ok();
  summary["interrupted"] = result.interrupted;
  summary["workspace"] = result.workspace;
  summary["workspace_removed"] = !result.workspace.empty() && !result.workspaceKept;
  summary["objects"] = result.tree.objects;
  summary["mib"] = Mib(result.tree.bytes);
  summary["generate_seconds"] = Rounded(result.generateSeconds);
  // Phases that never started are left out: their zeros would read as results.
  if (result.phasesStarted >= 1) summary["ingest"] = IngestSummary(result.ingest);
  if (result.phasesStarted >= 2) summary["backup"] = BackupSummary(result.backup);
  if (result.phasesStarted >= 3) summary["restore"] = RestoreSummary(result.restore);
  if (result.compared) {
    Summary compare;
    compare["objects"] = result.comparison.objects;
    compare["mib"] = Mib(result.comparison.bytes);
    compare["identical"] = result.comparison.equal();
    compare["differences"] = Lines(result.comparison.differences);
    summary["compare"] = compare;
  }
  if (result.phasesStarted >= 2) summary["segments_left_in_cache"] = result.segmentsLeft;
  if (!result.error.empty()) summary["error"] = result.error;
  return summary;
}

Summary PerfSummary(const std::vector<PerfFigure>& figures) {
  Summary list = Summary::array();
  for (const PerfFigure& figure : figures) {
    Summary entry;
    entry["counter"] = figure.name;
    entry["id"] = figure.id;
    entry["count"] = figure.count;
    entry["total_ms"] = Rounded(figure.totalMs);
    entry["mean_us"] = Rounded(figure.meanUs);
    entry["min_us"] = Rounded(figure.minUs);
    entry["max_us"] = Rounded(figure.maxUs);
    list.push_back(entry);
  }
  return list;
}

void PrintSummaryText(const Summary& summary, std::ostream& out) {
  PrintIndented(summary, out, "");
}

}  // namespace objstore_host
