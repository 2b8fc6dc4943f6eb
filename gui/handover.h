// The hand-over from a worker thread to the main thread: a step runs on the main thread while the worker
// waits for it. Once the window closes the gate is shut: further steps are refused, and steps that were
// handed over but never began are cancelled, so a worker can never leave while its step still runs with
// references into its stack, nor wait for a main thread that will never serve it.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QObject;

class TMainThreadGate {
 public:
  // owner lives on the main thread; steps are queued to it.
  explicit TMainThreadGate(QObject* owner) : owner_(owner) {}

  // Runs step on the owner's thread and waits for it; from that thread it runs directly. False, without
  // running it, once the gate is shut. A step that has begun is always waited for to its end.
  bool Call(std::function<void()> step);
  // Shuts the gate (see above). Safe to call more than once.
  void Close();
  bool Closed();

 private:
  struct Call_;
  QObject* owner_;
  std::mutex mutex_;
  bool closed_ = false;
  std::vector<std::shared_ptr<Call_>> pending_;
};
