#include "app/browser/fetchtofile.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <random>
#include <string_view>

namespace {

constexpr long kMaxRedirects = 10;
// How often the transfer loop looks at the abort flag while the network is quiet.
constexpr int kAbortPollMs = 50;
constexpr const char* kBuiltInUserAgent = "Mozilla/5.0 (compatible; Lorvanta/0.1)";

std::once_flag globalInitOnce;

// The transfer handles of one thread. The multi handle keeps the connection cache, so a reused easy handle
// on it keeps connections to a photo host open between fetches.
class ThreadHandles {
 public:
  ThreadHandles() : multi_(curl_multi_init()), easy_(curl_easy_init()) {}
  ~ThreadHandles() {
    if (easy_) curl_easy_cleanup(easy_);
    if (multi_) curl_multi_cleanup(multi_);
  }
  ThreadHandles(const ThreadHandles&) = delete;
  ThreadHandles& operator=(const ThreadHandles&) = delete;

  CURLM* multi() const { return multi_; }
  CURL* easy() const { return easy_; }

 private:
  CURLM* multi_;
  CURL* easy_;
};

thread_local std::unique_ptr<ThreadHandles> handlesOfThisThread;

ThreadHandles& HandlesOfThisThread() {
  if (!handlesOfThisThread) handlesOfThisThread = std::make_unique<ThreadHandles>();
  return *handlesOfThisThread;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() &&
         (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
    text.remove_suffix(1);
  return text;
}

// Retry-After in its seconds form; -1 for the date form or anything malformed.
long ParseRetryAfter(std::string_view value) {
  if (value.empty() || value.size() > 18) return -1;
  long long seconds = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return -1;
    seconds = seconds * 10 + (c - '0');
  }
  return seconds > std::numeric_limits<long>::max() ? std::numeric_limits<long>::max()
                                                    : static_cast<long>(seconds);
}

// State shared with the transfer callbacks of one fetch.
struct Transfer {
  int fd = -1;
  long long bytes = 0;
  bool writeFailed = false;
  int writeErrno = 0;
  const std::atomic<bool>* abort = nullptr;
  bool abortSeen = false;
  // Headers of the response being received; a new status line (after a redirect) starts over.
  long long lastModified = -1;
  long retryAfterSeconds = -1;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t total = size * count;
  size_t done = 0;
  while (done < total) {
    const ssize_t n = ::write(transfer->fd, data + done, total - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      transfer->writeFailed = true;
      transfer->writeErrno = errno;
      return 0;  // makes the transfer fail with a write error
    }
    done += static_cast<size_t>(n);
  }
  transfer->bytes += static_cast<long long>(total);
  return total;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t total = size * count;
  const std::string_view line(data, total);
  if (line.rfind("HTTP/", 0) == 0) {
    transfer->lastModified = -1;
    transfer->retryAfterSeconds = -1;
    return total;
  }
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return total;
  const std::string_view name = TrimBlanks(line.substr(0, colon));
  const std::string_view value = TrimBlanks(line.substr(colon + 1));
  if (EqualsIgnoringCase(name, "Retry-After")) {
    transfer->retryAfterSeconds = ParseRetryAfter(value);
  } else if (EqualsIgnoringCase(name, "Last-Modified")) {
    // curl_getdate needs a terminated string; header values are short.
    char date[128];
    if (value.size() < sizeof date) {
      std::memcpy(date, value.data(), value.size());
      date[value.size()] = '\0';
      const time_t when = curl_getdate(date, nullptr);
      transfer->lastModified = when < 0 ? -1 : static_cast<long long>(when);
    }
  }
  return total;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* transfer = static_cast<Transfer*>(user);
  if (transfer->abort && transfer->abort->load(std::memory_order_relaxed)) {
    transfer->abortSeen = true;
    return 1;  // ends the transfer with CURLE_ABORTED_BY_CALLBACK
  }
  return 0;
}

// A name for the temporary file in the target's folder that no other fetch, in this process or another,
// uses at the same time. Not derived from the target name, so long target names cannot make it too long.
std::string TemporaryName(unsigned attempt) {
  static std::atomic<unsigned long long> counter{0};
  thread_local std::mt19937_64 random{std::random_device{}()};
  char name[96];
  std::snprintf(name, sizeof name, ".lorvanta-fetch-%ld-%llu-%u-%016llx.part", static_cast<long>(::getpid()),
                counter.fetch_add(1), attempt, static_cast<unsigned long long>(random()));
  return name;
}

// Creates the temporary file beside target; the descriptor, or -1 with errno set.
int CreateTemporaryBeside(const std::string& target, std::string& tempPath) {
  std::filesystem::path folder = std::filesystem::path(target).parent_path();
  if (folder.empty()) folder = ".";
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    tempPath = (folder / TemporaryName(attempt)).string();
    // 0666 under the umask: the finished file gets the same rights as any file the user creates.
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

std::string SystemError(int code) {
  return std::strerror(code);
}

// Plain words for a failed transfer; the library's own detail follows in parentheses when it has one.
std::string TransferErrorText(CURLcode code, const char* detail) {
  std::string words;
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
      words = "the address is not an http or https address";
      break;
    case CURLE_URL_MALFORMAT:
      words = "the address is malformed";
      break;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      words = "the server name could not be resolved";
      break;
    case CURLE_COULDNT_CONNECT:
      words = "could not connect to the server";
      break;
    case CURLE_OPERATION_TIMEDOUT:
      words = "the server did not answer in time";
      break;
    case CURLE_PARTIAL_FILE:
      words = "the reply was cut short";
      break;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
      words = "the connection was lost";
      break;
    case CURLE_TOO_MANY_REDIRECTS:
      words = "too many redirects";
      break;
    case CURLE_ABORTED_BY_CALLBACK:
      words = "the fetch was stopped";
      break;
    default:
      words = curl_easy_strerror(code);
      break;
  }
  if (detail && *detail) words += std::string(" (") + detail + ")";
  return words;
}

// Sets up the handle for one fetch; false when the library refuses an option.
bool Configure(CURL* easy, const std::string& url, const FetchOptions& options, Transfer& transfer,
               char* errorBuffer) {
  curl_easy_reset(easy);
  bool ok = true;
  auto set = [&ok](CURLcode code) { ok = ok && code == CURLE_OK; };
  set(curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer));
  set(curl_easy_setopt(easy, CURLOPT_URL, url.c_str()));
  // Addresses come from remote replies: never let one (or a redirect) read local files or talk other
  // protocols.
  set(curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https"));
  set(curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
  set(curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L));
  set(curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L));
  set(curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects));
  set(curl_easy_setopt(easy, CURLOPT_AUTOREFERER, 1L));
  set(curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                       options.connectTimeoutMs > 0 ? options.connectTimeoutMs : 0L));
  if (options.lowSpeedTimeSec > 0) {
    set(curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L));
    set(curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, options.lowSpeedTimeSec));
  }
  if (options.totalTimeoutMs > 0) set(curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, options.totalTimeoutMs));
  if (options.maxRecvBytesPerSecond > 0) {
    set(curl_easy_setopt(easy, CURLOPT_MAX_RECV_SPEED_LARGE,
                         static_cast<curl_off_t>(options.maxRecvBytesPerSecond)));
  }
  const std::string& agent = options.userAgent.empty() ? std::string(kBuiltInUserAgent) : options.userAgent;
  set(curl_easy_setopt(easy, CURLOPT_USERAGENT, agent.c_str()));  // copied by the library
  set(curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody));
  set(curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer));
  set(curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader));
  set(curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer));
  set(curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L));
  set(curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, OnProgress));
  set(curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer));
  return ok;
}

// Runs the configured transfer to its end. The loop wakes often enough to notice the abort flag promptly
// even while the server sends nothing.
CURLcode Perform(CURLM* multi, CURL* easy, Transfer& transfer) {
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) return CURLE_FAILED_INIT;
  CURLcode result = CURLE_OK;
  bool finished = false;
  while (!finished) {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      result = CURLE_FAILED_INIT;
      break;
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
        result = message->data.result;
        finished = true;
      }
    }
    if (finished) break;
    if (transfer.abort && transfer.abort->load(std::memory_order_relaxed)) {
      transfer.abortSeen = true;
      result = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    if (curl_multi_poll(multi, nullptr, 0, kAbortPollMs, nullptr) != CURLM_OK) {
      result = CURLE_FAILED_INIT;
      break;
    }
  }
  curl_multi_remove_handle(multi, easy);
  return result;
}

void FetchInto(const std::string& url, const std::string& file, const FetchOptions& options,
               FetchReport& report, std::string& tempPath, int& fd) {
  if (url.empty()) {
    report.error = "no address to fetch";
    return;
  }
  if (file.empty()) {
    report.error = "no file to fetch into";
    return;
  }
  if (options.abort && options.abort->load()) {
    report.aborted = true;
    report.curlCode = CURLE_ABORTED_BY_CALLBACK;
    report.error = "the fetch was stopped";
    return;
  }
  FetchGlobalInit();
  ThreadHandles& handles = HandlesOfThisThread();
  if (!handles.multi() || !handles.easy()) {
    report.curlCode = CURLE_FAILED_INIT;
    report.error = "the transfer library could not start";
    return;
  }

  fd = CreateTemporaryBeside(file, tempPath);
  if (fd < 0) {
    report.error = "cannot create a file beside " + file + ": " + SystemError(errno);
    tempPath.clear();
    return;
  }

  Transfer transfer;
  transfer.fd = fd;
  transfer.abort = options.abort;
  char errorBuffer[CURL_ERROR_SIZE] = {};
  CURL* easy = handles.easy();
  if (!Configure(easy, url, options, transfer, errorBuffer)) {
    report.curlCode = CURLE_FAILED_INIT;
    report.error = "the transfer could not be set up";
    return;
  }
  const CURLcode code = Perform(handles.multi(), easy, transfer);

  report.curlCode = static_cast<int>(code);
  report.bytes = transfer.bytes;
  report.lastModified = transfer.lastModified;
  report.retryAfterSeconds = transfer.retryAfterSeconds;
  long status = 0;
  if (curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK) report.httpStatus = status;
  curl_off_t length = -1;
  if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK)
    report.contentLength = length;
  const char* type = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type) report.contentType = type;
  // The handle stays with the thread; nothing of this fetch may point into it afterwards.
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);

  if (transfer.abortSeen || code == CURLE_ABORTED_BY_CALLBACK) {
    report.aborted = true;
    report.error = "the fetch was stopped";
    return;
  }
  if (transfer.writeFailed) {
    report.error = "cannot write " + tempPath + ": " + SystemError(transfer.writeErrno);
    return;
  }
  if (code != CURLE_OK) {
    report.timedOut = code == CURLE_OPERATION_TIMEDOUT;
    report.error = TransferErrorText(code, errorBuffer);
    return;
  }
  if (report.httpStatus >= 400) {
    report.error = "the server answered " + std::to_string(report.httpStatus);
    return;
  }
  if (report.httpStatus < 200 || report.httpStatus >= 300) {
    // A redirect without a usable target (or an interim answer) is not the resource asked for.
    report.error = "the server answered " + std::to_string(report.httpStatus) + " without the content";
    return;
  }
  if (report.contentLength >= 0 && report.bytes != report.contentLength) {
    report.error = "the reply was cut short (" + std::to_string(report.bytes) + " of " +
                   std::to_string(report.contentLength) + " bytes)";
    return;
  }

  if (options.keepServerTime && report.lastModified >= 0) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(report.lastModified), 0}};
    ::futimens(fd, times);  // a file without the server's time is still a good file
  }
  if (::close(fd) != 0) {
    fd = -1;
    report.error = "cannot write " + tempPath + ": " + SystemError(errno);
    return;
  }
  fd = -1;
  if (options.accept && !options.accept(tempPath, report)) {
    report.error = "the reply was rejected";
    return;
  }
  if (std::rename(tempPath.c_str(), file.c_str()) != 0) {
    report.error = "cannot replace " + file + ": " + SystemError(errno);
    return;
  }
  tempPath.clear();
  report.ok = true;
}

}  // namespace

void FetchGlobalInit() {
  std::call_once(globalInitOnce, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

FetchReport FetchToFileReport(const std::string& url, const std::string& file, const FetchOptions& options) {
  FetchReport report;
  std::string tempPath;
  int fd = -1;
  try {
    FetchInto(url, file, options, report, tempPath, fd);
  } catch (const std::exception& e) {
    // Out of memory, or an accept callback that threw: a failed fetch, never an exception for the job.
    report.ok = false;
    report.error = std::string("the fetch failed: ") + e.what();
  }
  if (fd >= 0) ::close(fd);
  if (!tempPath.empty()) ::unlink(tempPath.c_str());
  if (report.ok) report.error.clear();
  return report;
}

void FetchReleaseThreadHandles() {
  handlesOfThisThread.reset();
}

bool FetchToFile(const std::string& url, const std::string& file, const FetchOptions& options) {
  return FetchToFileReport(url, file, options).ok;
}
