#pragma once
// Where a second start of the program reaches the running one (the requests of Requests.h):
// beside the instance guard, so only the guard's holder listens and only the same user can
// ask. Each system's folder carries it its own way (linux/RequestSocket.h, win32/Win32MainLoop.h).

#include <functional>
#include <string>

class IRequestChannel {
 public:
  // Gets a request line and gives the reply line (Requests.h).
  using Handler = std::function<std::string(const std::string& request)>;

  virtual ~IRequestChannel() = default;
  // Main thread, holding the instance guard, once start-up is done. From now on each request
  // is answered by `handler` on the main thread, from the loop. False when the channel cannot
  // be opened; that is logged once, with the reason, and the server runs without it.
  virtual bool Open(Handler handler) = 0;
  // Main thread, before the guard is let go. Nothing is answered after this.
  virtual void Close() = 0;
};
