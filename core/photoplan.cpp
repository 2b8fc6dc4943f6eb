#include "core/photoplan.h"

#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>

#include "core/filenames.h"
#include "core/imagecheck.h"
#include "core/textutil.h"
#include "machine/md5unit.h"
#include "text/utf8.h"

namespace {

namespace fs = std::filesystem;

bool IsWebAddress(std::string_view url) {
  const std::string upper = AsciiUpper(url.substr(0, 8));
  return upper.rfind("HTTP://", 0) == 0 || upper.rfind("HTTPS://", 0) == 0;
}

}  // namespace

PhotoListing ListPhotoNodes(XmlNode firstPic) {
  PhotoListing listing;
  int entries = 0;
  for (XmlNode node = firstPic; node; node = node.Next()) {
    if (++entries > kMaxPhotoEntries) {
      listing.entryLimitHit = true;
      break;
    }
    if (std::optional<TPhotoEntry> entry = ReadPhotoEntry(node)) listing.photos.push_back(std::move(*entry));
  }
  return listing;
}

AlbumPlan PlanAlbumPhotos(const PhotoListing& listing, const std::string& albumFolder,
                          std::string_view albumName, const PlanRecords& records, const NameRules& rules) {
  AlbumPlan plan;
  PhotoFileNamer namer(albumFolder, true, rules);
  // Adopting a folder an earlier download made without records: its files stand under the names that
  // download gave them, which a namer blind to the disk gives again in the same order.
  PhotoFileNamer asDownloaded(albumFolder, false, rules);
  const std::string prefix = WithTrailingSlash(albumFolder);

  // The records by address, in manifest order (a list may give one address to several photos).
  std::vector<ManifestPhoto> recorded;
  std::map<std::string, std::deque<size_t>> byUrl;
  if (records.manifest != nullptr) {
    recorded = std::move(records.manifest->photos);
    records.manifest->photos.clear();
    for (size_t i = 0; i < recorded.size(); ++i) {
      namer.Reserve(prefix + recorded[i].file);
      byUrl[recorded[i].url].push_back(i);
    }
  }
  std::vector<bool> used(recorded.size(), false);
  std::vector<ManifestPhoto> kept;

  plan.entryLimitHit = listing.entryLimitHit;
  for (const TPhotoEntry& listed : listing.photos) {
    const TPhotoEntry* entry = &listed;
    // A record takes the photo's description from the list; a list without descriptions (the XML
    // services have none) leaves a recorded one as it is.
    const auto keep = [&](ManifestPhoto record) {
      if (!entry->desc.empty() && IsValidUtf8(entry->desc)) record.desc = entry->desc;
      kept.push_back(std::move(record));
    };
    PlannedPhoto photo;
    const std::string extension = entry->video ? std::string("MP4") : PhotoExtension(entry->phototype);
    photo.statusName = std::string(albumName) + "/" + entry->name + "." + extension;
    photo.video = entry->video;
    photo.taken = entry->taken;
    photo.url = entry->url;
    if (entry->url.empty()) {
      photo.kind = PlannedPhoto::Kind::kNoAddress;
      photo.reason = "the photo list gives no address";
      plan.photos.push_back(std::move(photo));
      continue;
    }
    if (!IsWebAddress(entry->url)) {
      // A list must not make us copy local files (file://) or talk other protocols.
      photo.kind = PlannedPhoto::Kind::kRefused;
      photo.reason = "not an http or https address";
      plan.photos.push_back(std::move(photo));
      continue;
    }
    std::optional<ManifestPhoto> record;
    if (auto it = byUrl.find(entry->url); it != byUrl.end() && !it->second.empty()) {
      used[it->second.front()] = true;
      record = recorded[it->second.front()];
      it->second.pop_front();
    }
    if (record) {
      photo.file = prefix + record->file;
      std::error_code ec;
      const auto status = fs::symlink_status(photo.file, ec);
      if (fs::is_regular_file(status)) {
        const long long size = static_cast<long long>(fs::file_size(photo.file, ec));
        if (!ec && (record->size < 0 || record->size == size)) {
          photo.kind = PlannedPhoto::Kind::kPresent;
          if (record->size < 0) {  // reserved by a run that ended before it could report
            record->size = size;
            record->fetched = records.now;
          }
          keep(*record);
          plan.photos.push_back(std::move(photo));
          continue;
        }
        // Another file now stands under that name (edited or replaced by hand): it is left alone and no
        // longer counted as this photo, which is fetched under a new name.
        record.reset();
      } else if (!fs::exists(status)) {
        if (records.keepDeleted && (record->size >= 0 || record->deleted)) {
          photo.kind = PlannedPhoto::Kind::kLeftOut;
          record->deleted = true;
          keep(*record);
          plan.photos.push_back(std::move(photo));
          continue;
        }
        // Gone: it comes back under its recorded name (or the run that reserved it goes on).
        record->size = -1;
        record->fetched = 0;
        record->deleted = false;
        keep(*record);
        plan.photos.push_back(std::move(photo));
        continue;
      } else {
        record.reset();  // a folder or something else under that name: a new name
      }
    }
    if (records.adopt && records.manifest != nullptr) {
      std::string expected;
      try {
        expected = asDownloaded.NextPathAs(entry->name.empty() ? Md5Hex(entry->url) : entry->name, entry->url,
                                           extension);
      } catch (const std::runtime_error&) {
      }
      std::error_code ec;
      const auto status = expected.empty() ? fs::file_status() : fs::symlink_status(expected, ec);
      if (fs::is_regular_file(status) && IsImageFile(expected)) {
        // There as that download left it: recorded, not fetched again.
        namer.Reserve(expected);
        photo.kind = PlannedPhoto::Kind::kPresent;
        photo.file = expected;
        ManifestPhoto adopted{entry->url, LastComponent(expected),
                              static_cast<long long>(fs::file_size(expected, ec)), records.now};
        adopted.md5 = PhotoDigest(expected);
        keep(adopted);
        plan.photos.push_back(std::move(photo));
        continue;
      }
      if (!expected.empty() && status.type() == fs::file_type::not_found) {
        // Missing from that copy: fetched under the name it would have had.
        namer.Reserve(expected);
        photo.file = expected;
        keep({entry->url, LastComponent(expected)});
        plan.photos.push_back(std::move(photo));
        continue;
      }
      // Something else stands under that name (a file that is no image): it is left alone, and the photo
      // gets a new name below.
    }
    try {
      photo.file =
          namer.NextPathAs(entry->name.empty() ? Md5Hex(entry->url) : entry->name, entry->url, extension);
      if (records.manifest != nullptr) keep({entry->url, LastComponent(photo.file)});
    } catch (const std::runtime_error& e) {
      photo.kind = PlannedPhoto::Kind::kRefused;
      photo.reason = std::string("no file name can be given: ") + e.what();
    }
    plan.photos.push_back(std::move(photo));
  }
  if (records.manifest != nullptr) {
    // Records of photos the list no longer has stay: their files are still in the folder.
    for (size_t i = 0; i < recorded.size(); ++i) {
      if (!used[i]) kept.push_back(recorded[i]);
    }
    records.manifest->photos = std::move(kept);
  }
  return plan;
}
