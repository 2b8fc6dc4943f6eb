#include "gui/handover.h"

#include <QObject>
#include <QThread>
#include <exception>

// One hand-over. States move Waiting -> Running -> Done, or Waiting -> Cancelled when the gate shuts
// first; only a call that never began can be cancelled.
struct TMainThreadGate::Call_ {
  enum class State { Waiting, Running, Done, Cancelled };
  std::mutex mutex;
  std::condition_variable changed;
  State state = State::Waiting;
};

bool TMainThreadGate::Call(std::function<void()> step) {
  if (QThread::currentThread() == owner_->thread()) {
    step();
    return true;
  }
  auto call = std::make_shared<Call_>();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    pending_.push_back(call);
  }
  QMetaObject::invokeMethod(
      owner_,
      [this, call, step = std::move(step)] {
        {
          std::lock_guard<std::mutex> lock(call->mutex);
          if (call->state != Call_::State::Waiting) return;
          call->state = Call_::State::Running;
        }
        try {
          step();
        } catch (const std::exception&) {
          // A failing step ends silently, as every handler does; the job learns nothing more.
        }
        {
          std::lock_guard<std::mutex> lock(call->mutex);
          call->state = Call_::State::Done;
        }
        call->changed.notify_all();
        std::lock_guard<std::mutex> lock(mutex_);
        std::erase(pending_, call);
      },
      Qt::QueuedConnection);

  std::unique_lock<std::mutex> lock(call->mutex);
  call->changed.wait(
      lock, [&] { return call->state == Call_::State::Done || call->state == Call_::State::Cancelled; });
  return call->state == Call_::State::Done;
}

void TMainThreadGate::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  for (const auto& call : pending_) {
    {
      std::lock_guard<std::mutex> callLock(call->mutex);
      if (call->state != Call_::State::Waiting) continue;
      call->state = Call_::State::Cancelled;
    }
    call->changed.notify_all();
  }
}

bool TMainThreadGate::Closed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}
