// The bodies albumd sends: the route reply, the album and photo lists (GBK XML) and the vendor's pages.
#pragma once

#include <string>

#include "tools/albumd/account.h"

namespace albumd {

struct Reply {
  int status = 200;
  std::string contentType;
  std::string body;
};

// Addresses of the images an account's lists hand out; host is albumd's own host:port.
std::string CoverAddress(const std::string& host, const Account& account, size_t album);
std::string PhotoAddress(const std::string& host, const Account& account, size_t album, size_t photo);
std::string RedirectAddress(const std::string& host, const Account& account, size_t album, size_t photo);
// The address a photo list gives for a photo: its literal url ("{host}" filled in), the redirecting
// address for a "redirect" photo, else its photo address.
std::string ListedPhotoAddress(const std::string& host, const Account& account, size_t album, size_t photo);
// The file extension of an image name ("jpg", "gif", "png"), lower case.
std::string ImageExtension(const std::string& image);
std::string ImageContentType(const std::string& image);

// "/GetRoute": every host in it is albumd's own. An unknown account gets the ordinary reply.
Reply RouteReply(const Account* account, const std::string& host);

// "/fcgi-bin/fcg_list_album". An unknown account gets a "data" element without albums. Without a
// session (signedIn false) the albums that need one are left out.
Reply AlbumListReply(const Account* account, const std::string& qq, const std::string& host, bool signedIn);

// "/fcgi-bin/fcg_list_photo" and "/cgi-bin/common/cgi_view_album" for album number `album`.
Reply PhotoListReply(const Account& account, size_t album, const std::string& host);
// What both photo list addresses give for an album that needs a session the request does not carry:
// an "album" with the service's code and message and no "pic".
Reply NotSignedInReply();
// A cover, a photo or an album page that needs a session the request does not carry.
Reply ForbiddenReply();

struct VendorSettings {
  bool subhost = true;           // the client page carries the "subhost" field
  std::string demoQQ = "10001";  // the account the client page's link command previews
};

// Reads "<dataDir>/vendor.ini" ("subhost = yes|no", "demo = QQ"); defaults when it is missing.
VendorSettings LoadVendorSettings(const std::string& dataDir);

// "/client.php?clientver=2.1&clientrand=ID[&comefrom=client]".
Reply ClientPage(const VendorSettings& settings, const std::string& host, const std::string& clientRand,
                 bool fromClient);

// Where the vendor's pages lead back to: the client page for this client number ("/client.php?...",
// relative, so a browser stays on the host it signed in at).
std::string ClientPageTarget(const std::string& clientRand, bool fromClient);

// Where a sign-in came from: the client page (a client number) or nowhere (a plain request).
struct SignInOrigin {
  bool fromClientPage = false;  // the sign-in page was opened with a clientrand
  std::string clientRand;
  bool fromClient = false;  // comefrom=client
};

// "/login.php": the form (uin, password; POST to /login.php), with the QQ number filled in and a line
// saying the last try failed when `failed`.
Reply SignInPage(const SignInOrigin& origin, const std::string& uin, bool failed);
// The answer to a sign-in, or to a sign-out, when there is no client page to go back to.
Reply SignedInPage(const std::string& qq);
Reply SignedOutPage();

// "/<client>_<qq>": the account's albums online; "/<client>_<qq>/photo/<albumid>": one album online.
// Without a session the albums that need one are left out, and their pages are forbidden.
Reply AccountPage(const Account* account, const std::string& client, const std::string& qq,
                  const std::string& host, bool signedIn);
Reply AlbumPage(const Account* account, const std::string& client, const std::string& qq,
                const std::string& albumId, const std::string& host, bool signedIn);

}  // namespace albumd
