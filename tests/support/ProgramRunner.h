// Runs a copy of the built program in a fresh folder of its own, next to a settings file of the test's
// choosing, and watches it from outside: exit, signals, standard output and error.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/LoopbackPeer.h"
#include "tests/support/TempFolder.h"

namespace kwstest {

struct ExitStatus {
  bool Exited = false; // with Code, else killed by Signal
  int Code = -1;
  int Signal = 0;
};

// A value sets the variable, nullopt removes it.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

class ProgramRunner {
public:
  // With settings text, writes the settings file beside the copy, where the program looks first.
  explicit ProgramRunner(const std::optional<std::string>& settingsText = std::nullopt,
                         const std::string& program = KWS_TEST_PROGRAM);
  ~ProgramRunner(); // kills and reaps a program still running
  ProgramRunner(const ProgramRunner&) = delete;
  ProgramRunner& operator=(const ProgramRunner&) = delete;

  // A program for another system runs through a loader (wine, say): Start runs the launcher, then the copy.
  void SetLauncher(std::vector<std::string> launcher) { Launcher = std::move(launcher); }
  // The program's folder and current directory.
  const TempFolder& Folder() const { return Dir; }
  // As the leader of a process group of its own, with empty standard input and the output into files.
  void Start(const std::vector<std::string>& arguments = {}, const EnvironmentChanges& environment = {});
  int Pid() const { return ChildPid; }
  bool SendSignal(int signal); // false when the program has ended
  // nullopt when the program still runs after the time-out.
  std::optional<ExitStatus> WaitForExit(std::chrono::milliseconds timeout);
  // Waits until sending the signal no longer kills the program.
  bool WaitForSignalHandler(int signal, std::chrono::milliseconds timeout);
  bool WaitForStderr(const std::string& text, std::chrono::milliseconds timeout) const;
  std::string Stdout() const;
  std::string Stderr() const;

private:
  bool Reap(bool block);

  TempFolder Dir;
  std::string Program;
  std::vector<std::string> Launcher;
  int ChildPid = -1;
  std::optional<ExitStatus> Status;
};

// A shell command's standard output and exit code.
std::pair<std::string, int> RunCommand(const std::string& command);

} // namespace kwstest
