#include "tests/support/X11Probe.h"

#include <filesystem>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef KWS_TEST_HAVE_X11
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#endif

namespace kwstest {

namespace {

constexpr const char* kXvfb = "/usr/bin/Xvfb";
using Clock = std::chrono::steady_clock;

#ifdef KWS_TEST_HAVE_X11
// Starts Xvfb, which picks a free display itself and reports its number on a pipe.
int SpawnServer(std::string& displayName) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 3); // dup2 clears close-on-exec on the copy
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
    }
    execl(kXvfb, kXvfb, "-displayfd", "3", "-screen", "0", "800x600x24", "-nolisten", "tcp", "-noreset",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return -1;
  }
  std::string number;
  auto deadline = Clock::now() + std::chrono::seconds(15);
  while (Clock::now() < deadline) {
    pollfd fd{fds[0], POLLIN, 0};
    if (poll(&fd, 1, 100) <= 0)
      continue;
    char buffer[32];
    ssize_t got = read(fds[0], buffer, sizeof buffer);
    if (got <= 0)
      break;
    number.append(buffer, static_cast<size_t>(got));
    if (number.find('\n') != std::string::npos)
      break;
  }
  close(fds[0]);
  while (!number.empty() && (number.back() == '\n' || number.back() == '\r'))
    number.pop_back();
  if (number.empty()) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  displayName = ":" + number;
  return pid;
}
#endif

void StopProcess(int& pid) {
  if (pid <= 0)
    return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) {
      pid = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

#ifdef KWS_TEST_HAVE_X11

int IgnoreErrors(Display*, XErrorEvent*) {
  return 0;
}

Display* AsDisplay(void* connection) {
  return static_cast<Display*>(connection);
}

std::string Property(Display* dpy, Window window, const char* name, Atom type) {
  Atom property = XInternAtom(dpy, name, False);
  Atom actualType;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::string result;
  if (XGetWindowProperty(dpy, window, property, 0, 1 << 20, False, type, &actualType, &format, &count, &after,
                         &data) == Success &&
      data && format == 8)
    result.assign(reinterpret_cast<char*>(data), count);
  if (data)
    XFree(data);
  return result;
}

#endif

} // namespace

#ifdef KWS_TEST_HAVE_X11

std::unique_ptr<X11Probe> X11Probe::StartPrivateServer() {
  if (!std::filesystem::exists(kXvfb))
    return nullptr;
  std::unique_ptr<X11Probe> probe(new X11Probe());
  probe->ServerPid = SpawnServer(probe->Name);
  if (probe->ServerPid < 0)
    return nullptr;
  XSetErrorHandler(IgnoreErrors);
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (!probe->Connection && Clock::now() < deadline) {
    probe->Connection = XOpenDisplay(probe->Name.c_str());
    if (!probe->Connection)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!probe->Connection)
    return nullptr; // the destructor stops the server
  return probe;
}

X11Probe::~X11Probe() {
  StopServer();
}

unsigned long X11Probe::FindWindow(const std::string& title, std::chrono::milliseconds timeout) {
  Display* dpy = AsDisplay(Connection);
  auto deadline = Clock::now() + timeout;
  for (;;) {
    Window root, parent;
    Window* children = nullptr;
    unsigned int count = 0;
    Window found = 0;
    if (XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count)) {
      for (unsigned int i = 0; i < count && !found; ++i) {
        std::string name = NetWmName(children[i]);
        if (name.empty())
          name = WmName(children[i]);
        if (name == title)
          found = children[i];
      }
      if (children)
        XFree(children);
    }
    if (found || Clock::now() >= deadline)
      return found;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool X11Probe::WaitForWindowGone(unsigned long window, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (Geometry(window)) {
    if (Clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::optional<X11Geometry> X11Probe::Geometry(unsigned long window) {
  Display* dpy = AsDisplay(Connection);
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(dpy, window, &attributes))
    return std::nullopt;
  Window child;
  int x = 0, y = 0;
  XTranslateCoordinates(dpy, window, DefaultRootWindow(dpy), 0, 0, &x, &y, &child);
  return X11Geometry{x - attributes.border_width, y - attributes.border_width, attributes.width,
                     attributes.height};
}

std::string X11Probe::NetWmName(unsigned long window) {
  Display* dpy = AsDisplay(Connection);
  return Property(dpy, window, "_NET_WM_NAME", XInternAtom(dpy, "UTF8_STRING", False));
}

std::string X11Probe::WmName(unsigned long window) {
  return Property(AsDisplay(Connection), window, "WM_NAME", XA_STRING);
}

std::pair<std::string, std::string> X11Probe::WmClass(unsigned long window) {
  XClassHint hint{};
  if (!XGetClassHint(AsDisplay(Connection), window, &hint))
    return {};
  std::pair<std::string, std::string> result{hint.res_name ? hint.res_name : "",
                                             hint.res_class ? hint.res_class : ""};
  if (hint.res_name)
    XFree(hint.res_name);
  if (hint.res_class)
    XFree(hint.res_class);
  return result;
}

std::optional<std::pair<int, int>> X11Probe::IconSize(unsigned long window) {
  Display* dpy = AsDisplay(Connection);
  Atom property = XInternAtom(dpy, "_NET_WM_ICON", False);
  Atom actualType;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::optional<std::pair<int, int>> result;
  if (XGetWindowProperty(dpy, window, property, 0, 2, False, XA_CARDINAL, &actualType, &format, &count,
                         &after, &data) == Success &&
      data && format == 32 && count == 2) {
    auto* values = reinterpret_cast<unsigned long*>(data);
    result = std::make_pair(static_cast<int>(values[0]), static_cast<int>(values[1]));
  }
  if (data)
    XFree(data);
  return result;
}

bool X11Probe::HasUserPositionAndSize(unsigned long window) {
  XSizeHints hints{};
  long supplied = 0;
  if (!XGetWMNormalHints(AsDisplay(Connection), window, &hints, &supplied))
    return false;
  return (hints.flags & (USPosition | USSize)) == (USPosition | USSize);
}

bool X11Probe::AcceptsDeleteWindow(unsigned long window) {
  Display* dpy = AsDisplay(Connection);
  Atom* protocols = nullptr;
  int count = 0;
  if (!XGetWMProtocols(dpy, window, &protocols, &count))
    return false;
  Atom deleteWindow = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
  bool found = false;
  for (int i = 0; i < count; ++i)
    found = found || protocols[i] == deleteWindow;
  XFree(protocols);
  return found;
}

bool X11Probe::IsMapped(unsigned long window) {
  XWindowAttributes attributes;
  return XGetWindowAttributes(AsDisplay(Connection), window, &attributes) &&
         attributes.map_state != IsUnmapped;
}

bool X11Probe::SendDeleteWindow(unsigned long window) {
  Display* dpy = AsDisplay(Connection);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  bool sent = XSendEvent(dpy, window, False, NoEventMask, &event) != 0;
  XSync(dpy, False);
  return sent;
}

void X11Probe::StopServer() {
  // Closed first: Xlib would end the process on finding its server gone.
  if (Connection)
    XCloseDisplay(AsDisplay(Connection));
  Connection = nullptr;
  StopProcess(ServerPid);
}

#else

std::unique_ptr<X11Probe> X11Probe::StartPrivateServer() {
  return nullptr;
}
X11Probe::~X11Probe() {
  StopProcess(ServerPid);
}
unsigned long X11Probe::FindWindow(const std::string&, std::chrono::milliseconds) {
  return 0;
}
bool X11Probe::WaitForWindowGone(unsigned long, std::chrono::milliseconds) {
  return false;
}
std::optional<X11Geometry> X11Probe::Geometry(unsigned long) {
  return std::nullopt;
}
std::string X11Probe::NetWmName(unsigned long) {
  return {};
}
std::string X11Probe::WmName(unsigned long) {
  return {};
}
std::pair<std::string, std::string> X11Probe::WmClass(unsigned long) {
  return {};
}
std::optional<std::pair<int, int>> X11Probe::IconSize(unsigned long) {
  return std::nullopt;
}
bool X11Probe::HasUserPositionAndSize(unsigned long) {
  return false;
}
bool X11Probe::AcceptsDeleteWindow(unsigned long) {
  return false;
}
bool X11Probe::IsMapped(unsigned long) {
  return false;
}
bool X11Probe::SendDeleteWindow(unsigned long) {
  return false;
}
void X11Probe::StopServer() {
  StopProcess(ServerPid);
}

#endif

} // namespace kwstest
