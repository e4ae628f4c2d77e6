// The one thread the host's remote calls run on, for as long as the platform lives.
//
// A remote call blocks (it waits on the server); the window's thread must not, so the call runs
// here while the window keeps painting (QtPlatform::RunRemoteCall). One thread, made with the
// first call and kept, rather than a thread per call: a call costs no thread start, and calls
// run one at a time and in order, as they would on the one connection they share.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace hostapp {

class CallThread {
 public:
  CallThread() = default;
  // Waits for the task in hand, then ends the thread. Tasks not begun are dropped: the platform
  // waits for each call it posts, so none is left when it goes.
  ~CallThread();
  CallThread(const CallThread&) = delete;
  CallThread& operator=(const CallThread&) = delete;

  // Runs `task` on the thread, after those posted before it; returns at once. The task must not
  // throw (RunRemoteCall's wrapper catches what the call raises).
  void Post(std::function<void()> task);
  // The thread's id; a default id until the first Post.
  std::thread::id Id() const;

 private:
  void Run();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace hostapp
