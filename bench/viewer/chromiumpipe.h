// A headless Chromium driven over its DevTools pipe (--remote-debugging-pipe: commands in on descriptor 3,
// replies out on descriptor 4, each message ended by a NUL byte), so that page loads can be timed inside
// the browser, without the browser's own start.
#pragma once

#include <sys/types.h>

#include <string>

class ChromiumPipe {
 public:
  // Starts chromium with a fresh profile in profileFolder. Throws std::runtime_error when it cannot.
  ChromiumPipe(const std::string& chromium, const std::string& profileFolder);
  ~ChromiumPipe();
  ChromiumPipe(const ChromiumPipe&) = delete;
  ChromiumPipe& operator=(const ChromiumPipe&) = delete;

  // Opens url in the page and waits (up to a minute) until its load event has ended; returns the page's
  // own navigation timing "domContentLoadedEventEnd,loadEventEnd" in milliseconds. Throws
  // std::runtime_error when the browser does not answer.
  std::string LoadTimes(const std::string& url);

 private:
  // Sends a command (params: a JSON object) to the page's session and returns the raw reply.
  std::string Call(const std::string& method, const std::string& params, bool toPage = true);
  // The string value of a Runtime.evaluate of expression in the page.
  std::string Evaluate(const std::string& expression);

  pid_t pid_ = -1;
  int toBrowser_ = -1;
  int fromBrowser_ = -1;
  int nextId_ = 1;
  std::string pending_;  // bytes read past the last message
  std::string session_;
};
