// objstore-load: the load generator and soak checker of the backup service (objstore-backup
// serve). `run` PUTs generated objects from N clients for a while and logs every attempt;
// `check` proves a store and a restore of it against those logs.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

#include "LoadGenerator.h"
#include "SizeOption.h"
#include "SoakChecker.h"
#include "SoakInputs.h"

namespace {

int RunLoad(const objstore_load::LoadOptions& options) {
  objstore_load::LoadGenerator generator(options);
  objstore_load::LoadReport report;
  std::string error;
  if (!generator.run(&report, &error)) {
    std::cerr << "objstore-load: " << error << "\n";
    return 1;
  }
  std::cout << report.json() << std::endl;
  return report.otherCodes == 0 ? 0 : 1;
}

int RunCheck(uint64_t seed, const std::vector<std::string>& logs, const std::string& store,
             const std::string& restored, size_t shown) {
  objstore_load::SoakChecker checker(seed);
  std::string error;
  for (const std::string& log : logs) {
    if (!objstore_load::ReadPutLog(log, &checker, &error)) break;
  }
  if (error.empty() && !store.empty()) objstore_load::ReadStoreCopies(store, &checker, &error);
  if (error.empty() && !restored.empty())
    objstore_load::ReadRestoredTree(restored, &checker, &error);
  if (!error.empty()) {
    std::cerr << "objstore-load: " << error << "\n";
    return 1;
  }
  const objstore_load::SoakVerdict verdict = checker.finish();
  for (size_t i = 0; i < verdict.failures.size() && i < shown; ++i)
    std::cout << "FAIL " << verdict.failures[i] << "\n";
  if (verdict.failures.size() > shown)
    std::cout << "... and " << verdict.failures.size() - shown << " more\n";
  std::cout << verdict.json() << std::endl;
  return verdict.failures.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"objstore-load: load generator and soak checker of objstore-backup serve"};
  app.require_subcommand(1);

  objstore_load::LoadOptions load;
  std::string server = "127.0.0.1:8080", size;
  CLI::App* run = app.add_subcommand("run", "PUT generated objects from N clients for a while");
  run->add_option("--server", server, "HOST:PORT of the service")->capture_default_str();
  run->add_option("--clients", load.clients, "concurrent clients")->check(CLI::Range(1, 1024));
  run->add_option("--seconds", load.seconds, "how long PUTs start")->check(CLI::Range(0.0, 1e6));
  run->add_option("--grace", load.graceSeconds, "seconds an answer may take after that")
      ->check(CLI::Range(1.0, 3600.0));
  run->add_option("--seed", load.seed, "seed of keys, sizes and bytes");
  run->add_option("--keys", load.keysPerClient, "keys per client")->check(CLI::Range(1, 1 << 24));
  run->add_option("--wait-percent", load.waitPercent, "PUTs sent with ?wait=committed")
      ->check(CLI::Range(0, 100));
  run->add_option("--rate", load.rate, "PUTs per second of all clients; 0: no limit")
      ->check(CLI::Range(0.0, 1e7));
  run->add_option("--size", size, "every object this size (bytes, KiB, MiB); default: a mix");
  run->add_option("--max-size", load.sizes.maxSize, "largest object of the mix")
      ->check(CLI::Range(uint64_t{0}, uint64_t{1} << 30));
  run->add_option("--log", load.logPath, "the request log to write");
  run->add_option("--store", load.storeDir, "the service's store, read at committed answers");

  uint64_t seed = 1;
  std::vector<std::string> logs;
  std::string store, restored;
  size_t shown = 30;
  CLI::App* check = app.add_subcommand("check", "prove a store and a restore against the logs");
  check->add_option("--seed", seed, "the seed the load ran with");
  check->add_option("--log", logs, "request logs")->required();
  check->add_option("--store", store, "the backup store");
  check->add_option("--restored", restored, "a restore of the store's latest copies");
  check->add_option("--show", shown, "failures printed at most");

  CLI11_PARSE(app, argc, argv);
  if (run->parsed()) {
    const size_t colon = server.rfind(':');
    if (colon == std::string::npos || colon == 0) {
      std::cerr << "objstore-load: --server must be HOST:PORT\n";
      return 2;
    }
    load.host = server.substr(0, colon);
    try {
      load.port = std::stoi(server.substr(colon + 1));
    } catch (const std::exception&) {
      std::cerr << "objstore-load: --server must be HOST:PORT\n";
      return 2;
    }
    if (!size.empty() && !objstore_load::ParseSize(size, &load.sizes.fixedSize)) {
      std::cerr << "objstore-load: --size must be bytes or a number with KiB, MiB or GiB\n";
      return 2;
    }
    return RunLoad(load);
  }
  return RunCheck(seed, logs, store, restored, shown);
}
