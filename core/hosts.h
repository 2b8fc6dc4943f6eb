// Built-in addresses of the two services whose hosts are ours to choose: the album route service and the
// vendor site. Both can be pointed elsewhere (the bundled album service, a test server) through the
// environment, without any settings file.
#pragma once

#include <string>

// Host (or host:port) of the album route service. LORVANTA_ROUTE_HOST overrides the built-in one.
std::string RouteHost();

// Host (or host:port) of the vendor site. LORVANTA_VENDOR_HOST overrides the built-in one.
std::string VendorHost();

// "http://" + VendorHost(), without a trailing slash: the initial vendorBase.
std::string BuiltInVendorBase();

// QQ's sign-in page for the album site (a QR code or a password), which returns to the site signed in.
// LORVANTA_LOGIN_HOST ("http://HOST:PORT" for a test server, a bare host meaning https) stands in for its
// host.
std::string SignInPageAddress();
// QQ's sign-in host as LORVANTA_LOGIN_HOST gives it (see MakeSignInHosts); empty: the built-in ones.
std::string LoginHostOverride();

// The album site's host as LORVANTA_SITE_HOST gives it (see MakeSiteHosts); empty: the built-in ones.
std::string SiteHostOverride();
