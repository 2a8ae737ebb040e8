// Items released per second by commit reconciliation on a stream holding a million items, for
// commits that each cover a few items or many.
#include <benchmark/benchmark.h>

#include <list>
#include <string>

#include "LogWriter.h"
#include "ObjectStoreStreamInfo.h"

namespace {

const int64_t kItems = 1000000;

// A writer at the operator's level: records of level 2 and more are asked for but not written.
class QuietLogWriter : public CLogWriterInterface {
 public:
  int getLevel() override { return 1; }
  void writeV(int, const char*, int, int, int, const char*, va_list) override {}
};

void BM_ReleaseCommittedItems(benchmark::State& state) {
  g_ptrLogWriter.reset(new QuietLogWriter);
  const int64_t perCommit = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    ObjectStore::StreamInfo stream(1, "/nonexistent");
    for (int64_t i = 0; i < kItems; ++i) stream.addFilePath("guid-" + std::to_string(i));
    std::list<std::string> committed;
    state.ResumeTiming();

    for (int64_t number = perCommit; number <= kItems; number += perCommit) {
      std::string text = std::to_string(number);
      stream.getCommitGUIDList(text, committed);
    }

    state.PauseTiming();
    benchmark::DoNotOptimize(committed.size());
    committed.clear();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kItems);
  g_ptrLogWriter.reset();
}
BENCHMARK(BM_ReleaseCommittedItems)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
