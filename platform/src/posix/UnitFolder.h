// The unit folder of the service manager: files written whole or not at all, links, accounts, reloads.
// Plain C++: functions give 0 or the errno of the call that failed.
#pragma once

#include <string>

namespace kwsplat::posix {

// An environment variable's value; empty when unset.
std::string EnvironmentValue(const char* name);
bool FolderExists(const std::string& path);
bool FolderWritable(const std::string& path);
// Writes a hidden temporary file in the folder and renames it into place, so a failure leaves nothing.
int WriteFileWhole(const std::string& folder, const std::string& name, const std::string& content);
// A missing file counts as removed.
int RemoveFile(const std::string& path);
// Makes the link's folder when missing.
int MakeSymbolicLink(const std::string& target, const std::string& linkPath);
bool SystemUserExists(const std::string& name);
// True when systemd manages this machine.
bool SystemdRuns();
// systemctl daemon-reload; its outcome does not matter to the caller.
void ReloadSystemd();

} // namespace kwsplat::posix
