#include "viewer/thumbnails.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vips/vips.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "core/filenames.h"
#include "core/wholefile.h"
#include "machine/md5unit.h"
#include "viewer/viewerfiles.h"

namespace {

constexpr std::string_view kThumbSuffix = ".jpg";
constexpr std::string_view kMarkerSuffix = ".none";
constexpr int kQuality = 78;
// Bumped when thumbnails are made differently, so that older ones are made again.
constexpr std::string_view kThumbFormat = "1";

void Quiet(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

// libvips is started once per process. Each thumbnail is one small job on a thread of ours, so libvips
// gets no threads of its own per image and keeps no cache of finished operations (every photo is read
// once). Loaders that libvips does not vouch for with files from elsewhere (ImageMagick and the like) are
// blocked: the photos come from a server. Its warnings about damaged photos stay off the terminal; such a
// photo simply gets the placeholder.
void StartVips() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    if (vips_init("lorvanta") != 0) return;
    vips_concurrency_set(1);
    vips_cache_set_max(0);
    vips_block_untrusted_set(TRUE);
    g_log_set_handler("VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE), Quiet,
                      nullptr);
    started = true;
  });
  if (!started) throw std::runtime_error("libvips cannot be started, so no thumbnails can be made");
}

std::string MarkerName(const std::string& thumbName) {
  return thumbName.substr(0, thumbName.size() - kThumbSuffix.size()) + std::string(kMarkerSuffix);
}

struct VipsRef {
  explicit VipsRef(void* p = nullptr) : object(p) {}
  ~VipsRef() {
    if (object != nullptr) g_object_unref(object);
  }
  VipsRef(const VipsRef&) = delete;
  VipsRef& operator=(const VipsRef&) = delete;
  void* object;
};

// The thumbnail's JPEG bytes, or empty when the photo cannot be read as an image. The photo is opened
// here and handed over as a descriptor: libvips then never looks at its name, which could otherwise be
// read as load options ("photo[n=-1].jpg"), and a pipe that carries a photo's name is never waited on.
std::string ThumbnailBytes(const std::string& photoPath, int edge) {
  const int fd = open(photoPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return {};
  }
  VipsRef source(vips_source_new_from_descriptor(fd));
  close(fd);  // the source keeps a duplicate of its own
  if (source.object == nullptr) return {};
  VipsImage* thumb = nullptr;
  if (vips_thumbnail_source(static_cast<VipsSource*>(source.object), &thumb, edge, "height", edge, "size",
                            VIPS_SIZE_DOWN, nullptr) != 0) {
    vips_error_clear();
    return {};
  }
  VipsRef thumbRef(thumb);
  VipsImage* flat = thumb;
  VipsRef flatRef;
  if (vips_image_hasalpha(thumb)) {
    // A JPEG has no transparency: see-through parts become white, as on the page behind them.
    VipsArrayDouble* white = vips_array_double_newv(1, 255.0);
    const int rc = vips_flatten(thumb, &flat, "background", white, nullptr);
    vips_area_unref(VIPS_AREA(white));
    if (rc != 0) {
      vips_error_clear();
      return {};
    }
    flatRef.object = flat;
  }
  void* buf = nullptr;
  size_t len = 0;
  // Decoding happens here, so a photo cut short or damaged fails here.
  if (vips_jpegsave_buffer(flat, &buf, &len, "Q", kQuality, "strip", TRUE, "optimize_coding", TRUE,
                           nullptr) != 0) {
    vips_error_clear();
    return {};
  }
  std::string bytes(static_cast<const char*>(buf), len);
  g_free(buf);
  return bytes;
}

// "<32 hex digits><suffix>", as ThumbnailName and MarkerName make them.
bool IsOurName(std::string_view name, std::string_view suffix) {
  if (name.size() != 32 + suffix.size() || !name.ends_with(suffix)) return false;
  return name.substr(0, 32).find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Thumbnails are written without flushes (they are made again when missing), so a power cut can leave one
// empty under its name: such a one counts as missing.
bool ThumbnailThere(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

}  // namespace

std::string ThumbnailName(std::string_view folder, std::string_view file, long long size, long long mtimeNs,
                          int edge) {
  std::string key;
  for (std::string_view part : {kThumbFormat, folder, file}) {
    key += part;
    key += '\0';
  }
  key += std::to_string(size) + '\0' + std::to_string(mtimeNs) + '\0' + std::to_string(edge);
  return Md5Hex(key) + std::string(kThumbSuffix);
}

std::vector<ThumbnailState> MakeThumbnails(const std::string& folder,
                                           const std::vector<ThumbnailSource>& sources, int threads, int edge,
                                           const std::atomic<bool>* cancel) {
  std::vector<ThumbnailState> states(sources.size(), ThumbnailState::kReused);
  std::vector<size_t> pending;
  for (size_t i = 0; i < sources.size(); ++i) {
    if (ThumbnailThere(folder + sources[i].name)) continue;
    if (Exists(folder + MarkerName(sources[i].name))) {
      states[i] = ThumbnailState::kUnreadable;
      continue;
    }
    pending.push_back(i);
  }
  if (pending.empty()) return states;
  StartVips();

  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex errorLock;
  std::string error;
  auto work = [&] {
    while (!stop.load() && (cancel == nullptr || !cancel->load())) {
      const size_t k = next.fetch_add(1);
      if (k >= pending.size()) break;
      const size_t i = pending[k];
      try {
        const std::string bytes = ThumbnailBytes(sources[i].photoPath, edge);
        if (bytes.empty()) {
          states[i] = ThumbnailState::kUnreadable;
          WriteWholeFile(folder + MarkerName(sources[i].name), "", 0644, {}, false);
        } else {
          WriteWholeFile(folder + sources[i].name, bytes, 0644, {}, false);
          states[i] = ThumbnailState::kMade;
        }
      } catch (const std::exception& e) {
        std::lock_guard<std::mutex> hold(errorLock);
        if (error.empty()) error = e.what();
        stop = true;
      }
    }
    vips_thread_shutdown();
  };
  const size_t count = std::clamp<size_t>(static_cast<size_t>(std::max(threads, 1)), 1, pending.size());
  std::vector<std::thread> pool;
  for (size_t t = 0; t < count; ++t) pool.emplace_back(work);
  for (std::thread& t : pool) t.join();
  if (!error.empty()) throw std::runtime_error(error);
  return states;
}

int RemoveStaleThumbnails(const std::string& folder, const std::set<std::string>& keep) {
  std::set<std::string> keepMarkers;
  for (const std::string& name : keep) keepMarkers.insert(MarkerName(name));
  int removed = 0;
  std::vector<std::string> doomed;
  for (const std::string& name : FolderEntries(folder)) {
    const bool thumb = IsOurName(name, kThumbSuffix);
    const bool marker = IsOurName(name, kMarkerSuffix);
    if ((thumb && keep.count(name) == 0) || (marker && keepMarkers.count(name) == 0)) doomed.push_back(name);
  }
  for (const std::string& name : doomed) {
    if (unlink((folder + name).c_str()) == 0 && name.ends_with(kThumbSuffix)) ++removed;
  }
  return removed;
}
