#include "viewer/listfile.h"

#include <sys/stat.h>

#include <map>
#include <set>

#include "viewer/albumscan.h"
#include "viewer/viewerfiles.h"

namespace {

constexpr std::string_view kHeader = "lorvanta viewer list 1\n";
// Far beyond any real copy (50,000 photos with long names), so a stray huge file is not read whole.
constexpr size_t kMostBytes = 64u << 20;

void Put(std::string& out, std::string_view field) {
  for (char c : field) {
    if (c != '\0') out.push_back(c);  // album texts never hold one; a field must not end early
  }
  out.push_back('\0');
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string ViewerListBytes(const std::vector<ViewerAlbum>& list) {
  std::string out(kHeader);
  for (const ViewerAlbum& a : list) {
    for (const std::string* field : {&a.folder, &a.name, &a.desc, &a.priv, &a.total}) Put(out, *field);
    Put(out, a.failed ? "1" : "0");
    Put(out, a.failureReason);
    Put(out, std::to_string(a.photoOrder.size()));
    for (const std::string& file : a.photoOrder) Put(out, file);
  }
  return out;
}

std::vector<ViewerAlbum> ReadViewerList(const std::string& path) {
  const std::string bytes = ReadFileHead(path, kMostBytes);
  if (bytes.size() >= kMostBytes || bytes.compare(0, kHeader.size(), kHeader) != 0) return {};
  size_t at = kHeader.size();
  bool damaged = false;
  auto next = [&]() -> std::string {
    const size_t end = bytes.find('\0', at);
    if (end == std::string::npos) {
      damaged = true;
      return {};
    }
    std::string field = bytes.substr(at, end - at);
    at = end + 1;
    return field;
  };
  std::vector<ViewerAlbum> list;
  while (at < bytes.size() && !damaged) {
    ViewerAlbum a;
    for (std::string* field : {&a.folder, &a.name, &a.desc, &a.priv, &a.total}) *field = next();
    a.failed = next() == "1";
    a.failureReason = next();
    const std::string count = next();
    if (damaged || count.empty() || count.size() > 7 ||
        count.find_first_not_of("0123456789") != std::string::npos)
      return {};
    for (long n = std::stol(count); n > 0 && !damaged; --n) {
      std::string file = next();
      if (IsPlainName(file)) a.photoOrder.push_back(std::move(file));
    }
    list.push_back(std::move(a));
  }
  if (damaged) return {};
  return list;
}

std::vector<ViewerAlbum> MergeViewerList(const std::string& root, const std::vector<ViewerAlbum>& fresh,
                                         const std::vector<ViewerAlbum>& stored) {
  std::map<std::string, const ViewerAlbum*> kept;  // stored albums by folder
  for (const ViewerAlbum& a : stored) {
    if (IsPlainName(a.folder)) kept.emplace(a.folder, &a);
  }
  std::vector<ViewerAlbum> list;
  std::set<std::string> named;
  for (ViewerAlbum a : fresh) {
    a.folder = FolderInRoot(root, a.folder);
    const auto old = kept.find(a.folder);
    if (a.photoOrder.empty() && old != kept.end()) a.photoOrder = old->second->photoOrder;
    if (!a.folder.empty()) named.insert(a.folder);
    list.push_back(std::move(a));
  }
  for (const ViewerAlbum& a : stored) {
    if (IsPlainName(a.folder)) {
      // A kept album whose folder is still there and that the download did not name (once).
      if (IsFolder(root + a.folder) && named.insert(a.folder).second) list.push_back(a);
    } else if (fresh.empty() && a.failed && a.folder.empty()) {
      list.push_back(a);  // a failure of the last download, on a rebuild alone
    }
  }
  return list;
}
