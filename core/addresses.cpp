#include "core/addresses.h"

#include "core/textutil.h"

std::string RouteAddress(std::string_view routeHost, std::string_view qqNumber) {
  return "http://" + std::string(routeHost) + "/GetRoute?UIN=" + std::string(qqNumber) +
         "&type=json&version=2";
}

std::string AlbumListAddress(std::string_view albumListHost, std::string_view qqNumber) {
  return "http://" + std::string(albumListHost) + "/fcgi-bin/fcg_list_album?uin=" + std::string(qqNumber) +
         "&refer=portal";
}

std::string PhotoListAddress(const AlbumEntryFields& album, std::string_view qqNumber,
                             std::string_view photoListHost, std::string_view albumViewHost) {
  if (album.priv == "1") {
    return "http://" + std::string(photoListHost) + "/fcgi-bin/fcg_list_photo?uin=" + std::string(qqNumber) +
           "&albumid=" + PercentEncode(album.id);
  }
  return "http://" + std::string(albumViewHost) +
         "/cgi-bin/common/cgi_view_album?uin=" + std::string(qqNumber) +
         "&refer=portal&albumid=" + PercentEncode(album.id);
}
