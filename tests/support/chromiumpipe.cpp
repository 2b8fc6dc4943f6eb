#include "tests/support/chromiumpipe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/textutil.h"

extern char** environ;

namespace {

// The text of a JSON string field in a reply ("key":"value"), without unescaping: the values read here
// (ids, and the numbers Evaluate returns as text) hold no escapes.
std::string Field(const std::string& reply, const std::string& key) {
  const std::string mark = "\"" + key + "\":\"";
  const size_t at = reply.find(mark);
  if (at == std::string::npos) return {};
  const size_t from = at + mark.size();
  return reply.substr(from, reply.find('"', from) - from);
}

}  // namespace

std::string FindChromium() {
  for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser", "/usr/bin/google-chrome"})
    if (access(path, X_OK) == 0) return path;
  return {};
}

std::string FileUrl(const std::string& path) {
  std::string url = "file://";
  for (char c : path) url += c == '/' ? std::string("/") : PercentEncode(std::string(1, c));
  return url;
}

ChromiumPipe::ChromiumPipe(const std::string& chromium, const std::string& profileFolder,
                           const std::vector<std::string>& moreFlags) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("no pipes");
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_adddup2(&files, in[0], 3);
  posix_spawn_file_actions_adddup2(&files, out[1], 4);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args{chromium,
                                "--headless",
                                "--no-sandbox",
                                "--disable-gpu",
                                "--no-first-run",
                                "--remote-debugging-pipe",
                                "--user-data-dir=" + profileFolder,
                                "--window-size=1280,900",
                                "about:blank"};
  args.insert(args.end() - 1, moreFlags.begin(), moreFlags.end());
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const int rc = posix_spawn(&pid_, argv[0], &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  close(in[0]);
  close(out[1]);
  toBrowser_ = in[1];
  fromBrowser_ = out[0];
  if (rc != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + chromium);
  }
  const std::string target =
      Field(Call("Target.createTarget", "{\"url\":\"about:blank\"}", false), "targetId");
  session_ = Field(Call("Target.attachToTarget", "{\"targetId\":\"" + target + "\",\"flatten\":true}", false),
                   "sessionId");
  if (session_.empty()) throw std::runtime_error("chromium gave no page to drive");
}

ChromiumPipe::~ChromiumPipe() {
  if (toBrowser_ >= 0) close(toBrowser_);
  if (fromBrowser_ >= 0) close(fromBrowser_);
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

std::string ChromiumPipe::Call(const std::string& method, const std::string& params, bool toPage) {
  const int id = nextId_++;
  std::string message =
      "{\"id\":" + std::to_string(id) + ",\"method\":\"" + method + "\",\"params\":" + params;
  if (toPage) message += ",\"sessionId\":\"" + session_ + "\"";
  message += "}";
  message.push_back('\0');
  for (size_t done = 0; done < message.size();) {
    const ssize_t n = write(toBrowser_, message.data() + done, message.size() - done);
    if (n <= 0) throw std::runtime_error("chromium stopped reading");
    done += static_cast<size_t>(n);
  }
  // Events come on the same pipe; the reply is the message that begins with this id.
  const std::string start = "{\"id\":" + std::to_string(id) + ",";
  for (;;) {
    const size_t end = pending_.find('\0');
    if (end != std::string::npos) {
      std::string reply = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (reply.rfind(start, 0) == 0) return reply;
      continue;
    }
    pollfd p{fromBrowser_, POLLIN, 0};
    if (poll(&p, 1, 60000) <= 0) throw std::runtime_error("chromium did not answer " + method);
    char buf[65536];
    const ssize_t n = read(fromBrowser_, buf, sizeof buf);
    if (n <= 0) throw std::runtime_error("chromium ended");
    pending_.append(buf, static_cast<size_t>(n));
  }
}

std::string ChromiumPipe::Evaluate(const std::string& expression) {
  std::string quoted = "\"";
  for (char c : expression) quoted += c == '"' ? std::string("\\\"") : std::string(1, c);
  quoted += "\"";
  return Field(Call("Runtime.evaluate", "{\"expression\":" + quoted + ",\"returnByValue\":true}"), "value");
}

std::string ChromiumPipe::LoadTimes(const std::string& url) {
  if (url.find_first_of("'\"\\") != std::string::npos)
    throw std::runtime_error("an address with quotes or backslashes cannot be driven: " + url);
  // From a blank page, so that a load of the same address twice is a new load and not a fragment change.
  Call("Page.navigate", "{\"url\":\"about:blank\"}");
  Call("Page.navigate", "{\"url\":\"" + url + "\"}");
  const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (std::chrono::steady_clock::now() < until) {
    // Page.navigate answers before the new page is there: until then the old one (blank, or the page
    // before it) is what answers.
    const std::string times = Evaluate(
        "(function(){var t=performance.getEntriesByType('navigation')[0];"
        "if(location.href!=='" +
        url +
        "'||document.readyState!=='complete'||!t||t.loadEventEnd<=0)return '';"
        "return t.domContentLoadedEventEnd.toFixed(1)+','+t.loadEventEnd.toFixed(1);})()");
    if (!times.empty()) return times;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  throw std::runtime_error("the page did not load within a minute: " + url);
}

std::string ChromiumPipe::Pictures() {
  for (int tries = 0; tries < 500; ++tries) {
    const std::string state = Evaluate(
        "(function(){var shown=0,broken=0,waiting=0;"
        "for(const i of document.images){if(!i.getClientRects().length)continue;shown++;"
        "if(!i.complete)waiting++;else if(!i.naturalWidth)broken++;}"
        "var away=performance.getEntriesByType('resource').filter(function(e){"
        "return !e.name.startsWith('file:');}).length;"
        "return waiting?'':shown+' '+broken+' '+away;})()");
    if (!state.empty()) return state;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return "pictures still loading after 10 s";
}
