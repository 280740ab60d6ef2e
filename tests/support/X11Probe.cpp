#include "tests/support/X11Probe.h"
#include "tests/support/Wait.h"

#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace kwstest {
constexpr tPump kNoPump = tPump::None; // named before Xlib makes None a macro
} // namespace kwstest

#ifdef KWS_TEST_HAVE_X11
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace kwstest {

// The shell says its process number and becomes Xvfb, which picks a free display and names it once ready.
std::unique_ptr<X11Probe> X11Probe::StartPrivateServer() {
  if (!std::filesystem::exists("/usr/bin/Xvfb"))
    return nullptr;
  std::unique_ptr<X11Probe> probe(new X11Probe());
  probe->Server =
      popen("echo $$; exec /usr/bin/Xvfb -displayfd 1 -screen 0 800x600x24 -nolisten tcp -noreset "
            "2>/dev/null </dev/null",
            "re");
  char pid[32], display[32];
  if (probe->Server == nullptr || !fgets(pid, sizeof pid, probe->Server) ||
      !fgets(display, sizeof display, probe->Server))
    return nullptr; // the destructor stops the server
  probe->ServerPid = std::atoi(pid);
  probe->Name = ":" + std::string(display, std::strcspn(display, "\n"));
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  probe->Connection = XOpenDisplay(probe->Name.c_str());
  return probe->Connection != nullptr ? std::move(probe) : nullptr;
}

unsigned long X11Probe::FindWindow(const std::string& title, std::chrono::milliseconds timeout) {
  Display* const dpy = static_cast<Display*>(Connection);
  Window found = 0;
  WaitUntil(
      [&] {
        Window root, parent, *children = nullptr;
        unsigned int count = 0;
        XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count);
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
  XWindowAttributes a;
  if (!XGetWindowAttributes(static_cast<Display*>(Connection), window, &a))
    return std::nullopt;
  return X11Geometry{a.x, a.y, a.width, a.height, a.map_state != IsUnmapped};
}

bool X11Probe::SendDeleteWindow(unsigned long window) {
  Display* const dpy = static_cast<Display*>(Connection);
  const Atom deleteWindow = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
  Atom* protocols = nullptr;
  int count = 0;
  const bool listed = XGetWMProtocols(dpy, window, &protocols, &count) &&
                      std::find(protocols, protocols + count, deleteWindow) != protocols + count;
  XFree(protocols);
  XEvent event{};
  event.xclient = {ClientMessage, 0, False, dpy, window, XInternAtom(dpy, "WM_PROTOCOLS", False), 32, {}};
  event.xclient.data.l[0] = static_cast<long>(deleteWindow);
  event.xclient.data.l[1] = CurrentTime;
  const bool sent = listed && XSendEvent(dpy, window, False, NoEventMask, &event) != 0;
  XSync(dpy, False);
  return sent;
}

void X11Probe::StopServer() {
  // Closed first: Xlib would end the process on finding its server gone.
  if (Connection != nullptr)
    XCloseDisplay(static_cast<Display*>(Connection));
  Connection = nullptr;
  if (Server != nullptr && ServerPid > 0)
    kill(ServerPid, SIGTERM);
  if (Server != nullptr)
    pclose(Server);
  Server = nullptr;
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
void X11Probe::StopServer() {}

#endif

} // namespace kwstest
