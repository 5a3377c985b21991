#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace spell_helper::testing {

struct ChildResult {
  int status = -1;  // exit status, or -1 when the child did not exit normally
  std::string out;
  std::string err;
};

namespace detail {
inline std::string drain(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  return text;
}
}  // namespace detail

// Runs program with args, capturing standard output and standard error
// (through files, so that neither pipe can fill up and stall the child).
inline ChildResult run_child(const std::string& program, const std::vector<std::string>& args) {
  char out_name[] = "/tmp/spell_child_out_XXXXXX";
  char err_name[] = "/tmp/spell_child_err_XXXXXX";
  const int out_fd = ::mkstemp(out_name);
  const int err_fd = ::mkstemp(err_name);
  ChildResult result;
  if (out_fd < 0 || err_fd < 0) return result;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out_fd, STDOUT_FILENO);
    ::dup2(err_fd, STDERR_FILENO);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int wstatus = 0;
  if (pid > 0 && ::waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
  ::lseek(out_fd, 0, SEEK_SET);
  ::lseek(err_fd, 0, SEEK_SET);
  result.out = detail::drain(out_fd);
  result.err = detail::drain(err_fd);
  ::unlink(out_name);
  ::unlink(err_name);
  return result;
}

}  // namespace spell_helper::testing
