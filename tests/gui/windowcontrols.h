// The window's controls, found as a person finds them: by their names.
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

#include "gui/webpane.h"

// The window's child of that type and name. A window without it ends the run at once, naming it: every
// caller would go on to use it.
template <typename T, typename Window>
T* Child(const Window& win, const char* name) {
  T* child = win->template findChild<T*>(QString::fromLatin1(name));
  if (child == nullptr) {
    std::fprintf(stderr, "the window has no control %s\n", name);
    std::abort();
  }
  return child;
}

template <typename Window>
QPushButton* Button(const Window& win, const char* name) {
  return Child<QPushButton>(win, name);
}
template <typename Window>
QLineEdit* Edit(const Window& win, const char* name) {
  return Child<QLineEdit>(win, name);
}
template <typename Window>
TWebPane* Pane(const Window& win, const char* name) {
  return Child<TWebPane>(win, name);
}
