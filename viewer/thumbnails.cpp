#include "viewer/thumbnails.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vips/vips.h>

// jpeglib.h uses FILE and size_t without declaring them: <vips/vips.h> above brings both.
#include <jpeglib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
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
// A photo file up to this size is read whole and decoded from memory, which costs less than libvips
// reading it in pieces and seeking in it. A larger one is read as it is decoded, so that the threads never
// hold whole originals of tens of megabytes.
constexpr off_t kReadWholeBytes = 1 << 20;
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

// libjpeg reports a failure by calling error_exit, whose default ends the process: ours jumps back to
// EncodeJpeg instead. Its warnings are not printed.
struct JpegFailure {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void JpegFail(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegFailure*>(info->err)->jump, 1);
}

void JpegQuiet(j_common_ptr, int) {}

// The rows of a prepared region (1 or 3 bands of 8 bits) as a JPEG made as libvips' jpegsave makes the
// other thumbnails: quality kQuality, optimised Huffman tables, 4:2:0 chroma, no JFIF or other marker.
// False when libjpeg fails (it can only run out of memory here). Holds nothing with a destructor, as
// libjpeg's failures jump over this frame's ends.
bool EncodeJpeg(VipsRegion* region, int width, int height, int bands, unsigned char** out,
                unsigned long* length) {
  jpeg_compress_struct info;
  JpegFailure failure;
  info.err = jpeg_std_error(&failure.manager);
  failure.manager.error_exit = JpegFail;
  failure.manager.emit_message = JpegQuiet;
  *out = nullptr;
  *length = 0;
  if (setjmp(failure.jump) != 0) {
    jpeg_destroy_compress(&info);
    std::free(*out);
    *out = nullptr;
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, out, length);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = bands;
  info.in_color_space = bands == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, kQuality, TRUE);
  info.optimize_coding = TRUE;
  info.write_JFIF_header = FALSE;
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = VIPS_REGION_ADDR(region, 0, static_cast<int>(info.next_scanline));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

// All of image's pixels as JPEG bytes, computed here on the calling thread in one region: libvips' own
// evaluation (vips_sink and its thread pool, which jpegsave runs on) costs several times more to set up
// than a small picture costs to decode. Empty when the photo turns out damaged while it is decoded.
std::string EncodeWhole(VipsImage* image) {
  VipsRef region(vips_region_new(image));
  const VipsRect all{0, 0, image->Xsize, image->Ysize};
  if (vips_region_prepare(static_cast<VipsRegion*>(region.object), &all) != 0) {
    vips_error_clear();
    return {};
  }
  unsigned char* out = nullptr;
  unsigned long length = 0;
  if (!EncodeJpeg(static_cast<VipsRegion*>(region.object), image->Xsize, image->Ysize, image->Bands, &out,
                  &length))
    return {};
  std::string bytes(reinterpret_cast<const char*>(out), length);
  std::free(out);
  return bytes;
}

// The thumbnail of a photo that already fits in the thumbnail's box, made as vips_thumbnail would make it
// (the colours in sRGB or grey, turned upright by its EXIF orientation, transparency on white) but
// without its pipeline. nullopt for a photo of a shape this does not expect (bands other than grey or
// RGB once converted), which the thumbnail pipeline then takes; empty when the photo is damaged.
std::optional<std::string> FittingThumbnail(VipsImage* in) {
  VipsRef steps[4];
  int step = 0;
  VipsImage* at = in;
  auto next = [&](VipsImage* made) {
    steps[step++].object = made;
    at = made;
  };
  VipsImage* made = nullptr;
  const VipsInterpretation space = in->Bands < 3 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB;
  if (vips_image_guess_interpretation(in) != space || in->BandFmt != VIPS_FORMAT_UCHAR) {
    if (vips_colourspace(at, &made, space, nullptr) != 0) return std::nullopt;
    next(made);
  }
  if (vips_image_hasalpha(at)) {
    // A JPEG has no transparency: see-through parts become white, as on the page behind them.
    VipsArrayDouble* white = vips_array_double_newv(1, 255.0);
    const int rc = vips_flatten(at, &made, "background", white, nullptr);
    vips_area_unref(VIPS_AREA(white));
    if (rc != 0) return std::nullopt;
    next(made);
  }
  if (at->BandFmt != VIPS_FORMAT_UCHAR) {
    if (vips_cast_uchar(at, &made, nullptr) != 0) return std::nullopt;
    next(made);
  }
  if (at->Bands != 1 && at->Bands != 3) return std::nullopt;
  int orientation = 1;
  if (vips_image_get_typeof(in, VIPS_META_ORIENTATION) != 0 &&
      vips_image_get_int(in, VIPS_META_ORIENTATION, &orientation) != 0)
    orientation = 1;
  if (orientation < 2 || orientation > 8) return EncodeWhole(at);
  // Turned upright in memory: the photo's pixels are decoded once, then rotated (vips_autorot needs to
  // read them out of order, which a photo read from start to end cannot give).
  VipsRef region(vips_region_new(at));
  const VipsRect all{0, 0, at->Xsize, at->Ysize};
  if (vips_region_prepare(static_cast<VipsRegion*>(region.object), &all) != 0) {
    vips_error_clear();
    return std::string();
  }
  VipsRegion* pixels = static_cast<VipsRegion*>(region.object);
  const size_t row = static_cast<size_t>(at->Xsize) * static_cast<size_t>(at->Bands);
  std::string held(row * static_cast<size_t>(at->Ysize), '\0');
  for (int y = 0; y < at->Ysize; ++y)
    std::memcpy(held.data() + row * static_cast<size_t>(y), VIPS_REGION_ADDR(pixels, 0, y), row);
  VipsRef memory(vips_image_new_from_memory(held.data(), held.size(), at->Xsize, at->Ysize, at->Bands,
                                            VIPS_FORMAT_UCHAR));
  if (memory.object == nullptr) return std::nullopt;
  vips_image_set_int(static_cast<VipsImage*>(memory.object), VIPS_META_ORIENTATION, orientation);
  VipsImage* upright = nullptr;
  if (vips_autorot(static_cast<VipsImage*>(memory.object), &upright, nullptr) != 0) return std::nullopt;
  VipsRef uprightRef(upright);
  return EncodeWhole(upright);
}

// The thumbnail pipeline's output as JPEG bytes (libvips' own jpegsave, which works through a large
// photo in strips); empty when the photo cannot be read or is damaged.
std::string SavedThumbnail(VipsImage* thumb) {
  VipsImage* flat = thumb;
  VipsRef flatRef;
  if (vips_image_hasalpha(thumb)) {
    // As for a photo that fits: see-through parts become white.
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

// The thumbnail of a photo read whole into bytes: one that fits the box as it is, else the pipeline.
std::string ThumbnailOfBytes(const std::string& bytes, int edge) {
  VipsRef in(
      vips_image_new_from_buffer(bytes.data(), bytes.size(), "", "access", VIPS_ACCESS_SEQUENTIAL, nullptr));
  if (in.object == nullptr) {
    vips_error_clear();
    return {};
  }
  VipsImage* image = static_cast<VipsImage*>(in.object);
  if (image->Xsize <= edge && image->Ysize <= edge) {
    std::optional<std::string> fitting = FittingThumbnail(image);
    vips_error_clear();
    if (fitting) return *fitting;
  }
  VipsImage* thumb = nullptr;
  // libvips only reads the bytes; its signature lacks the const.
  if (vips_thumbnail_buffer(const_cast<char*>(bytes.data()), bytes.size(), &thumb, edge, "height", edge,
                            "size", VIPS_SIZE_DOWN, nullptr) != 0) {
    vips_error_clear();
    return {};
  }
  VipsRef thumbRef(thumb);
  return SavedThumbnail(thumb);
}

// The thumbnail's JPEG bytes, or empty when the photo cannot be read as an image. The photo is opened
// here and handed over as bytes or a descriptor: libvips then never looks at its name, which could
// otherwise be read as load options ("photo[n=-1].jpg"), and a pipe that carries a photo's name is never
// waited on.
std::string ThumbnailBytes(const std::string& photoPath, int edge) {
  const int fd = open(photoPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return {};
  }
  if (st.st_size <= kReadWholeBytes) {
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    close(fd);
    bytes.resize(got);  // a file cut short meanwhile is decoded as it is now
    if (bytes.empty()) return {};
    return ThumbnailOfBytes(bytes, edge);
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
  return SavedThumbnail(thumb);
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

void ShownThumbnails::Add(std::string_view name) {
  if (!IsOurName(name, kThumbSuffix)) return;
  Key key;
  std::copy_n(name.data(), key.size(), key.begin());
  if (!keys_.empty() && key < keys_.back()) sorted_ = false;
  keys_.push_back(key);
}

bool ShownThumbnails::Has(std::string_view name) {
  if (!IsOurName(name, kThumbSuffix) && !IsOurName(name, kMarkerSuffix)) return false;
  if (!sorted_) {
    std::sort(keys_.begin(), keys_.end());
    sorted_ = true;
  }
  Key key;
  std::copy_n(name.data(), key.size(), key.begin());
  return std::binary_search(keys_.begin(), keys_.end(), key);
}

int RemoveStaleThumbnails(const std::string& folder, ShownThumbnails& keep) {
  int removed = 0;
  std::vector<std::string> doomed;
  for (const std::string& name : FolderEntries(folder)) {
    const bool ours = IsOurName(name, kThumbSuffix) || IsOurName(name, kMarkerSuffix);
    if (ours && !keep.Has(name)) doomed.push_back(name);
  }
  for (const std::string& name : doomed) {
    if (unlink((folder + name).c_str()) == 0 && name.ends_with(kThumbSuffix)) ++removed;
  }
  return removed;
}
