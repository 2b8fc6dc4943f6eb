// TDownThread: the worker that runs one job of the window (1 = album list retrieval, 2 = album download).
#pragma once

#include <QThread>
#include <functional>

class TDownThread : public QThread {
  Q_OBJECT

 public:
  // Stores the mode and the job body, then starts at once at the highest priority below time-critical.
  // The thread has no parent and deletes itself (deleteLater, on the main thread) once its body has
  // returned, so whoever keeps a pointer to it must hold it as a QPointer or drop it on finished().
  TDownThread(int mode, std::function<void(int mode)> body);

  const int mode;

 protected:
  // Runs the body with the mode; any mode is handed on, the body decides what it means.
  void run() override;

 private:
  std::function<void(int mode)> body_;
};
