#include "core/photolists.h"

#include <filesystem>
#include <system_error>

#include "core/addresses.h"
#include "core/xmldoc.h"

PhotoListSource::Result ClassicPhotoLists::List(const AlbumEntryFields& album) {
  Result result;
  // A failed fetch leaves no file, so it can never be mistaken for the previous album's list.
  std::error_code ec;
  std::filesystem::remove(setup_.replyFile, ec);
  result.report =
      FetchWithRetries(PhotoListAddress(album, setup_.qqNumber, setup_.photoListHost, setup_.albumViewHost),
                       setup_.replyFile, setup_.options, setup_.retry, setup_.stopRequested);
  if (!result.report.ok) return result;
  try {
    const XmlDocument list = XmlDocument::LoadFromFile(setup_.replyFile);
    const XmlNode first = FirstPhotoNode(list);
    if (!first) {
      result.unusable = "the photo list holds no photo";
      return result;
    }
    result.listing = ListPhotoNodes(first);
  } catch (const EXmlDocument& e) {
    result.unusable = std::string("the photo list cannot be read: ") + e.what();
  }
  return result;
}
