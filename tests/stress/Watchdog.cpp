#include "Watchdog.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace stress {

namespace {

void DumpAndKill(pid_t harness, uint64_t seed, const std::string& replay) {
  fprintf(stderr, "\nHANG: seed %llu made no progress; stacks of every thread follow\n",
          static_cast<unsigned long long>(seed));
  const std::string command =
      "gdb -p " + std::to_string(harness) + " -batch -nx -ex 'thread apply all bt' </dev/null 1>&2";
  if (system(command.c_str()) != 0) fprintf(stderr, "(gdb could not attach)\n");
  fprintf(stderr, "FAILED seed=%llu: hang\nreplay: %s --seed %llu\n",
          static_cast<unsigned long long>(seed), replay.c_str(),
          static_cast<unsigned long long>(seed));
  kill(harness, SIGKILL);
}

[[noreturn]] void Watch(int input, pid_t harness, int hangSeconds, const std::string& replay) {
  uint64_t seed = 0;
  for (;;) {
    struct pollfd ready = {input, POLLIN, 0};
    const int polled = poll(&ready, 1, hangSeconds * 1000);
    if (polled == 0) {
      DumpAndKill(harness, seed, replay);
      _exit(1);
    }
    if (polled < 0) continue;
    uint64_t next = 0;
    const ssize_t got = read(input, &next, sizeof(next));
    if (got <= 0) _exit(0);  // the harness is done
    if (got == sizeof(next)) seed = next;
  }
}

}  // namespace

Watchdog::Watchdog(int hangSeconds, std::string replay) {
  if (hangSeconds <= 0) return;
  int fds[2];
  if (pipe(fds) != 0) return;
  const pid_t harness = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[1]);
    Watch(fds[0], harness, hangSeconds, replay);
  }
  close(fds[0]);
  pipe_ = fds[1];
  pid_ = pid;
  // Where ptrace is limited to ancestors, the watchdog may still attach to its parent.
  prctl(PR_SET_PTRACER, static_cast<unsigned long>(pid), 0, 0, 0);
}

Watchdog::~Watchdog() {
  if (pipe_ < 0) return;
  close(pipe_);
  int status = 0;
  waitpid(pid_, &status, 0);
}

void Watchdog::beat(uint64_t seed) {
  if (pipe_ < 0) return;
  if (write(pipe_, &seed, sizeof(seed)) < 0) perror("watchdog");
}

}  // namespace stress
