#include "tests/support/ProgramRunner.h"
#include "tests/support/Wait.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace kwstest {

namespace {

std::vector<char*> PointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts)
    pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

} // namespace

ProgramRunner::ProgramRunner(const std::optional<std::string>& settingsText, const std::string& program)
    : Program(Dir.PathOf(std::filesystem::path(program).filename().string())) {
  std::filesystem::copy_file(program, Program);
  if (settingsText)
    Dir.WriteFile("KestruneWebServer.Ini", *settingsText);
}

ProgramRunner::~ProgramRunner() {
  if (ChildPid > 0 && !Status) {
    kill(-ChildPid, SIGKILL);
    kill(ChildPid, SIGKILL);
    Reap(true);
  }
}

void ProgramRunner::Start(const std::vector<std::string>& arguments, const EnvironmentChanges& environment) {
  std::vector<std::string> argTexts{Launcher}, envTexts;
  argTexts.push_back(Program);
  argTexts.insert(argTexts.end(), arguments.begin(), arguments.end());
  for (char** entry = environ; *entry != nullptr; ++entry)
    if (environment.count(std::string(*entry).substr(0, std::strcspn(*entry, "="))) == 0)
      envTexts.push_back(*entry);
  for (const auto& [name, value] : environment)
    if (value)
      envTexts.push_back(name + "=" + *value);
  // Default handling of the stop signals, nothing blocked.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT})
    sigaddset(&signals, sig);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  for (const auto& [fd, name] : {std::pair{1, "stdout.txt"}, {2, "stderr.txt"}})
    posix_spawn_file_actions_addopen(&actions, fd, Dir.PathOf(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  posix_spawn_file_actions_addchdir_np(&actions, Dir.Path().c_str());
  const int error = posix_spawnp(&ChildPid, argTexts[0].c_str(), &actions, &attributes,
                                 PointersTo(argTexts).data(), PointersTo(envTexts).data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0)
    throw std::runtime_error(std::string("cannot start the program: ") + std::strerror(error));
}

bool ProgramRunner::Reap(bool block) {
  int raw = 0;
  if (!Status && waitpid(ChildPid, &raw, block ? 0 : WNOHANG) == ChildPid)
    Status = ExitStatus{WIFEXITED(raw) != 0, WIFEXITED(raw) ? WEXITSTATUS(raw) : -1,
                        WIFSIGNALED(raw) ? WTERMSIG(raw) : 0};
  return Status.has_value();
}

bool ProgramRunner::SendSignal(int signal) {
  return ChildPid > 0 && !Reap(false) && kill(ChildPid, signal) == 0;
}

std::optional<ExitStatus> ProgramRunner::WaitForExit(std::chrono::milliseconds timeout) {
  WaitUntil([this] { return ChildPid <= 0 || Reap(false); }, timeout, tPump::None);
  return Status;
}

bool ProgramRunner::WaitForSignalHandler(int signal, std::chrono::milliseconds timeout) {
  const std::string statusFile = "/proc/" + std::to_string(ChildPid) + "/status";
  return WaitUntil(
      [&] {
        std::ifstream in(statusFile);
        for (std::string line; !Reap(false) && std::getline(in, line);)
          if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1) != 0;
        return false;
      },
      timeout, tPump::None);
}

bool ProgramRunner::WaitForStderr(const std::string& text, std::chrono::milliseconds timeout) const {
  return WaitUntil([&] { return Stderr().find(text) != std::string::npos; }, timeout, tPump::None);
}

std::string ProgramRunner::Stdout() const {
  return Dir.ReadText("stdout.txt");
}

std::string ProgramRunner::Stderr() const {
  return Dir.ReadText("stderr.txt");
}

std::pair<std::string, int> RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  for (size_t n = 0; pipe != nullptr && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, n);
  const int status = pipe != nullptr ? pclose(pipe) : -1;
  return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

} // namespace kwstest
