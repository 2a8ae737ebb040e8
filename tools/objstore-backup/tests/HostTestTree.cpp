#include "HostTestTree.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "TestSupport.h"

namespace objstore_host {

bool WriteTestTree(const std::string& dir, int files) {
  std::error_code error;
  std::filesystem::create_directories(dir + "/sub", error);
  if (error) return false;
  for (int i = 0; i < files; ++i) {
    const size_t size = static_cast<size_t>(i) * 997 % 41000;
    std::string content(size, '\0');
    for (size_t j = 0; j < size; ++j) content[j] = static_cast<char>('a' + (i + j) % 26);
    const std::string name = (i % 3 == 0 ? "/sub/file-" : "/file-") + std::to_string(i);
    if (!objstore_testing::WriteFile(dir + name, content)) return false;
  }
  return true;
}

int CountSegments(const std::string& cacheDir) {
  std::error_code error;
  if (!std::filesystem::is_directory(cacheDir, error)) return -1;
  int count = 0;
  for (std::filesystem::recursive_directory_iterator it(cacheDir, error), end; !error && it != end;
       it.increment(error)) {
    const std::string file = it->path().filename().string();
    if (file[0] != '.' && it->path().extension() == ".seg") ++count;
  }
  return count;
}

namespace {

bool Redirect(const std::string& file, int fd) {
  const int opened = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  return opened >= 0 && dup2(opened, fd) >= 0;
}

}  // namespace

pid_t StartHostProgram(const std::vector<std::string>& args, const std::string& outFile,
                       const std::string& errFile) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(OBJSTORE_BACKUP_PROGRAM));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (!Redirect(outFile, STDOUT_FILENO)) _exit(126);
    if (!errFile.empty() && !Redirect(errFile, STDERR_FILENO)) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int WaitForExit(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

}  // namespace objstore_host
