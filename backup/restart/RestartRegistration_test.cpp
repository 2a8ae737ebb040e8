#include "RestartRegistration.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <list>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "ControllerTestFixture.h"
#include "KaCriticalSectionLock.h"
#include "ObjStoreBackupInterface.h"

namespace ObjectStore {
namespace {

// A waiter that is not woken sleeps out its round; this one is far longer than kPrompt, so a
// missing wake-up shows as a timeout, and the test still ends once the round is over.
constexpr long kRoundMs = 30000;
constexpr std::chrono::seconds kPrompt(10);

const char kWaiting7[] = "waiting for restart thread to finish pending items for app ID [7]";

size_t Entries(int appId) {
  KaCriticalSectionLock lock(&gThreadSyncLock);
  return gThreadSyncMap.count(appId);
}

class RestartRegistrationTest : public objstore_testing::ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    ChangeOptions([](BackupOptions& options) { options.restartWaitMs = kRoundMs; });
  }
  void TearDown() override {
    ControllerTest::TearDown();
    KaCriticalSectionLock lock(&gThreadSyncLock);
    gThreadSyncMap.clear();
  }

  // A host thread that asks for application 7's controller, and the controller it got.
  std::future<BackupInterfacePtr> waitingRequest() {
    std::future<BackupInterfacePtr> request = std::async(std::launch::async, [this] {
      BackupInterfacePtr controller;
      CUxError error = BackupInterface::getController(job(7, 1), controller, false);
      EXPECT_FALSE(error.IsError()) << error.AsString();
      return controller;
    });
    while (capture_.log().count(kWaiting7, 1) == 0) std::this_thread::yield();
    return request;
  }

  // Whether `request` returns within kPrompt, far less than a round. When it does not, the
  // entry of application 7 is removed by hand, so that the failing test still ends.
  static bool ReturnsPromptly(std::future<BackupInterfacePtr>& request) {
    if (request.wait_for(kPrompt) == std::future_status::ready) return true;
    KaCriticalSectionLock lock(&gThreadSyncLock);
    gThreadSyncMap.erase(7);
    return false;
  }

  objstore_testing::ScopedLogCapture capture_;
};

// However the restart thread's scope ends, a controller request waiting for it wakes at once
// and gets the controller the restart thread started; no entry is left behind.
TEST_F(RestartRegistrationTest, WaitersWakePromptlyWhenTheScopeEnds) {
  struct Case {
    const char* name;
    std::function<void(std::optional<RestartRegistration>&)> end;
  };
  const Case cases[] = {
      {"finish", [](std::optional<RestartRegistration>& r) { r->finish(); }},
      {"destructor", [](std::optional<RestartRegistration>& r) { r.reset(); }},
      {"exception",
       [](std::optional<RestartRegistration>& r) {
         try {
           RestartRegistration scoped(std::move(*r));
           throw std::runtime_error("the restart thread failed");
         } catch (const std::runtime_error&) {
         }
       }},
      {"move-assigned over",
       [](std::optional<RestartRegistration>& r) { *r = RestartRegistration(8); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    capture_.log().clear();
    std::optional<RestartRegistration> restart;
    restart.emplace(7);
    BackupInterfacePtr restartController;
    ASSERT_FALSE(BackupInterface::getController(job(7, 1), restartController, true).IsError());
    std::future<BackupInterfacePtr> request = waitingRequest();
    c.end(restart);
    ASSERT_TRUE(ReturnsPromptly(request));
    EXPECT_EQ(restartController, request.get());
    EXPECT_EQ(0u, Entries(7));
    std::list<std::string> failed;
    restartController->endBackup(failed, false);
    restart.reset();
    EXPECT_EQ(0u, Entries(8));
  }
}

TEST_F(RestartRegistrationTest, TheRestartThreadsOwnRequestDoesNotWait) {
  RestartRegistration restart(7);
  std::future<BackupInterfacePtr> own = std::async(std::launch::async, [this] {
    BackupInterfacePtr controller;
    EXPECT_FALSE(BackupInterface::getController(job(7, 1), controller, true).IsError());
    return controller;
  });
  ASSERT_EQ(std::future_status::ready, own.wait_for(kPrompt));
  BackupInterfacePtr controller = own.get();
  ASSERT_TRUE(controller);
  std::list<std::string> failed;
  controller->endBackup(failed, false);  // its job leaves nothing registered for later tests
  EXPECT_EQ(1u, Entries(7));             // the others still wait
  EXPECT_EQ(0u, capture_.log().countContaining("waiting for restart thread"));
}

TEST_F(RestartRegistrationTest, AMovedFromRegistrationUnregistersNothing) {
  std::optional<RestartRegistration> first;
  first.emplace(7);
  RestartRegistration second(std::move(*first));
  EXPECT_FALSE(first->active());
  EXPECT_TRUE(second.active());
  first->finish();
  first.reset();
  EXPECT_EQ(1u, Entries(7));
  std::future<BackupInterfacePtr> request = waitingRequest();
  EXPECT_EQ(std::future_status::timeout, request.wait_for(std::chrono::milliseconds(50)));
  second.finish();
  ASSERT_TRUE(ReturnsPromptly(request));
  EXPECT_EQ(0u, Entries(7));
  std::list<std::string> failed;
  request.get()->endBackup(failed, false);  // its job leaves nothing registered for later tests
}

// Overlapping registrations of one application nest: the entry stays until the last one ends,
// in either order, and a waiter wakes only then.
TEST_F(RestartRegistrationTest, OverlappingRegistrationsNestByCount) {
  for (bool firstEndsFirst : {true, false}) {
    SCOPED_TRACE(firstEndsFirst ? "first ends first" : "second ends first");
    capture_.log().clear();
    std::optional<RestartRegistration> first, second;
    first.emplace(7);
    second.emplace(7);
    std::future<BackupInterfacePtr> request = waitingRequest();
    (firstEndsFirst ? first : second).reset();
    EXPECT_EQ(1u, Entries(7));
    EXPECT_EQ(std::future_status::timeout, request.wait_for(std::chrono::milliseconds(50)));
    (firstEndsFirst ? second : first).reset();
    ASSERT_TRUE(ReturnsPromptly(request));
    EXPECT_EQ(0u, Entries(7));
    std::list<std::string> failed;
    request.get()->endBackup(failed, false);
  }
  // A registration made after the last one ended makes a fresh entry.
  RestartRegistration again(7);
  EXPECT_EQ(1u, Entries(7));
}

// An entry the host wrote by hand after the registration replaced its own is the host's: the
// registration's end leaves it alone.
TEST_F(RestartRegistrationTest, AnEntryReplacedByHandIsLeftToTheHost) {
  SyncEventPtr byHand(new SyncEvent);
  {
    RestartRegistration restart(7);
    KaCriticalSectionLock lock(&gThreadSyncLock);
    gThreadSyncMap[7] = byHand;
  }
  KaCriticalSectionLock lock(&gThreadSyncLock);
  ASSERT_EQ(1u, gThreadSyncMap.count(7));
  EXPECT_EQ(byHand, gThreadSyncMap[7]);
}

}  // namespace
}  // namespace ObjectStore
