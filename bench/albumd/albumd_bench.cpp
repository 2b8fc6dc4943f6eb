// How fast albumd answers the requests a download job makes: the photo list of a 200-photo album and
// photos one after another over one kept-alive connection (as the program's fetcher reuses its handle).
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "tools/albumd/testing/albumdprocess.h"

namespace {

size_t Count(char*, size_t size, size_t count, void* total) {
  *static_cast<size_t*>(total) += size * count;
  return size * count;
}

class Client {
 public:
  Client() : curl_(curl_easy_init()) {
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, Count);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &bytes_);
  }
  ~Client() { curl_easy_cleanup(curl_); }
  size_t Get(const std::string& url) {
    bytes_ = 0;
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    long status = 0;
    if (curl_easy_perform(curl_) != CURLE_OK ||
        curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200) {
      throw std::runtime_error("fetch failed: " + url);
    }
    return bytes_;
  }

 private:
  CURL* curl_;
  size_t bytes_ = 0;
};

AlbumdProcess& Albumd() {
  static std::unique_ptr<AlbumdProcess> albumd = AlbumdProcess::Start();
  return *albumd;
}

void BM_PhotoListOf200(benchmark::State& state) {
  Client client;
  const std::string url = "http://" + Albumd().HostPort() + "/fcgi-bin/fcg_list_photo?uin=20000&albumid=g7";
  size_t bytes = 0;
  for (auto _ : state) bytes += client.Get(url);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_PhotoListOf200);

void BM_PhotoOnKeptAliveConnection(benchmark::State& state) {
  Client client;
  const std::string base = "http://" + Albumd().HostPort() + "/photos/20000/7/";
  static const char* const kExtensions[] = {".jpg", ".gif", ".png"};
  size_t bytes = 0;
  int photo = 0;
  for (auto _ : state) {
    bytes += client.Get(base + std::to_string(photo) + kExtensions[photo % 3]);
    photo = (photo + 1) % 200;
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_PhotoOnKeptAliveConnection);

}  // namespace

BENCHMARK_MAIN();
