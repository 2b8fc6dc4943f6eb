// How fast the album viewer is built and opened.
//
// Makes a copy of N albums x M photos (default 50 x 200, photos 1600 x 1200 JPEGs made with libvips; a
// handful of distinct pictures hard-linked under every name, so the disk holds little while every photo
// is still decoded on its own), every other album with a manifest as `--update` writes it, the others
// without, as the window leaves them. A --width and --height of at most 360 give photos that already fit
// the thumbnail's box, which are made without libvips' thumbnail pipeline (bench/cli/run.sh --scale builds
// the viewer of 100,000 such photos through the command line). Then:
//   1. a first build, which makes every thumbnail: thumbnails per second, and the peak memory;
//   2. a second build over the unchanged copy, which must make none;
//   3. when chromium is installed, the entry page and the first album page opened from disk in headless
//      Chromium, driven over its DevTools pipe: the page's own navigation timing (DOMContentLoaded and the
//      end of the load event, which waits for every thumbnail it started), the first load and the median
//      of the next few.
//
//   viewer_bench [--albums 50] [--photos 200] [--width 1600] [--height 1200] [--threads 0] [--runs 5]
//                [--chromium PATH] [--keep]
#include <sys/resource.h>
#include <unistd.h>
#include <vips/vips.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "core/albummanifest.h"
#include "core/textutil.h"
#include "tests/support/chromiumpipe.h"
#include "viewer/viewer.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  int albums = 50, photos = 200, width = 1600, height = 1200, threads = 0, runs = 5;
  std::string chromium;
  bool keep = false;
};

[[noreturn]] void Usage(const std::string& message) {
  std::cerr << "viewer_bench: " << message
            << "\nusage: viewer_bench [--albums N] [--photos N] [--width N] [--height N] [--threads N]"
               " [--runs N] [--chromium PATH] [--keep]\n";
  std::exit(2);
}

int WholeNumber(const std::string& option, const std::string& text, int least) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
    Usage(option + " takes a whole number");
  const int n = std::stoi(text);
  if (n < least) Usage(option + " must be at least " + std::to_string(least));
  return n;
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// A photo-like picture: smooth colour noise (blurred, so it compresses like a photo rather than static),
// different for every seed.
std::string PhotoBytes(int width, int height, int seed) {
  VipsImage* bands[3] = {};
  for (int b = 0; b < 3; ++b) {
    if (vips_gaussnoise(&bands[b], width, height, "mean", 80.0 + 30 * ((seed + b) % 4), "sigma", 40.0, "seed",
                        seed * 3 + b, nullptr) != 0)
      throw std::runtime_error("libvips cannot make noise");
  }
  VipsImage *joined = nullptr, *blurred = nullptr, *bytes = nullptr;
  if (vips_bandjoin(bands, &joined, 3, nullptr) != 0 || vips_gaussblur(joined, &blurred, 3.0, nullptr) != 0 ||
      vips_cast_uchar(blurred, &bytes, nullptr) != 0)
    throw std::runtime_error("libvips cannot make a picture");
  void* buf = nullptr;
  size_t len = 0;
  if (vips_jpegsave_buffer(bytes, &buf, &len, "Q", 85, nullptr) != 0) throw std::runtime_error("cannot save");
  std::string out(static_cast<const char*>(buf), len);
  g_free(buf);
  for (VipsImage* i : {bands[0], bands[1], bands[2], joined, blurred, bytes}) g_object_unref(i);
  return out;
}

// The album root of the made-up copy; the distinct pictures are in `pool` beside it.
void MakeCopy(const Options& o, const std::string& root, const std::string& pool) {
  constexpr int kDistinct = 12;
  fs::create_directories(pool);
  for (int k = 0; k < kDistinct; ++k)
    std::ofstream(pool + std::to_string(k) + ".jpg", std::ios::binary) << PhotoBytes(o.width, o.height, k);
  for (int a = 0; a < o.albums; ++a) {
    char folder[64];
    std::snprintf(folder, sizeof folder, "相册 %03d", a + 1);
    const std::string dir = root + folder;
    fs::create_directories(dir);
    AlbumManifest m{"album" + std::to_string(a), folder, "made up for the benchmark", a % 3 == 0 ? "3" : "1",
                    std::to_string(o.photos),    {}};
    for (int p = 0; p < o.photos; ++p) {
      const std::string file = "photo_" + std::to_string(p + 1) + ".jpg";
      const std::string from = pool + std::to_string((a * 7 + p) % kDistinct) + ".jpg";
      std::error_code ec;
      fs::create_hard_link(from, dir + "/" + file, ec);
      if (ec) fs::copy_file(from, dir + "/" + file, ec);
      m.photos.push_back(
          {"http://photos.invalid/" + file, file, static_cast<long long>(fs::file_size(from)), 0});
    }
    if (a % 2 == 0) WriteAlbumManifest(dir, m);
  }
}

std::string FileUrl(const std::string& path) {
  std::string url = "file://";
  for (char c : path) url += c == '/' ? std::string("/") : PercentEncode(std::string(1, c));
  return url;
}

// "first load: DCL x ms, load y ms; median of the next n: ..." for one page.
std::string PageLoads(ChromiumPipe& browser, const std::string& page, int runs) {
  auto parse = [](const std::string& times) {
    const size_t comma = times.find(',');
    return std::make_pair(std::stod(times.substr(0, comma)), std::stod(times.substr(comma + 1)));
  };
  const auto first = parse(browser.LoadTimes(FileUrl(page)));
  std::vector<double> dcl, load;
  for (int i = 0; i < runs; ++i) {
    const auto t = parse(browser.LoadTimes(FileUrl(page)));
    dcl.push_back(t.first);
    load.push_back(t.second);
  }
  std::sort(dcl.begin(), dcl.end());
  std::sort(load.begin(), load.end());
  char buf[200];
  std::snprintf(buf, sizeof buf,
                "first DOMContentLoaded %.0f ms, load %.0f ms; median of next %d: %.0f ms, %.0f ms",
                first.first, first.second, runs, dcl[dcl.size() / 2], load[load.size() / 2]);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage(a + " needs a value");
      return argv[++i];
    };
    if (a == "--albums")
      o.albums = WholeNumber(a, value(), 1);
    else if (a == "--photos")
      o.photos = WholeNumber(a, value(), 1);
    else if (a == "--width")
      o.width = WholeNumber(a, value(), 16);
    else if (a == "--height")
      o.height = WholeNumber(a, value(), 16);
    else if (a == "--threads")
      o.threads = WholeNumber(a, value(), 0);
    else if (a == "--runs")
      o.runs = WholeNumber(a, value(), 1);
    else if (a == "--chromium")
      o.chromium = value();
    else if (a == "--keep")
      o.keep = true;
    else
      Usage("unknown option " + a);
  }
  if (o.chromium.empty()) {
    for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser", "/usr/bin/google-chrome"})
      if (access(path, X_OK) == 0) o.chromium = path;
  }
  if (vips_init(argv[0]) != 0) {
    std::cerr << "viewer_bench: libvips does not start\n";
    return 1;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string scratch = std::string(tmp && *tmp ? tmp : "/tmp") + "/viewer-bench-XXXXXX";
  if (mkdtemp(scratch.data()) == nullptr) {
    std::cerr << "viewer_bench: cannot make a scratch folder\n";
    return 1;
  }
  scratch += "/";
  const std::string root = scratch + "20000的相册/";
  int exitCode = 0;
  try {
    std::cout << "making " << o.albums << " albums x " << o.photos << " photos of " << o.width << "x"
              << o.height << " ...\n";
    MakeCopy(o, root, scratch + "pool/");
    const int total = o.albums * o.photos;

    const auto start = Clock::now();
    const ViewerReport first = BuildViewer(root, {}, {.threads = o.threads});
    const double firstS = Seconds(Clock::now() - start);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf(
        "first build:  %d photos, %d thumbnails made in %.2f s = %.1f thumbnails/s (threads: %s), "
        "%d placeholders, peak RSS %.1f MB\n",
        total, first.thumbnailsMade, firstS, first.thumbnailsMade / firstS,
        o.threads > 0 ? std::to_string(o.threads).c_str() : "one per hardware thread", first.placeholders,
        usage.ru_maxrss / 1024.0);

    const auto again = Clock::now();
    const ViewerReport second = BuildViewer(root, {}, {.threads = o.threads});
    const double secondS = Seconds(Clock::now() - again);
    std::printf("second build: %d made, %d reused, %.3f s (%d pages written)\n", second.thumbnailsMade,
                second.thumbnailsReused, secondS, second.pages);
    if (first.thumbnailsMade != total || second.thumbnailsMade != 0) {
      std::cerr << "viewer_bench: expected " << total << " thumbnails made once\n";
      exitCode = 1;
    }

    if (o.chromium.empty()) {
      std::cout << "page loads: skipped, chromium is not installed\n";
    } else {
      try {
        ChromiumPipe browser(o.chromium, scratch + "profile");
        std::cout << "entry page (" << o.albums
                  << " albums): " << PageLoads(browser, root + "index.html", o.runs) << "\nalbum page ("
                  << o.photos
                  << " photos): " << PageLoads(browser, root + ".lorvanta-viewer/album-0001.html", o.runs)
                  << "\n";
      } catch (const std::exception& e) {
        std::cout << "page loads: " << e.what() << "\n";
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "viewer_bench: " << e.what() << "\n";
    exitCode = 1;
  }
  if (o.keep) {
    std::cout << "kept: " << root << "\n";
  } else {
    std::error_code ec;
    fs::remove_all(scratch, ec);
  }
  return exitCode;
}
