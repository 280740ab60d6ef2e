// One request as a plug-in names it in its calls back to the server. The plug-in holds only an opaque
// handle; a handle whose request has ended finds nothing, so a late call is dropped instead of reaching a
// connection that is gone.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class tWSIOBase;

class tPluginSession {
public:
  explicit tPluginSession(tWSIOBase& producer);
  virtual ~tPluginSession();
  tPluginSession(const tPluginSession&) = delete;
  tPluginSession& operator=(const tPluginSession&) = delete;

  // Makes a session and enters it under a new handle.
  template <class tSession, class... tArgs> static std::shared_ptr<tSession> Make(tArgs&&... args) {
    auto session = std::make_shared<tSession>(std::forward<tArgs>(args)...);
    session->Enter(session);
    return session;
  }
  // The session a handle names, while it exists and is of that kind.
  template <class tSession> static std::shared_ptr<tSession> Find(void* handle) {
    return std::dynamic_pointer_cast<tSession>(FindAny(handle));
  }

  // Never reused while the process runs, so a stale handle is never taken for a newer request.
  void* Handle() const { return reinterpret_cast<void*>(Id); }
  // Runs the work with the request's producer while its connection lasts; false, without running it,
  // afterwards.
  bool Use(const std::function<void(tWSIOBase&)>& work);
  // On the connection's worker before it is torn down: Use runs no more, and a Use in progress on another
  // thread has returned when this does.
  void End();

private:
  void Enter(const std::shared_ptr<tPluginSession>& self);
  static std::shared_ptr<tPluginSession> FindAny(void* handle);

  const uintptr_t Id;
  std::mutex Lock; // guards Producer and InFlight
  std::condition_variable Idle;
  tWSIOBase* Producer; // borrowed; nullptr once the session ended
  int InFlight = 0;    // Use calls running
};
