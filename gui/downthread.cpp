#include "gui/downthread.h"

TDownThread::TDownThread(int mode, std::function<void(int mode)> body) : mode(mode), body_(std::move(body)) {
  connect(this, &QThread::finished, this, &QObject::deleteLater);
  start(QThread::HighestPriority);
}

void TDownThread::run() {
  if (body_) body_(mode);
}
