// PipelineFaults: the process's fault plan, for tests and failure drills.
//
// A plan is a list of rules, each naming an operation to fail. It is set programmatically or,
// at the first use in a process, from the environment variable OBJSTORE_PIPELINE_FAULTS: rules
// separated by commas, each one of
//   <op>                 every call of <op> fails
//   <op>=<n>             the n-th call (counted from 1, since the plan was set) fails
//   <op>=<n>+            the n-th call and every later one fail
//   <op>@<aFileId>...    as above, counting only the calls on the stream with that aFile ID
//                        (for the sends and commitData)
//   <rule>:throw         the failing call throws PipelineFaults::InjectedException instead of
//                        returning an error (a failing sendEof still ends its item first)
//   manualCommit         no commit happens by itself (see below)
//   commitDelay=<ms>     wait this long before each commit notification
//   flowWindow=<n>       flow control: a stream's sendEof returns only once fewer than n of the
//                        stream's ended items wait for their commit to be reported through
//                        commitUpdate (n >= 1; with 1 every end-of-file waits for its own
//                        commit). A sendEof that has to wait asks the commit thread for a
//                        commit. Not with manualCommit, which stops the commits it waits for
//                        (a program may pair them with a hold hook, below).
//   diskFullAfter=<size> the backup store's disk is full once the process has written this
//                        many more bytes into it (a number of bytes, or with KiB, MiB, GiB)
// where <op> is one of sendHeader, sendMetaData, sendUserBufData, sendEof, commitData,
// getStreamHandler, getController, endBackup. Example:
//   OBJSTORE_PIPELINE_FAULTS="sendHeader=3,sendEof@2=1,getStreamHandler=2,getController=1"
// aFile IDs are handed out from 1 upwards in the order streams are handed out in the process.
//
// A failing operation returns kPipelineInjectedFault with a message naming the rule, and
// changes nothing: a failed send writes nothing of that call, a failed getStreamHandler uses
// up no stream.
//
// Manual commit mode: the commit thread commits nothing on its own, commitData() only records
// the request, and endBackup syncs the streams' files without notifying. The test delivers
// whatever sequence number text it wants with DeliverCommit (on its own thread) or PostCommit
// (on the job's commit thread), or has a stream really committed and its count delivered with
// CommitAndDeliver (on its own thread). With late commits a job keeps its commit handler and its
// streams after its end, as long as the job lives: commits then reach the handler after the
// job's end has returned, as from a pipeline that reports its last commits late.
//
// A program that decides on its own thread when every commit happens (a replayable schedule)
// pairs manual commits with flow control and a hold hook: a sendEof that flow control holds runs
// the hook on the sending thread; when the stream still has no room after it, the sendEof
// commits its own stream and delivers that commit, on the same thread.
//
// All operations are thread-safe.
#ifndef OBJSTORE_PIPELINE_PIPELINEFAULTS_H_
#define OBJSTORE_PIPELINE_PIPELINEFAULTS_H_

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "CUxError.h"
#include "WriteBudget.h"

namespace OBJECTOPSAPI {

class PipelineFaults {
 public:
  enum Op {
    kSendHeader,
    kSendMetaData,
    kSendUserBufData,
    kSendEof,
    kCommitData,
    kGetStreamHandler,
    kGetController,
    kEndBackup,
    kOpCount
  };
  static constexpr uint32_t kAnyStream = 0;

  // What a rule with ":throw" throws.
  class InjectedException : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };

  // Called at the start of every checked operation, outside every pipeline lock: a test's way
  // to hold a thread at a chosen call.
  typedef std::function<void(Op op, uint32_t aFileId)> CallHook;
  // Called on the sending thread, outside every pipeline lock, when flow control holds a sendEof
  // of stream `aFileId` in manual commit mode (see above).
  typedef std::function<void(uint32_t aFileId)> HoldHook;

  // Replaces the plan with the rules in `spec` (syntax above; empty clears it). A malformed
  // spec returns kPipelineInvalidArgument and leaves the plan unchanged.
  static CUxError Install(const std::string& spec);
  // The error Install(spec) would return, without installing anything.
  static CUxError Validate(const std::string& spec);
  // Replaces the plan with what OBJSTORE_PIPELINE_FAULTS says (nothing when unset).
  static CUxError InstallFromEnvironment();
  // Removes every rule, manual commit mode, late commits, the commit delay, the flow window, the
  // hooks and the store's disk limit.
  static void Clear();

  // Adds a rule: fail the n-th call of `op` (n = 0: every call), and with `andLater` every call
  // after it too; with `throws` the call throws instead. Counting starts now.
  static void FailCall(Op op, uint64_t n, uint32_t aFileId = kAnyStream, bool andLater = false,
                       bool throws = false);
  static void SetManualCommit(bool manual);
  static void SetCommitDelayMs(uint32_t milliseconds);
  // 0 switches flow control off.
  static void SetFlowWindow(uint32_t items);
  static void SetCallHook(CallHook hook);
  // Flow control works in manual commit mode only while a hold hook is set.
  static void SetHoldHook(HoldHook hook);
  static void SetLateCommits(bool late);
  static bool LateCommits();

  // What the process may still write into the backup store (diskFullAfter).
  static WriteBudget& StoreWriteBudget();

  static bool ManualCommit();
  static uint32_t CommitDelayMs();
  // The flow window in force: 0 when off, and always 0 in manual commit mode.
  static uint32_t FlowWindow();

  // Runs the call hook, counts a call of `op` (on stream `aFileId`, 0 for calls without a
  // stream) and returns the injected error when a rule says this call fails, or throws
  // InjectedException when that rule says so. Used by the pipeline's operations.
  static CUxError Check(Op op, uint32_t aFileId);

  // Calls commitUpdate(aFileId, sequence) of the job that owns the stream on the calling thread
  // and returns its result; no pipeline lock is held during the call. Errors: no running job
  // has that stream (kPipelineUnknownStream), no commit handler registered (kPipelineNoCallback).
  static CUxError DeliverCommit(uint32_t aFileId, const std::string& sequence);
  // Queues the same call for the job's commit thread and returns at once.
  static CUxError PostCommit(uint32_t aFileId, const std::string& sequence);

  // Manual commit mode: commits stream `aFileId` on the calling thread, calls commitUpdate with
  // the stream's committed count and returns its result; `count` (may be null) receives the
  // count. Once the job has ended (late commits), delivers the count of the job's last commit.
  // Errors as DeliverCommit's; kPipelineInvalidArgument outside manual commit mode, where the
  // commit thread owns the commits.
  static CUxError CommitAndDeliver(uint32_t aFileId, uint64_t* count = nullptr);
  // Runs the hold hook, if one is set, for the stream `aFileId`. Used by the pipeline's sendEof.
  static bool RunHoldHook(uint32_t aFileId);

  static const char* OpName(Op op);
};

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_PIPELINEFAULTS_H_
