#include "tests/support/ProgramRunner.h"
#include "tests/support/Wait.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace kwstest {

namespace {

std::string ReadFileText(const std::string& path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

std::vector<std::string> BuildEnvironment(const EnvironmentChanges& changes) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (changes.count(text.substr(0, text.find('='))) == 0)
      result.push_back(text);
  }
  for (const auto& [name, value] : changes)
    if (value)
      result.push_back(name + "=" + *value);
  return result;
}

std::vector<char*> PointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts)
    pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// In the child between fork and exec: async-signal-safe calls only.
[[noreturn]] void ExecChild(const char* folder, const char* program, char** argv, char** envp, int in,
                            int out, int err) {
  setpgid(0, 0);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT})
    signal(sig, SIG_DFL);
  if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(folder) != 0)
    _exit(126);
  execve(program, argv, envp);
  _exit(127);
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
  if (ChildPid > 0)
    throw std::logic_error("ProgramRunner starts its program once");
  std::vector<std::string> argTexts{Program};
  argTexts.insert(argTexts.end(), arguments.begin(), arguments.end());
  std::vector<std::string> envTexts = BuildEnvironment(environment);
  std::vector<char*> argv = PointersTo(argTexts);
  std::vector<char*> envp = PointersTo(envTexts);
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out = open(Dir.PathOf("stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int err = open(Dir.PathOf("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const pid_t pid = in < 0 || out < 0 || err < 0 ? -1 : fork();
  if (pid == 0)
    ExecChild(Dir.Path().c_str(), Program.c_str(), argv.data(), envp.data(), in, out, err);
  const int error = errno;
  for (int fd : {in, out, err})
    if (fd >= 0)
      close(fd);
  if (pid < 0)
    throw std::runtime_error(std::string("cannot start the program: ") + std::strerror(error));
  ChildPid = pid;
}

bool ProgramRunner::Reap(bool block) {
  if (Status)
    return true;
  int raw = 0;
  if (waitpid(ChildPid, &raw, block ? 0 : WNOHANG) != ChildPid)
    return false;
  Status = ExitStatus{WIFEXITED(raw) != 0, WIFEXITED(raw) ? WEXITSTATUS(raw) : -1,
                      WIFSIGNALED(raw) ? WTERMSIG(raw) : 0};
  return true;
}

bool ProgramRunner::SendSignal(int signal) {
  return ChildPid > 0 && !Reap(false) && kill(ChildPid, signal) == 0;
}

std::optional<ExitStatus> ProgramRunner::WaitForExit(std::chrono::milliseconds timeout) {
  if (ChildPid <= 0)
    throw std::logic_error("ProgramRunner has not started its program");
  if (WaitUntil([this] { return Reap(false); }, timeout, tPump::None))
    return Status;
  return std::nullopt;
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
  return ReadFileText(Dir.PathOf("stdout.txt"));
}

std::string ProgramRunner::Stderr() const {
  return ReadFileText(Dir.PathOf("stderr.txt"));
}

} // namespace kwstest
