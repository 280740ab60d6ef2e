#include "platform/src/posix/x11display.h"

#include <atomic>
#include <cerrno>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <unordered_map>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kwsplat::posix {
namespace {

using Command = std::function<void()>;

class X11Connection {
public:
  X11Connection(Display* display, const X11Callbacks& callbacks, int wakeRead, int wakeWrite)
      : Dpy(display), Callbacks(callbacks), WakeRead(wakeRead), WakeWrite(wakeWrite) {
    WmProtocols = XInternAtom(Dpy, "WM_PROTOCOLS", False);
    WmDeleteWindow = XInternAtom(Dpy, "WM_DELETE_WINDOW", False);
    NetWmName = XInternAtom(Dpy, "_NET_WM_NAME", False);
    NetWmIcon = XInternAtom(Dpy, "_NET_WM_ICON", False);
    Utf8String = XInternAtom(Dpy, "UTF8_STRING", False);
    XSetIOErrorExitHandler(Dpy, &X11Connection::DisplayLost, this);
  }

  // Any thread. False once the display is gone.
  bool Submit(Command command) {
    {
      std::lock_guard<std::mutex> guard(Lock);
      if (Lost)
        return false;
      Commands.push_back(std::move(command));
    }
    char byte = 1;
    [[maybe_unused]] ssize_t written = write(WakeWrite, &byte, 1);
    return true;
  }

  // The display thread only.
  bool DisplayFailed() const { return IoFailed; }

  void Run() {
    const int server = ConnectionNumber(Dpy);
    for (;;) {
      XFlush(Dpy);
      while (!IoFailed && XEventsQueued(Dpy, QueuedAlready) > 0) {
        XEvent event;
        XNextEvent(Dpy, &event);
        Handle(event);
      }
      if (IoFailed)
        return End();
      pollfd fds[2] = {{server, POLLIN, 0}, {WakeRead, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0)
        continue;
      if (fds[1].revents) {
        char drain[64];
        while (read(WakeRead, drain, sizeof drain) > 0) {
        }
        RunCommands();
      }
      if (fds[0].revents) {
        // An ended server is noticed here, before Xlib reads the end and takes its error path.
        if (ServerGone(server, fds[0].revents))
          return End();
        XEventsQueued(Dpy, QueuedAfterReading);
      }
    }
  }

  void Create(const X11WindowRequest& request) {
    Window root = DefaultRootWindow(Dpy);
    int screen = DefaultScreen(Dpy);
    unsigned width = request.Width > 0 ? static_cast<unsigned>(request.Width) : 1;
    unsigned height = request.Height > 0 ? static_cast<unsigned>(request.Height) : 1;
    Window window = XCreateSimpleWindow(Dpy, root, request.X, request.Y, width, height, 0,
                                        BlackPixel(Dpy, screen), WhitePixel(Dpy, screen));
    XSelectInput(Dpy, window, StructureNotifyMask);

    XSizeHints* size = XAllocSizeHints();
    if (size) {
      size->flags = USPosition | USSize;
      size->x = request.X;
      size->y = request.Y;
      size->width = static_cast<int>(width);
      size->height = static_cast<int>(height);
      XSetWMNormalHints(Dpy, window, size);
      XFree(size);
    }
    XClassHint* hint = XAllocClassHint();
    if (hint) {
      std::string instance = request.InstanceName;
      std::string cls = request.ClassName;
      hint->res_name = instance.data();
      hint->res_class = cls.data();
      XSetClassHint(Dpy, window, hint);
      XFree(hint);
    }
    SetTitle(window, request.Title);
    XSetWMProtocols(Dpy, window, &WmDeleteWindow, 1);
    if (!request.IconArgb.empty()) {
      // Format-32 properties travel as longs in Xlib, whatever their size.
      std::vector<unsigned long> icon;
      icon.reserve(request.IconArgb.size() + 2);
      icon.push_back(static_cast<unsigned long>(request.IconWidth));
      icon.push_back(static_cast<unsigned long>(request.IconHeight));
      for (uint32_t pixel : request.IconArgb)
        icon.push_back(pixel);
      XChangeProperty(Dpy, window, NetWmIcon, XA_CARDINAL, 32, PropModeReplace,
                      reinterpret_cast<unsigned char*>(icon.data()), static_cast<int>(icon.size()));
    }
    XFlush(Dpy);
    ByLayer[request.Window] = window;
    ByDisplay[window] = request.Window;
  }

  void Destroy(uintptr_t layerWindow) {
    auto it = ByLayer.find(layerWindow);
    if (it == ByLayer.end())
      return;
    XDestroyWindow(Dpy, it->second);
    XFlush(Dpy);
    ByDisplay.erase(it->second);
    ByLayer.erase(it);
  }

  void Retitle(uintptr_t layerWindow, const std::string& title) {
    auto it = ByLayer.find(layerWindow);
    if (it != ByLayer.end())
      SetTitle(it->second, title);
    XFlush(Dpy);
  }

  void Show(uintptr_t layerWindow, bool visible) {
    auto it = ByLayer.find(layerWindow);
    if (it == ByLayer.end())
      return;
    if (visible)
      XMapWindow(Dpy, it->second);
    else
      XUnmapWindow(Dpy, it->second);
    XFlush(Dpy);
  }

private:
  static bool ServerGone(int server, short revents) {
    if (revents & (POLLHUP | POLLERR))
      return true;
    char byte;
    ssize_t got = recv(server, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
  }

  static void DisplayLost(Display*, void* self) {
    // Returning (instead of exiting, Xlib's default) leaves the connection unusable; Run notices.
    static_cast<X11Connection*>(self)->IoFailed = true;
  }

  static std::string Latin1ToUtf8(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
      if (c < 0x80) {
        out += static_cast<char>(c);
      } else {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    return out;
  }

  void SetTitle(Window window, const std::string& title) {
    XStoreName(Dpy, window, title.c_str()); // WM_NAME is Latin-1 (STRING)
    std::string utf8 = Latin1ToUtf8(title);
    XChangeProperty(Dpy, window, NetWmName, Utf8String, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(utf8.data()), static_cast<int>(utf8.size()));
  }

  void RunCommands() {
    std::deque<Command> batch;
    {
      std::lock_guard<std::mutex> guard(Lock);
      batch.swap(Commands);
    }
    for (Command& command : batch)
      command();
  }

  void Handle(const XEvent& event) {
    if (event.type != ClientMessage || event.xclient.message_type != WmProtocols ||
        static_cast<Atom>(event.xclient.data.l[0]) != WmDeleteWindow)
      return;
    auto it = ByDisplay.find(event.xclient.window);
    if (it != ByDisplay.end())
      Callbacks.OnClose(it->second);
  }

  void End() {
    std::deque<Command> orphans;
    {
      std::lock_guard<std::mutex> guard(Lock);
      Lost = true;
      orphans.swap(Commands);
    }
    // Commands still queued run against the lost flag only (X11Create answers false).
    for (Command& command : orphans)
      command();
    Callbacks.OnLost();
  }

  Display* const Dpy;
  const X11Callbacks Callbacks;
  const int WakeRead;
  const int WakeWrite;
  Atom WmProtocols, WmDeleteWindow, NetWmName, NetWmIcon, Utf8String;
  bool IoFailed = false;                           // the display thread only
  std::unordered_map<uintptr_t, Window> ByLayer;   // the display thread only
  std::unordered_map<Window, uintptr_t> ByDisplay; // the display thread only

  std::mutex Lock; // guards Commands, Lost
  std::deque<Command> Commands;
  bool Lost = false;
};

std::atomic<X11Connection*> gConnection{nullptr}; // set once, never freed: the thread may outlive main

int IgnoreProtocolErrors(Display*, XErrorEvent*) {
  return 0;
}
int QuietIoError(Display*) {
  return 0;
}

} // namespace

bool X11Start(const X11Callbacks& callbacks) {
  if (gConnection.load())
    return true;
  Display* display = XOpenDisplay(nullptr);
  if (!display)
    return false;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    XCloseDisplay(display);
    return false;
  }
  // Xlib's defaults end the process on any error; a window server problem must not end a server.
  XSetErrorHandler(IgnoreProtocolErrors);
  XSetIOErrorHandler(QuietIoError);
  fcntl(ConnectionNumber(display), F_SETFD, FD_CLOEXEC);
  auto* connection = new X11Connection(display, callbacks, pipeFds[0], pipeFds[1]);
  gConnection = connection;
  std::thread([connection] { connection->Run(); }).detach();
  return true;
}

// Hands work to the display thread and waits for it, so a window call has taken effect on return.
// False when the display is gone.
template <class Work> bool RunOnDisplay(Work work) {
  X11Connection* connection = gConnection.load();
  if (!connection)
    return false;
  auto done = std::make_shared<std::promise<bool>>();
  std::future<bool> finished = done->get_future();
  bool queued = connection->Submit([connection, work, done] {
    if (connection->DisplayFailed()) {
      done->set_value(false);
      return;
    }
    work(*connection);
    done->set_value(!connection->DisplayFailed());
  });
  return queued && finished.get();
}

bool X11Create(const X11WindowRequest& request) {
  return RunOnDisplay([&request](X11Connection& connection) { connection.Create(request); });
}

void X11Destroy(uintptr_t window) {
  RunOnDisplay([window](X11Connection& connection) { connection.Destroy(window); });
}

void X11SetTitle(uintptr_t window, const std::string& title) {
  RunOnDisplay([window, &title](X11Connection& connection) { connection.Retitle(window, title); });
}

void X11Show(uintptr_t window, bool visible) {
  RunOnDisplay([window, visible](X11Connection& connection) { connection.Show(window, visible); });
}

} // namespace kwsplat::posix
