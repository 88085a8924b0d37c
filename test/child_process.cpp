// Child processes for the end-to-end tests: spawn, feed, collect, reap.
#include "child_process.h"
#include "programs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void close_fd(int &fd) {
  if (fd >= 0) {
    close(fd);
    fd = -1;
  }
}

} // namespace

Child start_child(const std::vector<std::string> &command, Output output, bool close_input) {
  // A child that ends before reading all its input must not kill the test.
  std::signal(SIGPIPE, SIG_IGN);
  int in[2] = {-1, -1};
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe2: " << std::strerror(errno);
    return {-1, -1, -1, -1};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (close_input) {
    posix_spawn_file_actions_addclose(&actions, 0);
  } else {
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  }
  switch (output) {
  case Output::pipe:
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    break;
  case Output::full_device:
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
    break;
  case Output::closed:
    posix_spawn_file_actions_addclose(&actions, 1);
    break;
  }
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);

  std::vector<char *> argv;
  argv.reserve(command.size() + 1);
  for (const std::string &word : command) {
    argv.push_back(const_cast<char *>(word.c_str()));
  }
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close_fd(in[0]);
  close_fd(out[1]);
  close_fd(err[1]);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << command[0] << ": " << std::strerror(spawned);
    close_fd(in[1]);
    close_fd(out[0]);
    close_fd(err[0]);
    return {-1, -1, -1, -1};
  }
  if (close_input) {
    close_fd(in[1]);
  }
  return {pid, in[1], out[0], err[0]};
}

std::string read_for(int fd, std::size_t count, int timeout_ms) {
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (text.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
      break;
    }
    char buffer[4096];
    const ssize_t got = read(fd, buffer, std::min(sizeof buffer, count - text.size()));
    if (got <= 0) {
      break;
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

Finished finish_child(Child child, const std::string &input, int timeout_s) {
  Finished result{"", "", -1};
  if (child.pid < 0) {
    return result;
  }
  if (child.input >= 0) {
    std::size_t sent = 0;
    while (sent < input.size()) {
      const ssize_t wrote = write(child.input, input.data() + sent, input.size() - sent);
      if (wrote <= 0) {
        break; // the child closed its input; what it did with it is judged by the caller
      }
      sent += static_cast<std::size_t>(wrote);
    }
    close_fd(child.input);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
  pollfd streams[2] = {{child.output, POLLIN, 0}, {child.error, POLLIN, 0}};
  std::string *texts[2] = {&result.output, &result.error};
  while (streams[0].fd >= 0 || streams[1].fd >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(child.pid, SIGKILL);
      ADD_FAILURE() << "child did not finish within " << timeout_s << " s";
      break;
    }
    if (poll(streams, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) {
      break;
    }
    for (int s = 0; s < 2; ++s) {
      if (streams[s].fd < 0 || streams[s].revents == 0) {
        continue;
      }
      char buffer[4096];
      const ssize_t got = read(streams[s].fd, buffer, sizeof buffer);
      if (got > 0) {
        texts[s]->append(buffer, static_cast<std::size_t>(got));
      } else {
        close(streams[s].fd);
        streams[s].fd = -1;
      }
    }
  }
  for (pollfd &stream : streams) {
    close_fd(stream.fd);
  }
  // A program built for Windows ends its lines with CR LF, as the platform does.
  if (std::getenv("PI_ESTIMATE_CRLF") != nullptr) {
    for (std::string *text : texts) {
      for (std::size_t at = 0; (at = text->find("\r\n", at)) != std::string::npos; ++at) {
        text->erase(at, 1);
      }
    }
  }
  int status = 0;
  while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::vector<std::string> program_command() {
  // Another build's program, with what runs it (as Wine runs a Windows build),
  // may stand in for this build's: its words, separated by blanks.
  if (const char *words = std::getenv("PI_ESTIMATE_COMMAND")) {
    std::vector<std::string> command;
    std::istringstream stream(words);
    for (std::string word; stream >> word;) {
      command.push_back(word);
    }
    return command;
  }
  std::vector<std::string> command = PI_ESTIMATE_LAUNCHER;
  command.emplace_back(PI_ESTIMATE_PROGRAM);
  return command;
}

Finished run_program(const std::string &input, Output output, bool close_input,
                     const std::vector<std::string> &launcher) {
  std::vector<std::string> command = launcher;
  const std::vector<std::string> program = program_command();
  command.insert(command.end(), program.begin(), program.end());
  return finish_child(start_child(command, output, close_input), input);
}

bool on_path(const std::string &name) {
  const char *path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) {
      return true;
    }
    start = end + 1;
  }
  return false;
}
