// The addresses of the album service's three calls: which hosts serve a QQ number, its album list, and one
// album's photo list. Values that come from replies are percent-encoded so they cannot change the query.
#pragma once

#include <string>
#include <string_view>

#include "core/jobhost.h"

// "http://" + routeHost + "/GetRoute?UIN=" + qqNumber + "&type=json&version=2"
std::string RouteAddress(std::string_view routeHost, std::string_view qqNumber);
// "http://" + albumListHost + "/fcgi-bin/fcg_list_album?uin=" + qqNumber + "&refer=portal"
std::string AlbumListAddress(std::string_view albumListHost, std::string_view qqNumber);
// For priv exactly "1" the photo-list host's fcg_list_photo, else the view-album host's cgi_view_album.
std::string PhotoListAddress(const AlbumEntryFields& album, std::string_view qqNumber,
                             std::string_view photoListHost, std::string_view albumViewHost);
