#include "tests/support/X11Probe.h"
#include "tests/support/Wait.h"

#include <signal.h>

#include <algorithm>
#include <cstdio>
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

// The shell says its process number and becomes Xvfb, which picks a free display itself and names it once
// it is ready.
std::unique_ptr<X11Probe> X11Probe::StartPrivateServer() {
  if (!std::filesystem::exists("/usr/bin/Xvfb"))
    return nullptr;
  std::unique_ptr<X11Probe> probe(new X11Probe());
  probe->Server =
      popen("echo $$; exec /usr/bin/Xvfb -displayfd 1 -screen 0 800x600x24 -nolisten tcp -noreset "
            "2>/dev/null </dev/null",
            "re");
  char line[32];
  if (probe->Server == nullptr || !fgets(line, sizeof line, probe->Server))
    return nullptr;
  probe->ServerPid = std::atoi(line);
  if (!fgets(line, sizeof line, probe->Server))
    return nullptr; // the destructor stops the server
  probe->Name = ":" + std::string(line, std::strcspn(line, "\n"));
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  probe->Connection = XOpenDisplay(probe->Name.c_str());
  return probe->Connection != nullptr ? std::move(probe) : nullptr;
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
  if (Server == nullptr)
    return;
  if (ServerPid > 0)
    kill(ServerPid, SIGTERM);
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
