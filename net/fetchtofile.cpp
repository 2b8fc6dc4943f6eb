#include "net/fetchtofile.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
#include <thread>
#include <vector>

#include "net/digest.h"
namespace {

constexpr long kMaxRedirects = 10;
constexpr size_t kWriteBlock = 256 * 1024;
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

  // The socket of the connection the last fetch left open for the next one; CURL_SOCKET_BAD when none.
  curl_socket_t keptSocket = CURL_SOCKET_BAD;

 private:
  CURLM* multi_;
  CURL* easy_;
};

thread_local std::unique_ptr<ThreadHandles> handlesOfThisThread;

// True when bytes wait on a kept-alive connection between two replies. Nothing may: they are what the
// server sent beyond the reply it announced, and would be read as the answer to the next request.
bool BytesWaiting(curl_socket_t socket) {
  if (socket == CURL_SOCKET_BAD) return false;
  char byte;
  return ::recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

ThreadHandles& HandlesOfThisThread() {
  // A connection whose framing broke since the last fetch is never used again: closing the handles closes
  // every connection of this thread, and the next fetch opens a fresh one.
  if (handlesOfThisThread && BytesWaiting(handlesOfThisThread->keptSocket)) handlesOfThisThread.reset();
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
struct SlistFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct Transfer {
  std::unique_ptr<curl_slist, SlistFree> headers;  // the request's extra headers, while it runs
  int fd = -1;
  long long bytes = 0;
  long long maxBytes = 0;  // 0 = no cap
  bool tooLarge = false;
  RateBudget* budget = nullptr;
  bool writeFailed = false;
  int writeErrno = 0;
  const std::atomic<bool>* abort = nullptr;
  bool abortSeen = false;
  curl_socket_t keptSocket = CURL_SOCKET_BAD;
  // Headers of the response being received; a new status line (after a redirect) starts over.
  long long lastModified = -1;
  long retryAfterSeconds = -1;
  std::vector<std::string> setCookies;  // Set-Cookie values of the final response
  std::unique_ptr<Md5Digest> digest;    // of the body as written, when asked for
  // The body gathered for one write: the library hands it over 16 KiB at a time, and a write per piece
  // costs more than the copy.
  std::vector<char> pending;
};

// Writes what has gathered; false (the failure noted) when the disk refuses it.
bool WritePending(Transfer& transfer) {
  size_t done = 0;
  while (done < transfer.pending.size()) {
    const ssize_t n = ::write(transfer.fd, transfer.pending.data() + done, transfer.pending.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      transfer.writeFailed = true;
      transfer.writeErrno = errno;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  transfer.pending.clear();
  return true;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t total = size * count;
  if (transfer->maxBytes > 0 && transfer->bytes + static_cast<long long>(total) > transfer->maxBytes) {
    transfer->tooLarge = true;  // a reply without Content-Length that goes on and on
    return 0;
  }
  transfer->pending.insert(transfer->pending.end(), data, data + total);
  // A failed write makes the transfer fail with a write error.
  if (transfer->pending.size() >= kWriteBlock && !WritePending(*transfer)) return 0;
  transfer->bytes += static_cast<long long>(total);
  if (transfer->digest) transfer->digest->Update(data, total);
  if (transfer->budget != nullptr) transfer->budget->Take(static_cast<long long>(total), transfer->abort);
  return total;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t total = size * count;
  const std::string_view line(data, total);
  if (line.rfind("HTTP/", 0) == 0) {
    transfer->lastModified = -1;
    transfer->retryAfterSeconds = -1;
    transfer->setCookies.clear();
    return total;
  }
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return total;
  const std::string_view name = TrimBlanks(line.substr(0, colon));
  const std::string_view value = TrimBlanks(line.substr(colon + 1));
  if (EqualsIgnoringCase(name, "Set-Cookie")) {
    transfer->setCookies.emplace_back(value);
  } else if (EqualsIgnoringCase(name, "Retry-After")) {
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
  std::snprintf(name, sizeof name, "%s%ld-%llu-%u-%016llx.part", kFetchTemporaryPrefix,
                static_cast<long>(::getpid()), counter.fetch_add(1), attempt,
                static_cast<unsigned long long>(random()));
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

// Renames the finished temporary file to its name; 0 or the errno. With keepExisting a file (of any case)
// already under that name is never replaced: renameat2 refuses atomically where the file system supports
// it, and where it does not (FUSE file systems answer EINVAL) a look first stands in.
int PutInPlace(const std::string& tempPath, const std::string& file, bool keepExisting) {
  if (keepExisting) {
    if (::renameat2(AT_FDCWD, tempPath.c_str(), AT_FDCWD, file.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    struct stat st {};
    if (::lstat(file.c_str(), &st) == 0) return EEXIST;
  }
  return std::rename(tempPath.c_str(), file.c_str()) == 0 ? 0 : errno;
}

std::string SystemError(int code) {
  return std::strerror(code);
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
  set(curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, options.followRedirects ? 1L : 0L));
  set(curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects));
  set(curl_easy_setopt(easy, CURLOPT_AUTOREFERER, 1L));
  set(curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                       options.connectTimeoutMs > 0 ? options.connectTimeoutMs : 0L));
  if (options.lowSpeedTimeSec > 0) {
    set(curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, std::max(1L, options.lowSpeedBytesPerSec)));
    set(curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, options.lowSpeedTimeSec));
  }
  if (options.maxBytes > 0) {
    // Refuses a reply whose Content-Length is over the cap before any byte of it is written.
    set(curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBytes)));
  }
  if (options.totalTimeoutMs > 0) set(curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, options.totalTimeoutMs));
  if (options.maxRecvBytesPerSecond > 0) {
    set(curl_easy_setopt(easy, CURLOPT_MAX_RECV_SPEED_LARGE,
                         static_cast<curl_off_t>(options.maxRecvBytesPerSecond)));
  }
  const std::string& agent = options.userAgent.empty() ? std::string(kBuiltInUserAgent) : options.userAgent;
  set(curl_easy_setopt(easy, CURLOPT_USERAGENT, agent.c_str()));  // copied by the library
  for (const std::string& header : options.headers) {
    // A line break would start a header of its own: such a value is never sent.
    if (header.find_first_of("\r\n") != std::string::npos) continue;
    curl_slist* grown = curl_slist_append(transfer.headers.get(), header.c_str());
    if (grown == nullptr) {
      ok = false;
      break;
    }
    (void)transfer.headers.release();
    transfer.headers.reset(grown);
  }
  if (transfer.headers) set(curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headers.get()));
  set(curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody));
  set(curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer));
  set(curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader));
  set(curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer));
  set(curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L));
  set(curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, OnProgress));
  set(curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer));
  if (options.cookies != nullptr) {
    // The jar's share does the matching: domain, path, secure flag, expiry, public suffixes.
    set(curl_easy_setopt(easy, CURLOPT_SHARE, static_cast<CURLSH*>(options.cookies->Share())));
    set(curl_easy_setopt(easy, CURLOPT_COOKIEFILE, ""));
  }
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
    if (finished) {
      // The connection kept for the next fetch, if any; only known while the handle is in the multi.
      curl_socket_t socket = CURL_SOCKET_BAD;
      if (curl_easy_getinfo(easy, CURLINFO_ACTIVESOCKET, &socket) == CURLE_OK) transfer.keptSocket = socket;
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

FetchFailure FailureOfErrno(int code) {
  return code == ENOSPC || code == EDQUOT ? FetchFailure::kNoSpace : FetchFailure::kWriteError;
}

void Fail(FetchReport& report, FetchFailure failure, std::string words) {
  report.failure = failure;
  report.error = std::move(words);
}

// Flushes the finished temporary file (when durable) and renames it to file; the report says how that
// went. The temporary file is gone afterwards either way.
void Place(FetchReport& report, const std::string& tempPath, const std::string& file, bool durable,
           bool keepExisting) {
  report.ok = false;
  const auto failed = [&](FetchFailure failure, std::string words) {
    ::unlink(tempPath.c_str());
    Fail(report, failure, std::move(words));
  };
  if (durable) {
    const int fd = ::open(tempPath.c_str(), O_RDONLY | O_CLOEXEC);
    const int error = fd < 0                                                        ? errno
                      : (::fdatasync(fd) == 0 || errno == EINVAL || errno == EROFS) ? 0
                                                                                    : errno;
    if (fd >= 0) ::close(fd);
    if (error != 0)
      return failed(FailureOfErrno(error), "cannot write " + tempPath + ": " + SystemError(error));
  }
  if (const int error = PutInPlace(tempPath, file, keepExisting)) {
    const std::string shown = std::filesystem::path(file).filename().string();
    if (error == EEXIST) {
      return failed(FetchFailure::kNameTaken,
                    "another file already has the name \"" + shown +
                        "\" (this disk may not tell upper and lower case apart); it was kept");
    }
    if (error == EINVAL || error == EILSEQ || error == ENAMETOOLONG ||
        (error == ENOENT && ::access(tempPath.c_str(), F_OK) == 0)) {
      // ENOENT while the temporary file is there: it is the new name that the disk will not take (exFAT
      // over FUSE answers so for a double quote).
      return failed(FetchFailure::kNameRefused,
                    "the disk does not accept the file name \"" + shown + "\" (" + SystemError(error) + ")");
    }
    return failed(FailureOfErrno(error), "cannot replace " + file + ": " + SystemError(error));
  }
  report.ok = true;
  report.error.clear();
  report.failure = FetchFailure::kNone;
}

void FetchInto(const std::string& url, const std::string& file, const FetchOptions& options,
               FetchReport& report, std::string& tempPath, int& fd) {
  if (url.empty()) return Fail(report, FetchFailure::kNoAddress, "no address to fetch");
  if (file.empty()) return Fail(report, FetchFailure::kWriteError, "no file to fetch into");
  if (options.abort && options.abort->load()) {
    report.aborted = true;
    report.curlCode = CURLE_ABORTED_BY_CALLBACK;
    return Fail(report, FetchFailure::kStopped, "the fetch was stopped");
  }
  FetchGlobalInit();
  ThreadHandles& handles = HandlesOfThisThread();
  if (!handles.multi() || !handles.easy()) {
    report.curlCode = CURLE_FAILED_INIT;
    return Fail(report, FetchFailure::kOther, "the transfer library could not start");
  }

  fd = CreateTemporaryBeside(file, tempPath);
  if (fd < 0) {
    const int error = errno;
    tempPath.clear();
    return Fail(report, FailureOfErrno(error),
                "cannot create a file beside " + file + ": " + SystemError(error));
  }

  Transfer transfer;
  transfer.fd = fd;
  transfer.abort = options.abort;
  transfer.maxBytes = options.maxBytes;
  transfer.budget = options.rateBudget;
  if (options.digest) transfer.digest = std::make_unique<Md5Digest>();
  transfer.pending.reserve(kWriteBlock + CURL_MAX_WRITE_SIZE);
  char errorBuffer[CURL_ERROR_SIZE] = {};
  CURL* easy = handles.easy();
  if (!Configure(easy, url, options, transfer, errorBuffer)) {
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, nullptr);  // nothing of this fetch stays with the handle
    curl_easy_setopt(easy, CURLOPT_SHARE, nullptr);
    report.curlCode = CURLE_FAILED_INIT;
    return Fail(report, FetchFailure::kOther, "the transfer could not be set up");
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
  if (options.cookies != nullptr && !transfer.setCookies.empty()) {
    const char* effective = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
    for (const std::string& value : transfer.setCookies)
      options.cookies->ReplySetCookie(effective ? effective : url, value);
  }
  // The handle stays with the thread; nothing of this fetch may point into it afterwards. It leaves the
  // share too, so the jar can go before the thread's handle does.
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
  if (options.cookies != nullptr) {
    // The cookie-file list that switched the engine on is the library's to free only when told; told so,
    // it also switches the engine off until the next fetch that wants it.
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, nullptr);
    curl_easy_setopt(easy, CURLOPT_SHARE, nullptr);
  }
  handles.keptSocket = code == CURLE_OK ? transfer.keptSocket : CURL_SOCKET_BAD;
  if (code == CURLE_OK && !transfer.writeFailed) WritePending(transfer);

  if (transfer.abortSeen || code == CURLE_ABORTED_BY_CALLBACK) {
    report.aborted = true;
    return Fail(report, FetchFailure::kStopped, "the fetch was stopped");
  }
  if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
    return Fail(report, FetchFailure::kTooLarge,
                "the reply is larger than " + std::to_string(options.maxBytes) + " bytes");
  }
  if (transfer.writeFailed) {
    return Fail(report, FailureOfErrno(transfer.writeErrno),
                "cannot write " + tempPath + ": " + SystemError(transfer.writeErrno));
  }
  if (code != CURLE_OK) {
    report.timedOut = code == CURLE_OPERATION_TIMEDOUT;
    return Fail(report, FailureOfTransfer(code, errorBuffer), TransferErrorText(code, errorBuffer));
  }
  if (report.httpStatus >= 400) {
    return Fail(report, FetchFailure::kHttpStatus,
                "the server answered " + std::to_string(report.httpStatus));
  }
  const bool redirectKept = !options.followRedirects && report.httpStatus >= 300 && report.httpStatus < 400;
  if ((report.httpStatus < 200 || report.httpStatus >= 300) && !redirectKept) {
    // A redirect without a usable target (or an interim answer) is not the resource asked for.
    return Fail(report, FetchFailure::kHttpStatus,
                "the server answered " + std::to_string(report.httpStatus) + " without the content");
  }
  if (report.contentLength >= 0 && report.bytes != report.contentLength) {
    return Fail(report, FetchFailure::kCutShort,
                "the reply was cut short (" + std::to_string(report.bytes) + " of " +
                    std::to_string(report.contentLength) + " bytes)");
  }
  if (BytesWaiting(handles.keptSocket)) {
    // The server sent more than it announced: where this reply really ended is unknown, so it is not
    // trusted, and the connection is closed before anything else can be read from it.
    handlesOfThisThread.reset();
    return Fail(report, FetchFailure::kBadFraming, "the server sent more bytes than it announced");
  }

  if (options.keepServerTime && report.lastModified >= 0) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(report.lastModified), 0}};
    ::futimens(fd, times);  // a file without the server's time is still a good file
  }
  if (::close(fd) != 0) {
    const int error = errno;
    fd = -1;
    return Fail(report, FailureOfErrno(error), "cannot write " + tempPath + ": " + SystemError(error));
  }
  fd = -1;
  if (transfer.digest) report.md5 = transfer.digest->Hex();
  if (options.accept && !options.accept(tempPath, report)) {
    return Fail(report, FetchFailure::kNotImage,
                report.error.empty() ? "the reply was rejected" : report.error);
  }
  if (options.deferPlacing) {
    // The reply is complete and accepted; flushing it and giving it its name is left to report.place.
    report.place = [temp = tempPath, file, durable = options.durable, keepExisting = options.keepExisting](
                       FetchReport& r) { Place(r, temp, file, durable, keepExisting); };
    tempPath.clear();
    report.ok = true;
    return;
  }
  Place(report, tempPath, file, options.durable, options.keepExisting);
  tempPath.clear();
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
    report.failure = FetchFailure::kOther;
    report.error = std::string("the fetch failed: ") + e.what();
  }
  if (fd >= 0) ::close(fd);
  if (!tempPath.empty()) ::unlink(tempPath.c_str());
  if (report.ok) {
    report.error.clear();
    report.failure = FetchFailure::kNone;
  } else if (report.failure == FetchFailure::kNone) {
    report.failure = FetchFailure::kOther;
  }
  return report;
}

void FetchReleaseThreadHandles() {
  handlesOfThisThread.reset();
}

bool FetchToFile(const std::string& url, const std::string& file, const FetchOptions& options) {
  return FetchToFileReport(url, file, options).ok;
}
