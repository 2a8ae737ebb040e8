// The service in-process on 127.0.0.1 and an ephemeral port, with a fast-committing pipeline.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "BackupOptions.h"
#include "BackupService.h"
#include "Catalog.h"
#include "CommitWaiters.h"
#include "DirectoryDiskCache.h"
#include "GroupSync.h"
#include "HttpService.h"
#include "JobRoller.h"
#include "ObjectId.h"
#include "ObjectMetadata.h"
#include "ObjectWriter.h"
#include "PipelineFaults.h"
#include "PipelineOptions.h"
#include "SegmentBuilder.h"
#include "ServeMetrics.h"
#include "StoreWalker.h"
#include "TestSupport.h"

namespace objstore_host {
namespace {

// The regular files under `dir`, whatever their names (segments and temporaries alike).
std::vector<std::string> FilesUnder(const std::string& dir) {
  std::vector<std::string> files;
  std::error_code error;
  for (std::filesystem::recursive_directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file()) files.push_back(it->path().string());
  }
  return files;
}

// A raw connection, for requests httplib's client would not send (a body cut short, a body
// announced and never sent).
class RawConnection {
 public:
  explicit RawConnection(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  }
  ~RawConnection() { close(); }
  bool connected() const { return connected_; }
  bool send(const std::string& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  // What arrives within `timeout` until the peer closes or a complete head and `Content-Length`
  // body are in.
  std::string receive(std::chrono::milliseconds timeout) {
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!complete(received)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd ready{fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
      char buffer[4096];
      const ssize_t n = recv(fd_, buffer, sizeof(buffer), 0);
      if (n <= 0) break;
      received.append(buffer, static_cast<size_t>(n));
    }
    return received;
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  static bool complete(const std::string& text) {
    const size_t end = text.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    const size_t length = text.find("Content-Length: ");
    if (length == std::string::npos || length > end) return true;
    return text.size() >= end + 4 + std::stoul(text.substr(length + 16));
  }

  int fd_;
  bool connected_ = false;
};

// Clients that connect all at once, before the server accepts any of them, are all queued by
// the kernel: none of them waits for a dropped handshake to be sent again a second later.
TEST(HttpServiceListenTest, ABurstOfConnectionsIsQueuedBeforeAnyIsAccepted) {
  objstore_testing::TempDir dir;
  ObjectStore::DirectoryDiskCache cache(dir.sub("cache"));
  Catalog catalog;
  GroupSync sync(dir.path());
  ServeMetrics metrics;
  CommitWaiters waiters;
  JobRoller roller(RollerOptions(), cache, catalog, metrics, waiters);
  ObjectWriter writer(cache, catalog, sync, roller, waiters, metrics, 0);
  HttpService http(HttpOptions(), writer, catalog, metrics, waiters, nullptr);
  std::string error;
  ASSERT_TRUE(http.bind("127.0.0.1", 0, &error)) << error;
  // The port is this service's alone: a second one cannot bind it.
  HttpService second(HttpOptions(), writer, catalog, metrics, waiters, nullptr);
  EXPECT_FALSE(second.bind("127.0.0.1", http.port(), &error));
  // Not serving: nothing accepts, so every handshake must wait in the listen queue.
  const int kClients = 32;
  std::vector<int> sockets;
  for (int i = 0; i < kClients; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(http.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    sockets.push_back(fd);
  }
  int connected = 0;
  for (int fd : sockets) {
    pollfd ready{fd, POLLOUT, 0};
    int socketError = -1;
    socklen_t length = sizeof(socketError);
    if (poll(&ready, 1, 300) == 1 &&
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &socketError, &length) == 0 && socketError == 0) {
      ++connected;
    }
    close(fd);
  }
  EXPECT_EQ(kClients, connected);
}

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    options_.backup.cacheDir = dir_.sub("cache");
    options_.backup.rootBase = dir_.sub("root");
    options_.backup.storeDir = dir_.sub("store");
    options_.listen = "127.0.0.1:0";
    options_.maxObjectSize = 64 * 1024;
    options_.ackTimeoutSeconds = 30;
    options_.jobSeconds = 60;
    OBJECTOPSAPI::PipelineOptions pipeline = OBJECTOPSAPI::PipelineOptions::Current();
    pipeline.commitMs = 20;
    OBJECTOPSAPI::PipelineOptions::Override(pipeline);
  }

  void start() {
    service_.reset(new BackupService(options_));
    std::string error;
    ASSERT_TRUE(service_->start(&error)) << error;
    client_.reset(new httplib::Client("127.0.0.1", service_->port()));
  }

  void TearDown() override {
    if (savedBackupOptions_) ObjectStore::SetBackupOptions(*savedBackupOptions_);
  }

  // A job's end waits only 50 ms for the commits still missing, until the test ends.
  void shortenCommitWait() {
    savedBackupOptions_.reset(new ObjectStore::BackupOptions(ObjectStore::GetBackupOptions()));
    ObjectStore::BackupOptions shortWait = *savedBackupOptions_;
    shortWait.commitWaitMs = 50;
    ASSERT_FALSE(ObjectStore::SetBackupOptions(shortWait).IsError());
  }

  nlohmann::json status() {
    httplib::Result result = client_->Get("/status");
    return result ? nlohmann::json::parse(result->body) : nlohmann::json();
  }

  objstore_testing::TempDir dir_;
  ServeOptions options_;
  std::unique_ptr<BackupService> service_;
  std::unique_ptr<httplib::Client> client_;
  std::unique_ptr<ObjectStore::BackupOptions> savedBackupOptions_;
};

TEST_F(ServiceTest, PutWaitCommittedAnswersOnlyOnceTheObjectIsCommittedInTheStore) {
  ASSERT_NO_FATAL_FAILURE(start());
  const std::string body = "the body of the object";
  httplib::Result result =
      client_->Put("/objects/dir/file.txt?wait=committed", body, "application/octet-stream");
  ASSERT_TRUE(result);
  ASSERT_EQ(200, result->status) << result->body;
  const nlohmann::json answer = nlohmann::json::parse(result->body);
  EXPECT_EQ("committed", answer["state"]);
  EXPECT_EQ("dir/file.txt", answer["key"]);
  EXPECT_EQ(body.size(), answer["size"]);
  const int64_t job = answer["job"];
  EXPECT_GT(job, 0);
  EXPECT_GE(answer["stream"].get<int>(), 0);
  // The commit left the cache empty and the catalog knowing.
  EXPECT_TRUE(FilesUnder(options_.backup.cacheDir).empty());
  result = client_->Get("/objects/dir/file.txt");
  ASSERT_TRUE(result);
  EXPECT_EQ(200, result->status);
  EXPECT_EQ("committed", nlohmann::json::parse(result->body)["state"]);
  // The copy in the store is whole, with the key and the version.
  int copies = 0;
  WalkStats stats;
  StoreWalker(options_.backup.storeDir)
      .walk(
          job, false,
          [&](const StoredCopy& copy) {
            ++copies;
            EXPECT_EQ("dir/file.txt", copy.metadata.path);
            EXPECT_EQ(answer["version"].get<uint64_t>(), copy.metadata.version);
            std::string data;
            for (const auto& section : copy.item->sections) {
              if (section.type == OBJECTOPSAPI::kStoreRecordData) data += section.bytes;
            }
            EXPECT_EQ(body, data);
          },
          &stats);
  EXPECT_EQ(1, copies);
}

TEST_F(ServiceTest, ANewPutMakesANewVersionAndTheLatestIsReported) {
  ASSERT_NO_FATAL_FAILURE(start());
  httplib::Result first = client_->Put("/objects/k", "one", "text/plain");
  httplib::Result second = client_->Put("/objects/k", "second", "text/plain");
  ASSERT_TRUE(first && second);
  ASSERT_EQ(201, first->status);
  ASSERT_EQ(201, second->status);
  const nlohmann::json a = nlohmann::json::parse(first->body);
  const nlohmann::json b = nlohmann::json::parse(second->body);
  EXPECT_GT(b["version"].get<uint64_t>(), a["version"].get<uint64_t>());
  EXPECT_NE(a["id"], b["id"]);
  httplib::Result got = client_->Get("/objects/k");
  ASSERT_TRUE(got);
  const nlohmann::json latest = nlohmann::json::parse(got->body);
  EXPECT_EQ(b["version"], latest["version"]);
  EXPECT_EQ(6u, latest["size"]);
  EXPECT_EQ(404, client_->Get("/objects/unknown")->status);
}

TEST_F(ServiceTest, RefusedRequestsGetTheirStatusAndLeaveNothingBehind) {
  ASSERT_NO_FATAL_FAILURE(start());
  struct Case {
    std::string method;
    std::string target;
    int status;
  };
  const std::string longKey(1025, 'k');
  const Case cases[] = {
      {"PUT", "/objects/a/%2e%2e/b", 400}, {"PUT", "/objects/a/../b", 400},
      {"PUT", "/objects/%2Fabs", 400},     {"PUT", "/objects//abs", 400},
      {"PUT", "/objects/a//b", 400},       {"PUT", "/objects/a/./b", 400},
      {"PUT", "/objects/a%00b", 400},      {"PUT", "/objects/%C0%AF", 400},
      {"PUT", "/objects/", 400},           {"PUT", "/objects/" + longKey, 400},
      {"PUT", "/elsewhere", 404},          {"GET", "/nothing", 404},
      {"DELETE", "/objects/a", 405},       {"POST", "/objects/a", 405},
      {"POST", "/metrics", 405},           {"PUT", "/healthz", 405},
  };
  for (const Case& c : cases) {
    RawConnection connection(service_->port());
    ASSERT_TRUE(connection.connected());
    ASSERT_TRUE(connection.send(c.method + " " + c.target +
                                " HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello"));
    const std::string answer = connection.receive(std::chrono::seconds(10));
    EXPECT_EQ(0u, answer.find("HTTP/1.1 " + std::to_string(c.status)))
        << c.method << " " << c.target << ": " << answer;
  }
  EXPECT_TRUE(FilesUnder(options_.backup.cacheDir).empty());
  EXPECT_EQ(0u, status()["puts"]);
}

TEST_F(ServiceTest, TooLargeBodiesAre413BeforeTheBodyIsSent) {
  options_.maxObjectSize = 1000;
  ASSERT_NO_FATAL_FAILURE(start());
  for (const std::string expect : {"Expect: 100-continue\r\n", ""}) {
    RawConnection connection(service_->port());
    ASSERT_TRUE(connection.connected());
    // The head only: the answer must come without a byte of the body.
    ASSERT_TRUE(connection.send("PUT /objects/big HTTP/1.1\r\nHost: x\r\nContent-Length: 1001\r\n" +
                                expect + "\r\n"));
    const std::string answer = connection.receive(std::chrono::seconds(10));
    EXPECT_EQ(0u, answer.find("HTTP/1.1 413")) << expect << answer;
    EXPECT_EQ(std::string::npos, answer.find("100 Continue")) << answer;
  }
  // At the limit the body is taken; one byte more sent chunked (no length declared) is refused
  // while it is read.
  EXPECT_EQ(201, client_->Put("/objects/fits", std::string(1000, 'x'), "x")->status);
  httplib::Result chunked = client_->Put(
      "/objects/chunked",
      [](size_t offset, httplib::DataSink& sink) {
        if (offset < 1001)
          sink.write(std::string(1001, 'y').data(), 1001);
        else
          sink.done();
        return true;
      },
      "x");
  ASSERT_TRUE(chunked);
  EXPECT_EQ(413, chunked->status);
  EXPECT_EQ(404, client_->Get("/objects/chunked")->status);
  EXPECT_EQ(404, client_->Get("/objects/big")->status);
}

TEST_F(ServiceTest, AClientThatDisconnectsMidBodyLeavesNoSegmentAndNoTemporaryFile) {
  ASSERT_NO_FATAL_FAILURE(start());
  {
    RawConnection connection(service_->port());
    ASSERT_TRUE(connection.connected());
    ASSERT_TRUE(
        connection.send("PUT /objects/cut HTTP/1.1\r\nHost: x\r\nContent-Length: 40000\r\n\r\n" +
                        std::string(20000, 'z')));
  }
  // The handler notices the end of the connection and drops what it had.
  for (int i = 0; i < 200 && status()["bodies_cut_short"] == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  EXPECT_EQ(1u, status()["bodies_cut_short"]);
  EXPECT_TRUE(FilesUnder(options_.backup.cacheDir).empty());
  EXPECT_EQ(404, client_->Get("/objects/cut")->status);
  EXPECT_EQ(0u, status()["received_bytes"]);
}

TEST_F(ServiceTest, StopEndsTheJobWithEveryAcceptedObjectCommitted) {
  OBJECTOPSAPI::PipelineOptions pipeline = OBJECTOPSAPI::PipelineOptions::Current();
  pipeline.commitMs = 0;  // nothing commits before the job ends
  pipeline.commitItems = 0;
  OBJECTOPSAPI::PipelineOptions::Override(pipeline);
  ASSERT_NO_FATAL_FAILURE(start());
  const int kObjects = 20;
  for (int i = 0; i < kObjects; ++i) {
    ASSERT_EQ(
        201,
        client_->Put("/objects/o" + std::to_string(i), "data " + std::to_string(i), "x")->status);
  }
  EXPECT_EQ(200, client_->Get("/healthz")->status);
  const nlohmann::json summary = service_->stop();
  EXPECT_EQ(kObjects, summary["committed"]) << summary.dump();
  EXPECT_EQ(0, summary["objects_waiting"]);
  EXPECT_TRUE(summary["problems"].empty()) << summary.dump();
  EXPECT_TRUE(FilesUnder(options_.backup.cacheDir).empty());
  // No job directory is left for a restart to find.
  EXPECT_TRUE(ObjectStore::LeftoverJobs::List(dir_.sub("root/OBJECTSTORE")).empty());
  WalkStats stats;
  int copies = 0;
  StoreWalker(options_.backup.storeDir)
      .walk(
          0, true, [&copies](const StoredCopy&) { ++copies; }, &stats, false);
  EXPECT_EQ(kObjects, copies);
}

// A pipeline that fails to end the job once keeps its items: the end is tried again, and a
// clean stop leaves the cache empty.
TEST_F(ServiceTest, StopTriesAFailedEndAgain) {
  OBJECTOPSAPI::PipelineOptions pipeline = OBJECTOPSAPI::PipelineOptions::Current();
  pipeline.commitMs = 0;  // nothing commits before the job ends
  pipeline.commitItems = 0;
  OBJECTOPSAPI::PipelineOptions::Override(pipeline);
  ASSERT_FALSE(OBJECTOPSAPI::PipelineFaults::Install("endBackup=1").IsError());
  ASSERT_NO_FATAL_FAILURE(start());
  const int kObjects = 5;
  for (int i = 0; i < kObjects; ++i) {
    ASSERT_EQ(201, client_->Put("/objects/b" + std::to_string(i), "bytes", "x")->status);
  }
  const nlohmann::json summary = service_->stop();
  EXPECT_EQ(kObjects, summary["committed"]) << summary.dump();
  EXPECT_EQ(0, summary["objects_waiting"]) << summary.dump();
  EXPECT_TRUE(FilesUnder(options_.backup.cacheDir).empty());
}

// What a job hands back while the service stops goes into more jobs, resend-rounds + 1 of them
// at most: a pipeline that never commits cannot keep the stop from ending.
TEST_F(ServiceTest, StopSendsWhatTheLastJobHandedBackInAFewMoreJobs) {
  options_.backup.resendRounds = 1;
  // No commit ever arrives: every job's end waits its commit wait, then hands all of its
  // objects back.
  ASSERT_FALSE(OBJECTOPSAPI::PipelineFaults::Install("manualCommit").IsError());
  ASSERT_NO_FATAL_FAILURE(shortenCommitWait());
  ASSERT_NO_FATAL_FAILURE(start());
  const int kObjects = 5;
  for (int i = 0; i < kObjects; ++i) {
    ASSERT_EQ(201, client_->Put("/objects/late" + std::to_string(i), "bytes", "x")->status);
  }
  const nlohmann::json summary = service_->stop();
  EXPECT_EQ(3, summary["jobs"]) << summary.dump();
  EXPECT_EQ(3 * kObjects, summary["resent"]) << summary.dump();
  EXPECT_EQ(kObjects, summary["objects_waiting"]);
  EXPECT_EQ(static_cast<size_t>(kObjects), FilesUnder(options_.backup.cacheDir).size());
}

TEST_F(ServiceTest, WhileStoppingHealthAndPutsAre503) {
  ASSERT_NO_FATAL_FAILURE(start());
  EXPECT_EQ(200, client_->Get("/healthz")->status);
  service_->refuseObjects();
  EXPECT_EQ(503, client_->Get("/healthz")->status);
  httplib::Result put = client_->Put("/objects/late", "x", "x");
  ASSERT_TRUE(put);
  EXPECT_EQ(503, put->status);
  // Reading goes on.
  EXPECT_EQ(404, client_->Get("/objects/late")->status);
  EXPECT_EQ(200, client_->Get("/metrics")->status);
  service_->stop();
  EXPECT_TRUE(FilesUnder(options_.backup.cacheDir).empty());
}

TEST_F(ServiceTest, AnObjectNotCommittedInTimeIs503AndStaysInTheCache) {
  OBJECTOPSAPI::PipelineOptions pipeline = OBJECTOPSAPI::PipelineOptions::Current();
  pipeline.commitMs = 0;  // nothing commits while the job runs
  pipeline.commitItems = 0;
  OBJECTOPSAPI::PipelineOptions::Override(pipeline);
  options_.ackTimeoutSeconds = 0.3;
  ASSERT_NO_FATAL_FAILURE(start());
  const auto start = std::chrono::steady_clock::now();
  httplib::Result put = client_->Put("/objects/slow?wait=committed", "x", "x");
  ASSERT_TRUE(put);
  EXPECT_EQ(503, put->status);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_NE(std::string::npos, nlohmann::json::parse(put->body)["error"].get<std::string>().find(
                                   "stays in the cache"));
  EXPECT_EQ(1u, FilesUnder(options_.backup.cacheDir).size());
  // The job's end commits it after all.
  EXPECT_EQ(1, service_->stop()["committed"]);
}

// The pipeline can commit two copies of one object (the first copy's send was reported failed
// after the store had taken it): the second commit finds nothing left to settle.
TEST_F(ServiceTest, ASecondCommitOfOneObjectChangesNothing) {
  ASSERT_NO_FATAL_FAILURE(start());
  httplib::Result first = client_->Put("/objects/twice?wait=committed", "one", "text/plain");
  ASSERT_TRUE(first);
  ASSERT_EQ(200, first->status);
  const std::string id = nlohmann::json::parse(first->body).value("id", "");
  ASSERT_FALSE(id.empty());
  JobRoller::OnCommit(0, {id}, &service_->rollerForTesting());
  // Commits are settled in their order: once the next object's commit is reported, so was the
  // copy's.
  ASSERT_EQ(200, client_->Put("/objects/after?wait=committed", "two", "text/plain")->status);
  const nlohmann::json summary = service_->stop();
  EXPECT_EQ(2, summary["committed"]);
  EXPECT_EQ(0, summary["objects_waiting"]);
  EXPECT_EQ("[]", summary["problems"].dump());
}

// A copy of an object can be committed while another copy is in a job that then hands it back:
// the hand-back finds the object settled and sends nothing again.
TEST_F(ServiceTest, AHandBackOfAnObjectAlreadyCommittedSendsNothing) {
  // No commit comes from the pipeline: the job's end hands the object back.
  ASSERT_FALSE(OBJECTOPSAPI::PipelineFaults::Install("manualCommit").IsError());
  ASSERT_NO_FATAL_FAILURE(shortenCommitWait());
  ASSERT_NO_FATAL_FAILURE(start());
  httplib::Result put = client_->Put("/objects/copied", "bytes", "text/plain");
  ASSERT_TRUE(put);
  ASSERT_EQ(201, put->status);
  const auto waitFor = [this](const std::string& wanted) {
    std::string state;
    for (int i = 0; i < 400 && state != wanted; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      state = nlohmann::json::parse(client_->Get("/objects/copied")->body).value("state", "");
    }
    return state;
  };
  ASSERT_EQ("in_job", waitFor("in_job"));
  JobRoller::OnCommit(0, {nlohmann::json::parse(put->body).value("id", "")},
                      &service_->rollerForTesting());
  ASSERT_EQ("committed", waitFor("committed"));
  const nlohmann::json summary = service_->stop();
  EXPECT_EQ(1, summary["committed"]) << summary.dump();
  EXPECT_EQ(0, summary["resent"]) << summary.dump();
  EXPECT_EQ(0, summary["objects_waiting"]);
  EXPECT_TRUE(FilesUnder(options_.backup.cacheDir).empty());
}

// A segment leaves the cache only once its commit is recorded: with the catalog failing, a
// committed object must stay, or a crash would leave a row that is neither committed nor found.
TEST_F(ServiceTest, ACommitTheCatalogCannotRecordKeepsTheSegment) {
  OBJECTOPSAPI::PipelineOptions pipeline = OBJECTOPSAPI::PipelineOptions::Current();
  pipeline.commitMs = 0;  // the object commits only when the job ends
  pipeline.commitItems = 0;
  OBJECTOPSAPI::PipelineOptions::Override(pipeline);
  ASSERT_NO_FATAL_FAILURE(start());
  httplib::Result put = client_->Put("/objects/kept", "kept bytes", "text/plain");
  ASSERT_TRUE(put);
  ASSERT_EQ(201, put->status);
  // Sent in a job, whose end brings the commit.
  std::string state;
  for (int i = 0; i < 1000 && state != "in_job"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    state = nlohmann::json::parse(client_->Get("/objects/kept")->body).value("state", "");
  }
  ASSERT_EQ("in_job", state);
  service_->catalogForTesting().failForTesting("disk gone");
  const nlohmann::json summary = service_->stop();
  EXPECT_EQ(1u, FilesUnder(options_.backup.cacheDir).size());
  EXPECT_NE(std::string::npos, summary["problems"].dump().find("segments kept")) << summary;
}

TEST_F(ServiceTest, AnObjectHandedBackMoreThanTheResendRoundsIs503AndSentAgain) {
  options_.backup.resendRounds = 0;
  // The first end-of-file fails: its stream's items come back in the failed list.
  ASSERT_TRUE(OBJECTOPSAPI::PipelineFaults::Install("sendEof=1").IsError() == false);
  ASSERT_NO_FATAL_FAILURE(start());
  httplib::Result put = client_->Put("/objects/unlucky?wait=committed", "x", "x");
  ASSERT_TRUE(put);
  EXPECT_EQ(503, put->status) << put->body;
  EXPECT_NE(std::string::npos,
            nlohmann::json::parse(put->body)["error"].get<std::string>().find("handed back 1"));
  // Sent again, it is committed: the catalog says so once the commit is in.
  std::string state;
  for (int i = 0; i < 400 && state != "committed"; ++i) {
    httplib::Result got = client_->Get("/objects/unlucky");
    if (got) state = nlohmann::json::parse(got->body)["state"];
    if (state != "committed") std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  EXPECT_EQ("committed", state);
  httplib::Result got = client_->Get("/objects/unlucky");
  EXPECT_EQ(1, nlohmann::json::parse(got->body)["hand_backs"]);
  EXPECT_GE(status()["resends"].get<int>(), 1);
}

TEST_F(ServiceTest, StartReconcilesTheCatalogWithTheCache) {
  {
    // A row whose segment is gone without a commit, and a segment the catalog lacks (as a
    // machine crash leaves them).
    Catalog catalog;
    std::string error;
    ASSERT_TRUE(catalog.open(ServeOptions::DefaultCatalogFile(options_.backup.cacheDir), &error))
        << error;
    CatalogRow row;
    row.key = "gone";
    row.version = 3;
    row.id = ObjectWriter::SegmentName("gone", 3);
    ASSERT_TRUE(catalog.wait(catalog.insert(row)));
    ObjectStore::DirectoryDiskCache cache(options_.backup.cacheDir);
    // And a committed version whose segment a kill left before it was removed.
    CatalogRow done;
    done.key = "done";
    done.version = 4;
    done.id = ObjectWriter::SegmentName("done", 4);
    ASSERT_TRUE(catalog.wait(catalog.insert(done)));
    ASSERT_TRUE(catalog.wait(catalog.markCommitted(done.id, 1.0)));
    ASSERT_FALSE(
        cache.writeSegment(done.id, {SegmentBuilder::MetadataSection(ObjectMetadata())}).IsError());
    ObjectMetadata metadata;
    metadata.path = "found";
    metadata.size = 4;
    metadata.mode = 0644;
    metadata.version = 9;
    ASSERT_FALSE(cache
                     .writeSegment(
                         ObjectWriter::SegmentName("found", 9),
                         SegmentBuilder(1024).fromMemory(metadata, SourceId("found"), "data"), true)
                     .IsError());
  }
  ASSERT_NO_FATAL_FAILURE(start());
  httplib::Result gone = client_->Get("/objects/gone");
  ASSERT_TRUE(gone);
  EXPECT_EQ("lost", nlohmann::json::parse(gone->body)["state"]);
  // The found segment is served and backed up; new versions number past it.
  std::string state;
  for (int i = 0; i < 400 && state != "committed"; ++i) {
    httplib::Result found = client_->Get("/objects/found");
    if (found && found->status == 200) state = nlohmann::json::parse(found->body)["state"];
    if (state != "committed") std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  EXPECT_EQ("committed", state);
  httplib::Result put = client_->Put("/objects/new", "x", "x");
  ASSERT_TRUE(put);
  EXPECT_EQ(10, nlohmann::json::parse(put->body)["version"]);
  const nlohmann::json summary = service_->stop();
  EXPECT_EQ(1, summary["reconciled_segments"]);
  EXPECT_EQ(1, summary["lost_versions"]);
  EXPECT_EQ(1, summary["resumed_from_cache"]);
  EXPECT_EQ(1, summary["committed_segments_removed"]);
  EXPECT_TRUE(FilesUnder(options_.backup.cacheDir).empty());
}

TEST_F(ServiceTest, MetricsHoldTheServiceFamilies) {
  ASSERT_NO_FATAL_FAILURE(start());
  // A request is counted before its answer goes out: every new connection's /metrics already
  // holds the requests answered before it was sent.
  const std::string getOk = "objstore_serve_requests_total{method=\"GET\",code=\"200\"} ";
  for (int round = 0; round < 2000; ++round) {
    ASSERT_EQ(200, client_->Get("/healthz")->status);
    httplib::Result metrics = client_->Get("/metrics");
    ASSERT_TRUE(metrics);
    const size_t at = metrics->body.find(getOk);
    ASSERT_NE(std::string::npos, at) << "round " << round;
    ASSERT_EQ(2 * round + 1, std::atoi(metrics->body.c_str() + at + getOk.size()))
        << "round " << round;
  }
  ASSERT_EQ(200, client_->Put("/objects/m?wait=committed", "x", "x")->status);
  httplib::Result metrics = client_->Get("/metrics");
  ASSERT_TRUE(metrics);
  for (const char* family :
       {"objstore_serve_requests_total{method=\"PUT\",code=\"200\"} 1",
        "objstore_serve_received_bytes_total 1", "objstore_serve_put_seconds_count 1",
        "objstore_serve_put_to_commit_seconds_count 1", "objstore_serve_objects_waiting 0",
        "objstore_serve_jobs_started_total 1", "objstore_serve_resends_total 0"}) {
    EXPECT_NE(std::string::npos, metrics->body.find(family)) << family;
  }
  const nlohmann::json now = status();
  EXPECT_GT(now["process"]["threads"].get<int>(), 1);
  EXPECT_GT(now["process"]["open_fds"].get<int>(), 2);
  EXPECT_EQ(1, now["library"]["controllers"]);
}

}  // namespace
}  // namespace objstore_host
