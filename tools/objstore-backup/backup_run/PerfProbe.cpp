#include "PerfProbe.h"

namespace objstore_host {

PerfProbe::PerfProbe() {
  counter_.enabled = true;
  ObjectStore::g_object_store_counter = &counter_;
  ObjectStore::g_object_store_enable_perf = true;
}

PerfProbe::~PerfProbe() {
  ObjectStore::g_object_store_enable_perf = false;
  ObjectStore::g_object_store_counter = nullptr;
}

std::vector<PerfFigure> PerfProbe::figures() const {
  const ThrdPerfCounter::Snapshot snapshot = counter_.snapshot();
  std::vector<PerfFigure> figures;
  const std::pair<int, const char*> probes[] = {{kReadForBackup, "read_for_backup"},
                                                {kWriteToPipeline, "write_to_pipeline"}};
  for (const auto& probe : probes) {
    PerfFigure figure;
    figure.id = probe.first;
    figure.name = probe.second;
    ThrdPerfCounter::Snapshot::const_iterator found =
        snapshot.find(std::make_pair(std::string(kLabel), probe.first));
    if (found != snapshot.end() && found->second.count != 0) {
      const ThrdPerfCounter::Figures& raw = found->second;
      figure.count = raw.count;
      figure.totalMs = raw.totalNanos / 1e6;
      figure.meanUs = raw.totalNanos / 1e3 / raw.count;
      figure.minUs = raw.minNanos / 1e3;
      figure.maxUs = raw.maxNanos / 1e3;
    }
    figures.push_back(figure);
  }
  return figures;
}

}  // namespace objstore_host
