// What the jobs read from a hostile album service or a tampered disk, fed arbitrary bytes. The first byte
// picks the reader:
//   0: an album list, walked as the preview walks it; every album's fields must come out as listed and
//      its AlbumEntry line must be those fields joined;
//   1: a photo list, planned as the download plans it; every file must be one plain name inside the
//      album folder, and no two photos may share a file;
//   2: a manifest; whatever reads must be written and read back to the same manifest.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>

#include "core/albumdownload.h"
#include "core/albumlist.h"
#include "core/albummanifest.h"
#include "core/filenames.h"
#include "core/xmldoc.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

const std::string& AlbumFolder() {
  static const std::string folder = [] {
    const std::string f = std::filesystem::temp_directory_path().string() + "/lorvanta-fuzz-album-" +
                          std::to_string(::getpid()) + "/album";
    std::filesystem::create_directories(f);
    return f;
  }();
  return folder;
}

void AlbumList(std::string_view bytes) {
  try {
    const XmlDocument doc = XmlDocument::LoadFromMemory(bytes);
    PreviewResult result;
    result.qqNumber = "10001";
    WalkAlbumList(doc.HasNodes() ? doc.TopLevel("data").Child("album") : XmlNode(), 12345, result);
    Check(result.albums.size() == result.albumEntries.size());
    for (size_t n = 0; n < result.albums.size(); ++n) {
      const AlbumEntryFields& f = result.albums[n];
      Check(result.albumEntries[n] == AlbumEntryLine(f.id, f.priv, f.name, f.total, f.desc));
      // A line whose fields hold no "|" splits back into them.
      if ((f.id + f.priv + f.name + f.total).find('|') == std::string::npos && f.desc.size() <= 10000) {
        Check(SplitAlbumEntry(result.albumEntries[n]) == f);
      }
    }
  } catch (const EXmlDocument&) {
  }
}

void PhotoPlan(std::string_view bytes) {
  try {
    const XmlDocument doc = XmlDocument::LoadFromMemory(bytes);
    const XmlNode first = FirstPhotoNode(doc);
    if (!first) return;
    const AlbumPlan plan = PlanAlbumPhotos(ListPhotoNodes(first), AlbumFolder(), "album");
    const std::string prefix = AlbumFolder() + "/";
    std::set<std::string> files;
    for (const PlannedPhoto& p : plan.photos) {
      if (p.kind != PlannedPhoto::Kind::kFetch) continue;
      Check(p.file.compare(0, prefix.size(), prefix) == 0);
      const std::string name = p.file.substr(prefix.size());
      Check(!name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos);
      Check(name.find('\0') == std::string::npos && name.size() <= kMaxComponentBytes);
      Check(files.insert(name).second);
    }
  } catch (const EXmlDocument&) {
  }
}

void Manifest(std::string_view bytes) {
  AlbumManifest m;
  try {
    m = ParseManifest(bytes);
  } catch (const ManifestError&) {
    return;
  }
  // Everything the reader hands out came through UTF-16, so it is valid UTF-8 and must write back whole.
  Check(ParseManifest(ManifestJson(m)) == m);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  InitXmlLayer();
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      AlbumList(bytes);
      break;
    case 1:
      PhotoPlan(bytes);
      break;
    default:
      Manifest(bytes);
      break;
  }
  return 0;
}
