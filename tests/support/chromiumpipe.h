// A headless Chromium driven over its DevTools pipe (--remote-debugging-pipe: commands in on descriptor 3,
// replies out on descriptor 4, each message ended by a NUL byte), so that page loads can be timed inside
// the browser, without the browser's own start, and pages looked into after they loaded. Used by the
// viewer's tests and its benchmark.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// The chromium program of this machine; empty when there is none.
std::string FindChromium();
// The file:// address of an absolute path, every component percent-encoded.
std::string FileUrl(const std::string& path);

// Flags that leave a browser without a network: no name resolves, every connection goes to a closed port.
inline const std::vector<std::string> kNoNetwork{"--host-resolver-rules=MAP * ~NOTFOUND",
                                                 "--proxy-server=127.0.0.1:9"};

class ChromiumPipe {
 public:
  // Starts chromium with a fresh profile in profileFolder and these flags added. Throws std::runtime_error
  // when it cannot.
  ChromiumPipe(const std::string& chromium, const std::string& profileFolder,
               const std::vector<std::string>& moreFlags = {});
  ~ChromiumPipe();
  ChromiumPipe(const ChromiumPipe&) = delete;
  ChromiumPipe& operator=(const ChromiumPipe&) = delete;

  // Opens url (percent-encoded: no quotes or backslashes) and waits (up to a minute) until its load event
  // has ended; returns the page's own navigation timing "domContentLoadedEventEnd,loadEventEnd" in
  // milliseconds. Throws std::runtime_error when the browser does not answer.
  std::string LoadTimes(const std::string& url);

  // The string value of a Runtime.evaluate of expression in the page (the expression must give a string
  // without quotes or backslashes).
  std::string Evaluate(const std::string& expression);

  // "shown broken away" once every picture laid out on the loaded page has loaded or failed: the pictures
  // laid out, those that failed, and the resources the page fetched from anywhere but files.
  std::string Pictures();

 private:
  // Sends a command (params: a JSON object) to the page's session and returns the raw reply.
  std::string Call(const std::string& method, const std::string& params, bool toPage = true);

  pid_t pid_ = -1;
  int toBrowser_ = -1;
  int fromBrowser_ = -1;
  int nextId_ = 1;
  std::string pending_;  // bytes read past the last message
  std::string session_;
};
