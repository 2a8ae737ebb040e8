#include "PipelineFaults.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "ByteSize.h"
#include "LogWriter.h"
#include "PipelineErrors.h"
#include "PipelineJob.h"

namespace OBJECTOPSAPI {

namespace {

struct Rule {
  PipelineFaults::Op op;
  uint32_t aFileId;  // kAnyStream: calls on every stream count
  uint64_t n;        // 0: every call fails
  bool andLater;
  bool throws;
  uint64_t seen;
  std::string text;
};

std::mutex gMutex;
std::vector<Rule> gRules;
std::atomic<bool> gHasRules{false};
std::atomic<bool> gManualCommit{false};
std::atomic<uint32_t> gCommitDelayMs{0};
std::atomic<uint32_t> gFlowWindow{0};
std::atomic<bool> gHasHook{false};
PipelineFaults::CallHook gHook;  // guarded by gMutex
std::atomic<bool> gHasHoldHook{false};
PipelineFaults::HoldHook gHoldHook;  // guarded by gMutex
std::atomic<bool> gLateCommits{false};
std::once_flag gEnvironmentOnce;
WriteBudget gStoreWriteBudget;

const char* const kOpNames[PipelineFaults::kOpCount] = {
    "sendHeader", "sendMetaData",     "sendUserBufData", "sendEof",
    "commitData", "getStreamHandler", "getController",   "endBackup"};

struct ParsedPlan {
  std::vector<Rule> rules;
  bool manualCommit = false;
  uint32_t commitDelayMs = 0;
  uint32_t flowWindow = 0;
  uint64_t diskFullAfter = WriteBudget::kUnlimited;
};

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

// Parses a whole unsigned decimal number; false on anything else.
bool ParseNumber(const std::string& text, uint64_t* out) {
  if (text.empty() || text.size() > 19) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  *out = value;
  return true;
}

bool ParseOp(const std::string& name, PipelineFaults::Op* out) {
  for (int i = 0; i < PipelineFaults::kOpCount; ++i) {
    if (name == kOpNames[i]) {
      *out = static_cast<PipelineFaults::Op>(i);
      return true;
    }
  }
  return false;
}

std::string OpList(int first, int last) {
  std::string list;
  for (int i = first; i <= last; ++i) list += std::string(i == first ? "" : ", ") + kOpNames[i];
  return list;
}

// One rule: <op>[@<aFileId>][=<n>[+]]. Returns why it is not one, or "" when it is.
std::string ParseRule(const std::string& token, Rule* rule) {
  size_t equals = token.find('=');
  std::string head = token.substr(0, equals);
  std::string count = equals == std::string::npos ? "" : token.substr(equals + 1);
  size_t at = head.find('@');
  std::string name = head.substr(0, at);

  *rule = Rule{PipelineFaults::kSendHeader, PipelineFaults::kAnyStream, 0, false, false, 0, token};
  if (!ParseOp(name, &rule->op)) {
    return "unknown operation [" + name + "]; the operations are " +
           OpList(0, PipelineFaults::kOpCount - 1) +
           ", and the settings manualCommit, commitDelay=<ms>, flowWindow=<n>, "
           "diskFullAfter=<size>";
  }
  if (at != std::string::npos) {
    if (rule->op > PipelineFaults::kCommitData) {
      return name + " has no stream: @<aFileId> only applies to " +
             OpList(0, PipelineFaults::kCommitData);
    }
    uint64_t id = 0;
    if (!ParseNumber(head.substr(at + 1), &id) || id == 0 || id > UINT32_MAX) {
      return "aFile ID [" + head.substr(at + 1) + "] is not a number from 1 to 4294967295";
    }
    rule->aFileId = static_cast<uint32_t>(id);
  }
  if (equals == std::string::npos) return "";
  if (!count.empty() && count.back() == '+') {
    rule->andLater = true;
    count.pop_back();
  }
  if (!ParseNumber(count, &rule->n) || rule->n == 0) {
    return "call number [" + count + "] is not a number from 1 to 9999999999999999999";
  }
  return "";
}

// Parses "<prefix><n>" with n a number from `least` to UINT32_MAX into `out`. Returns false
// when `token` has another prefix; otherwise `problem` says what is wrong ("" when nothing).
bool ParseSetting(const std::string& token, const std::string& prefix, uint32_t least,
                  const char* what, uint32_t* out, std::string* problem) {
  if (token.compare(0, prefix.size(), prefix) != 0) return false;
  uint64_t value = 0;
  if (!ParseNumber(token.substr(prefix.size()), &value) || value < least || value > UINT32_MAX) {
    *problem = std::string("the ") + what + " is not a number from " + std::to_string(least) +
               " to 4294967295";
  } else {
    *out = static_cast<uint32_t>(value);
    problem->clear();
  }
  return true;
}

// Splits a trailing ":throw" off `text`; true when there was one.
bool TakeThrowSuffix(std::string* text) {
  const std::string suffix = ":throw";
  if (text->size() <= suffix.size() ||
      text->compare(text->size() - suffix.size(), suffix.size(), suffix) != 0) {
    return false;
  }
  text->resize(text->size() - suffix.size());
  return true;
}

// Returns why `token` is no rule or setting, or "" when it is one.
std::string ParseToken(const std::string& token, ParsedPlan* plan) {
  if (token == "manualCommit") {
    plan->manualCommit = true;
    return "";
  }
  std::string problem;
  if (ParseSetting(token, "commitDelay=", 0, "delay in milliseconds", &plan->commitDelayMs,
                   &problem)) {
    return problem;
  }
  if (ParseSetting(token, "flowWindow=", 1, "window", &plan->flowWindow, &problem)) {
    return problem;
  }
  const std::string diskFullPrefix = "diskFullAfter=";
  if (token.compare(0, diskFullPrefix.size(), diskFullPrefix) == 0) {
    if (!ParseByteSize(token.substr(diskFullPrefix.size()), &plan->diskFullAfter)) {
      return "the size is not a number of bytes, KiB, MiB or GiB, e.g. 4096 or 2MiB";
    }
    return "";
  }
  std::string text = token;
  const bool throws = TakeThrowSuffix(&text);
  Rule rule;
  problem = ParseRule(text, &rule);
  if (!problem.empty()) return problem;
  rule.throws = throws;
  rule.text = token;
  plan->rules.push_back(rule);
  return "";
}

CUxError ParseSpec(const std::string& spec, ParsedPlan* out) {
  ParsedPlan& plan = *out;
  size_t start = 0;
  while (!spec.empty() && start <= spec.size()) {
    size_t comma = spec.find(',', start);
    if (comma == std::string::npos) comma = spec.size();
    std::string token = Trim(spec.substr(start, comma - start));
    if (token.empty()) {
      return UX_ERROR(kPipelineInvalidArgument,
                      "empty fault rule in [%s]: rules are separated by single commas",
                      spec.c_str());
    }
    const std::string problem = ParseToken(token, &plan);
    if (!problem.empty()) {
      return UX_ERROR(kPipelineInvalidArgument, "bad fault rule [%s]: %s", token.c_str(),
                      problem.c_str());
    }
    start = comma + 1;
  }
  if (plan.manualCommit && plan.flowWindow != 0) {
    return UX_ERROR(kPipelineInvalidArgument,
                    "fault plan [%s]: flowWindow waits for commits, and manualCommit stops them",
                    spec.c_str());
  }
  return CUxError();
}

CUxError InstallSpec(const std::string& spec) {
  ParsedPlan plan;
  CUxError error = ParseSpec(spec, &plan);
  if (error.IsError()) return error;
  std::lock_guard<std::mutex> lock(gMutex);
  gRules = plan.rules;
  gHasRules = !gRules.empty();
  gManualCommit = plan.manualCommit;
  gCommitDelayMs = plan.commitDelayMs;
  gFlowWindow = plan.flowWindow;
  gStoreWriteBudget.setLimit(plan.diskFullAfter);
  if (!spec.empty()) OBJSTORE_LOG(1, "INFO: pipeline fault plan set to [%s]", spec.c_str());
  return CUxError();
}

std::string EnvironmentSpec() {
  const char* spec = std::getenv("OBJSTORE_PIPELINE_FAULTS");
  return spec == nullptr ? "" : spec;
}

void LoadEnvironmentOnce() {
  std::call_once(gEnvironmentOnce, [] {
    CUxError error = InstallSpec(EnvironmentSpec());
    if (error.IsError()) {
      OBJSTORE_LOG(-1, "ERROR: ignoring OBJSTORE_PIPELINE_FAULTS: %s", error.AsString().c_str());
    }
  });
}

void RunHook(PipelineFaults::Op op, uint32_t aFileId) {
  PipelineFaults::CallHook hook;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    hook = gHook;
  }
  if (hook) hook(op, aFileId);
}

bool RuleFails(Rule& rule, PipelineFaults::Op op, uint32_t aFileId) {
  if (rule.op != op) return false;
  if (rule.aFileId != PipelineFaults::kAnyStream && rule.aFileId != aFileId) return false;
  ++rule.seen;
  if (rule.n == 0) return true;
  return rule.seen == rule.n || (rule.andLater && rule.seen > rule.n);
}

}  // namespace

const char* PipelineFaults::OpName(Op op) {
  return op >= 0 && op < kOpCount ? kOpNames[op] : "unknown";
}

CUxError PipelineFaults::Install(const std::string& spec) {
  LoadEnvironmentOnce();
  return InstallSpec(spec);
}

CUxError PipelineFaults::Validate(const std::string& spec) {
  ParsedPlan plan;
  return ParseSpec(spec, &plan);
}

CUxError PipelineFaults::InstallFromEnvironment() {
  LoadEnvironmentOnce();
  return InstallSpec(EnvironmentSpec());
}

void PipelineFaults::Clear() {
  LoadEnvironmentOnce();
  std::lock_guard<std::mutex> lock(gMutex);
  gRules.clear();
  gHasRules = false;
  gManualCommit = false;
  gCommitDelayMs = 0;
  gFlowWindow = 0;
  gHook = nullptr;
  gHasHook = false;
  gHoldHook = nullptr;
  gHasHoldHook = false;
  gLateCommits = false;
  gStoreWriteBudget.setLimit(WriteBudget::kUnlimited);
}

void PipelineFaults::FailCall(Op op, uint64_t n, uint32_t aFileId, bool andLater, bool throws) {
  LoadEnvironmentOnce();
  std::lock_guard<std::mutex> lock(gMutex);
  gRules.push_back(Rule{op, aFileId, n, andLater, throws, 0, OpName(op)});
  gHasRules = true;
}

void PipelineFaults::SetFlowWindow(uint32_t items) {
  LoadEnvironmentOnce();
  gFlowWindow = items;
}

void PipelineFaults::SetCallHook(CallHook hook) {
  LoadEnvironmentOnce();
  std::lock_guard<std::mutex> lock(gMutex);
  gHook = std::move(hook);
  gHasHook = static_cast<bool>(gHook);
}

void PipelineFaults::SetHoldHook(HoldHook hook) {
  LoadEnvironmentOnce();
  std::lock_guard<std::mutex> lock(gMutex);
  gHoldHook = std::move(hook);
  gHasHoldHook = static_cast<bool>(gHoldHook);
}

bool PipelineFaults::RunHoldHook(uint32_t aFileId) {
  if (!gHasHoldHook) return false;
  PipelineFaults::HoldHook hook;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    hook = gHoldHook;
  }
  if (hook) hook(aFileId);
  return static_cast<bool>(hook);
}

void PipelineFaults::SetLateCommits(bool late) {
  LoadEnvironmentOnce();
  gLateCommits = late;
}

bool PipelineFaults::LateCommits() {
  LoadEnvironmentOnce();
  return gLateCommits;
}

uint32_t PipelineFaults::FlowWindow() {
  LoadEnvironmentOnce();
  return gManualCommit && !gHasHoldHook ? 0 : gFlowWindow.load();
}

void PipelineFaults::SetManualCommit(bool manual) {
  LoadEnvironmentOnce();
  gManualCommit = manual;
}

void PipelineFaults::SetCommitDelayMs(uint32_t milliseconds) {
  LoadEnvironmentOnce();
  gCommitDelayMs = milliseconds;
}

WriteBudget& PipelineFaults::StoreWriteBudget() {
  LoadEnvironmentOnce();
  return gStoreWriteBudget;
}

bool PipelineFaults::ManualCommit() {
  LoadEnvironmentOnce();
  return gManualCommit;
}

uint32_t PipelineFaults::CommitDelayMs() {
  LoadEnvironmentOnce();
  return gCommitDelayMs;
}

CUxError PipelineFaults::Check(Op op, uint32_t aFileId) {
  LoadEnvironmentOnce();
  if (gHasHook) RunHook(op, aFileId);
  if (!gHasRules) return CUxError();
  std::unique_lock<std::mutex> lock(gMutex);
  // Every matching rule counts the call, even when an earlier one already fails it.
  const Rule* failing = nullptr;
  for (Rule& rule : gRules) {
    if (RuleFails(rule, op, aFileId) && failing == nullptr) failing = &rule;
  }
  if (failing == nullptr) return CUxError();
  const unsigned long long call = failing->seen;
  const bool throws = failing->throws;
  const std::string text = failing->text;
  lock.unlock();
  OBJSTORE_LOG(1, "INFO: injecting a fault into %s (stream [%u], call %llu, rule [%s])", OpName(op),
               aFileId, call, text.c_str());
  if (throws) {
    throw InjectedException(std::string("injected exception: ") + OpName(op) + " call " +
                            std::to_string(call) + " (rule [" + text + "])");
  }
  return UX_ERROR(kPipelineInjectedFault, "injected fault: %s call %llu fails (rule [%s])",
                  OpName(op), call, text.c_str());
}

CUxError PipelineFaults::DeliverCommit(uint32_t aFileId, const std::string& sequence) {
  boost::shared_ptr<PipelineJob> job = PipelineJob::FindByAfileId(aFileId);
  if (!job) {
    return UX_ERROR(kPipelineUnknownStream, "no running job has a stream with aFile ID [%u]",
                    aFileId);
  }
  return job->deliverCommit(aFileId, sequence);
}

CUxError PipelineFaults::CommitAndDeliver(uint32_t aFileId, uint64_t* count) {
  if (!ManualCommit()) {
    return UX_ERROR(kPipelineInvalidArgument,
                    "CommitAndDeliver needs manual commit mode: the commit thread commits");
  }
  boost::shared_ptr<PipelineJob> job = PipelineJob::FindByAfileId(aFileId);
  if (!job) {
    return UX_ERROR(kPipelineUnknownStream, "no running job has a stream with aFile ID [%u]",
                    aFileId);
  }
  return job->commitNow(aFileId, count);
}

CUxError PipelineFaults::PostCommit(uint32_t aFileId, const std::string& sequence) {
  boost::shared_ptr<PipelineJob> job = PipelineJob::FindByAfileId(aFileId);
  if (!job) {
    return UX_ERROR(kPipelineUnknownStream, "no running job has a stream with aFile ID [%u]",
                    aFileId);
  }
  return job->postCommit(aFileId, sequence);
}

}  // namespace OBJECTOPSAPI
