// fs_floor_bench: the most durable small objects per second a file system gives the service's
// PUT path, with nothing else in the way (no HTTP, no catalog, no backup). Each of --threads
// writers loops: create a temporary file in one of --shards directories, write --size bytes,
// close, rename it into place, wait for a shared syncfs() (one syncer thread serves every writer
// that arrived while the previous sync ran, as the service's group sync does; --per-file syncs
// only the batch's files and directories instead), then remove the
// file it wrote --lag files earlier, as the service removes committed segments. Prints per round
// the files per second, the syncs per second and the process's CPU per file.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Settings {
  std::string dir;
  unsigned threads = 16;
  unsigned seconds = 10;
  unsigned rounds = 3;
  size_t size = 4096;
  unsigned lag = 64;
  unsigned shards = 256;
  bool remove = true;
  bool perFile = false;
};

// Makes the batch's files durable and nothing else: starts the write-back of all of them, then
// `fdatasync`s each and `fsync`s each of their directories once.
int SyncFiles(const std::vector<std::string>& paths) {
  std::vector<int> fds;
  std::set<std::string> dirs;
  int error = 0;
  for (const std::string& path : paths) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      error = errno;
      continue;
    }
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    fds.push_back(fd);
    dirs.insert(path.substr(0, path.rfind('/')));
  }
  for (const int fd : fds) {
    if (::fdatasync(fd) != 0) error = errno;
    ::close(fd);
  }
  for (const std::string& dir : dirs) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) error = errno;
    if (fd >= 0) ::close(fd);
  }
  return error;
}

// One sync for every writer that arrived while the previous one ran: a syncfs() of the file
// system, or (perFile) a sync of just the files those writers wrote.
class SharedSync {
 public:
  SharedSync(int fd, bool perFile) : fd_(fd), perFile_(perFile), syncer_(&SharedSync::loop, this) {}
  ~SharedSync() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    work_.notify_all();
    syncer_.join();
  }
  int wait(const std::string& path) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (perFile_) batch_.push_back(path);
    const uint64_t ticket = ++requested_;
    work_.notify_one();
    done_.wait(lock, [&] { return synced_ >= ticket; });
    return error_;
  }
  uint64_t syncs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return syncs_;
  }

 private:
  void loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      work_.wait(lock, [&] { return stopping_ || requested_ > synced_; });
      if (requested_ == synced_) return;
      const uint64_t end = requested_;
      std::vector<std::string> batch;
      batch.swap(batch_);
      lock.unlock();
      const int error = perFile_ ? SyncFiles(batch) : ::syncfs(fd_) == 0 ? 0 : errno;
      lock.lock();
      if (error != 0) error_ = error;
      ++syncs_;
      synced_ = end;
      done_.notify_all();
    }
  }

  const int fd_;
  const bool perFile_;
  mutable std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable done_;
  uint64_t requested_ = 0;
  uint64_t synced_ = 0;
  uint64_t syncs_ = 0;
  int error_ = 0;
  bool stopping_ = false;
  std::vector<std::string> batch_;  // perFile: the files the next sync covers
  std::thread syncer_;
};

double CpuSeconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Writes one file durably; returns its path, or an empty string after printing the error.
std::string WriteOne(const std::string& dir, unsigned shards, unsigned writer, uint64_t n,
                     const std::vector<char>& body, SharedSync& sync) {
  char shard[16];
  std::snprintf(shard, sizeof shard, "%02x", static_cast<unsigned>((writer * 131 + n) % shards));
  const std::string path =
      dir + "/" + shard + "/object-" + std::to_string(writer) + "-" + std::to_string(n);
  const std::string temporary = path + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  bool ok = fd >= 0 && ::write(fd, body.data(), body.size()) == static_cast<ssize_t>(body.size());
  if (fd >= 0 && ::close(fd) != 0) ok = false;
  ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
  const int syncError = ok ? sync.wait(path) : 0;
  if (!ok || syncError != 0) {
    std::fprintf(stderr, "cannot write [%s] durably: %s\n", path.c_str(),
                 std::strerror(ok ? syncError : errno));
    return std::string();
  }
  return path;
}

struct RoundResult {
  uint64_t files = 0;
  uint64_t syncs = 0;
  double seconds = 0;
  double cpuUser = 0;
  double cpuSystem = 0;
  bool failed = false;
};

RoundResult RunRound(const Settings& settings, const std::string& dir) {
  RoundResult result;
  for (unsigned shard = 0; shard < settings.shards; ++shard) {
    char name[16];
    std::snprintf(name, sizeof name, "%02x", shard);
    std::filesystem::create_directories(dir + "/" + name);
  }
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) {
    std::fprintf(stderr, "cannot open [%s]: %s\n", dir.c_str(), std::strerror(errno));
    result.failed = true;
    return result;
  }
  const std::vector<char> body(settings.size, 'x');
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> files{0};
  std::atomic<bool> failed{false};
  rusage before;
  ::getrusage(RUSAGE_SELF, &before);
  const auto start = std::chrono::steady_clock::now();
  {
    SharedSync sync(dirFd, settings.perFile);
    std::vector<std::thread> writers;
    for (unsigned writer = 0; writer < settings.threads; ++writer) {
      writers.emplace_back([&, writer] {
        std::deque<std::string> written;
        for (uint64_t n = 0; !stop.load(std::memory_order_relaxed); ++n) {
          std::string path = WriteOne(dir, settings.shards, writer, n, body, sync);
          if (path.empty()) {
            failed = true;
            return;
          }
          files.fetch_add(1, std::memory_order_relaxed);
          written.push_back(std::move(path));
          if (settings.remove && written.size() > settings.lag) {
            ::unlink(written.front().c_str());
            written.pop_front();
          }
        }
      });
    }
    std::this_thread::sleep_for(std::chrono::seconds(settings.seconds));
    stop = true;
    for (std::thread& writer : writers) writer.join();
    result.syncs = sync.syncs();
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage after;
  ::getrusage(RUSAGE_SELF, &after);
  ::close(dirFd);
  result.files = files.load();
  result.cpuUser = CpuSeconds(after.ru_utime) - CpuSeconds(before.ru_utime);
  result.cpuSystem = CpuSeconds(after.ru_stime) - CpuSeconds(before.ru_stime);
  result.failed = failed.load();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  settings.dir = std::filesystem::temp_directory_path().string();
  CLI::App app("Measures durable small-file writes per second with shared syncs.",
               "fs_floor_bench");
  app.add_option("--dir", settings.dir, "Where the work directory goes (the file system measured)")
      ->capture_default_str();
  app.add_option("--threads", settings.threads, "Writers, each with one file in flight")
      ->check(CLI::Range(1, 256))
      ->capture_default_str();
  app.add_option("--seconds", settings.seconds, "Length of a round")
      ->check(CLI::Range(1, 3600))
      ->capture_default_str();
  app.add_option("--rounds", settings.rounds, "Rounds, each in a fresh directory")
      ->check(CLI::Range(1, 100))
      ->capture_default_str();
  app.add_option("--size", settings.size, "Bytes per file")
      ->check(CLI::Range(0, 64 << 20))
      ->capture_default_str();
  app.add_option("--lag", settings.lag, "A writer removes the file it wrote this many files ago")
      ->capture_default_str();
  app.add_option("--shards", settings.shards, "Directories the files are spread over")
      ->check(CLI::Range(1, 256))
      ->capture_default_str();
  app.add_flag("--per-file", settings.perFile,
               "Sync only the batch's files and their directories instead of the file system");
  app.add_flag("!--keep", settings.remove, "Keep every file instead of removing it");
  CLI11_PARSE(app, argc, argv);

  std::string work = settings.dir + "/fs-floor-bench-XXXXXX";
  if (::mkdtemp(&work[0]) == nullptr) {
    std::fprintf(stderr, "cannot make a directory in [%s]: %s\n", settings.dir.c_str(),
                 std::strerror(errno));
    return 1;
  }
  std::printf(
      "| round | files/s | syncs/s | files per sync | user CPU us/file | system CPU us/file |\n");
  std::printf("|---|---|---|---|---|---|\n");
  int status = 0;
  for (unsigned round = 1; round <= settings.rounds && status == 0; ++round) {
    const RoundResult r = RunRound(settings, work + "/round-" + std::to_string(round));
    if (r.failed || r.files == 0) status = 1;
    const double files = static_cast<double>(r.files > 0 ? r.files : 1);
    std::printf("| %u | %.0f | %.0f | %.1f | %.0f | %.0f |\n", round, r.files / r.seconds,
                r.syncs / r.seconds, r.syncs > 0 ? r.files / static_cast<double>(r.syncs) : 0.0,
                r.cpuUser * 1e6 / files, r.cpuSystem * 1e6 / files);
    std::fflush(stdout);
  }
  std::error_code ignored;
  std::filesystem::remove_all(work, ignored);
  std::printf("(%u writers, %zu-byte files, %s, %s, %u s per round)\n", settings.threads,
              settings.size, settings.perFile ? "per-file syncs" : "syncfs",
              settings.remove ? "removed after lag" : "kept", settings.seconds);
  return status;
}
