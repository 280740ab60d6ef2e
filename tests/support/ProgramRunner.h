// Runs a copy of the built program in a fresh folder of its own, next to a settings file of the test's
// choosing, and watches it from outside: exit, signals, standard output and error.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/LoopbackPeer.h"
#include "tests/support/TempFolder.h"

namespace kwstest {

// How a program ended: Exited with Code, or killed by Signal.
struct ExitStatus {
  bool Exited = false;
  int Code = -1;
  int Signal = 0;
};

// Environment changes for a started program: a value sets the variable, nullopt removes it.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

class ProgramRunner {
public:
  // Copies `program` into a fresh temporary folder; with settings text, writes the settings file beside it,
  // where the program looks first.
  explicit ProgramRunner(const std::optional<std::string>& settingsText = std::nullopt,
                         const std::string& program = KWS_TEST_PROGRAM);
  // Kills and reaps a program still running; removes the folder.
  ~ProgramRunner();
  ProgramRunner(const ProgramRunner&) = delete;
  ProgramRunner& operator=(const ProgramRunner&) = delete;

  // The program's folder and current directory: put sites, plug-ins and further files here.
  const TempFolder& Folder() const { return Dir; }

  // Starts the copy as the leader of a process group of its own, with the test's environment changed by
  // `environment`. Standard input is empty; standard output and error go to files.
  void Start(const std::vector<std::string>& arguments = {}, const EnvironmentChanges& environment = {});
  int Pid() const { return ChildPid; }
  // Sends a signal to the running program; false when it has ended.
  bool SendSignal(int signal);
  // The exit status, or nullopt when the program still runs after `timeout`.
  std::optional<ExitStatus> WaitForExit(std::chrono::milliseconds timeout);
  // Waits until the program has a handler installed for `signal` (so sending it no longer kills it).
  bool WaitForSignalHandler(int signal, std::chrono::milliseconds timeout);
  bool WaitForStderr(const std::string& text, std::chrono::milliseconds timeout) const;
  std::string Stdout() const;
  std::string Stderr() const;

private:
  bool Reap(bool block);

  TempFolder Dir;
  std::string Program;
  int ChildPid = -1;
  std::optional<ExitStatus> Status;
};

} // namespace kwstest
