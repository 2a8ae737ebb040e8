// Summaries of the host program's commands: one JSON object per run (for --json), and the same
// object printed as indented text for people.
#ifndef OBJSTORE_HOST_SUMMARY_H_
#define OBJSTORE_HOST_SUMMARY_H_

#include <nlohmann/json.hpp>
#include <ostream>
#include <vector>

#include "BackupRun.h"
#include "Demo.h"
#include "Ingester.h"
#include "PerfProbe.h"
#include "Restorer.h"
#include "Verifier.h"

namespace objstore_host {

typedef nlohmann::ordered_json Summary;

Summary IngestSummary(const IngestResult& result);
Summary BackupSummary(const BackupResult& result);
Summary VerifySummary(const VerifyResult& result);
Summary RestoreSummary(const RestoreResult& result);
Summary DemoSummary(const DemoResult& result);
Summary CheckSummary(const WalkStats& walk, double seconds);
Summary PerfSummary(const std::vector<PerfFigure>& figures);

// Writes `summary` as indented "name: value" lines; lists show at most their first 20 entries.
void PrintSummaryText(const Summary& summary, std::ostream& out);

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SUMMARY_H_
