#include "tests/support/X11Probe.h"
#include "tests/support/Wait.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace kwstest {

namespace {

constexpr const char* kXvfb = "/usr/bin/Xvfb";
constexpr tPump kNoPump = tPump::None; // named before Xlib makes None a macro

void StopProcess(int& pid) {
  if (pid <= 0)
    return;
  kill(pid, SIGTERM);
  if (!WaitUntil([&] { return waitpid(pid, nullptr, WNOHANG) == pid; }, 2s, kNoPump)) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  pid = -1;
}

// Starts Xvfb, which picks a free display itself and writes its number to descriptor 3 once it is ready.
[[maybe_unused]] int SpawnServer(std::string& displayName) {
  int fds[2];
  if (!std::filesystem::exists(kXvfb) || pipe2(fds, O_CLOEXEC) != 0)
    return -1;
  int pid = fork();
  if (pid == 0) {
    dup2(fds[1], 3); // the copy is not closed on exec
    const int null = open("/dev/null", O_RDWR);
    for (int fd : {0, 1, 2})
      dup2(null, fd);
    execl(kXvfb, kXvfb, "-displayfd", "3", "-screen", "0", "800x600x24", "-nolisten", "tcp", "-noreset",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  char c = 0;
  pollfd readable{fds[0], POLLIN, 0};
  while (pid > 0 && poll(&readable, 1, 15000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
    number += c;
  close(fds[0]);
  if (number.empty())
    StopProcess(pid);
  displayName = ":" + number;
  return pid;
}

} // namespace

} // namespace kwstest

#ifdef KWS_TEST_HAVE_X11
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace kwstest {

std::unique_ptr<X11Probe> X11Probe::StartPrivateServer() {
  std::unique_ptr<X11Probe> probe(new X11Probe());
  probe->ServerPid = SpawnServer(probe->Name);
  if (probe->ServerPid < 0)
    return nullptr;
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  probe->Connection = XOpenDisplay(probe->Name.c_str());
  return probe->Connection != nullptr ? std::move(probe) : nullptr; // else the destructor stops the server
}

unsigned long X11Probe::FindWindow(const std::string& title, std::chrono::milliseconds timeout) {
  Display* const dpy = static_cast<Display*>(Connection);
  Window found = 0;
  WaitUntil(
      [&] {
        Window root, parent;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count))
          return false;
        for (unsigned int i = 0; i < count && !found; ++i) {
          char* name = nullptr;
          if (XFetchName(dpy, children[i], &name) && name != nullptr && title == name)
            found = children[i];
          XFree(name);
        }
        XFree(children);
        return found != 0;
      },
      timeout, kNoPump);
  return found;
}

std::optional<X11Geometry> X11Probe::Geometry(unsigned long window) {
  Display* const dpy = static_cast<Display*>(Connection);
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(dpy, window, &attributes))
    return std::nullopt;
  // Without a window manager a top-level window's position is its place on the root window.
  return X11Geometry{attributes.x, attributes.y, attributes.width, attributes.height,
                     attributes.map_state != IsUnmapped};
}

bool X11Probe::SendDeleteWindow(unsigned long window) {
  Display* const dpy = static_cast<Display*>(Connection);
  const Atom deleteWindow = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
  Atom* protocols = nullptr;
  int count = 0;
  if (!XGetWMProtocols(dpy, window, &protocols, &count))
    return false;
  const bool accepted = std::find(protocols, protocols + count, deleteWindow) != protocols + count;
  XFree(protocols);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(deleteWindow);
  event.xclient.data.l[1] = CurrentTime;
  const bool sent = accepted && XSendEvent(dpy, window, False, NoEventMask, &event) != 0;
  XSync(dpy, False);
  return sent;
}

void X11Probe::StopServer() {
  // Closed first: Xlib would end the process on finding its server gone.
  if (Connection != nullptr)
    XCloseDisplay(static_cast<Display*>(Connection));
  Connection = nullptr;
  StopProcess(ServerPid);
}

#else

namespace kwstest {

// Without X11 no server is started, so nothing below is ever asked.
std::unique_ptr<X11Probe> X11Probe::StartPrivateServer() {
  return nullptr;
}
unsigned long X11Probe::FindWindow(const std::string&, std::chrono::milliseconds) {
  return 0;
}
std::optional<X11Geometry> X11Probe::Geometry(unsigned long) {
  return std::nullopt;
}
bool X11Probe::SendDeleteWindow(unsigned long) {
  return false;
}
void X11Probe::StopServer() {
  StopProcess(ServerPid);
}

#endif

} // namespace kwstest
