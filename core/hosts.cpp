#include "core/hosts.h"

#include <cstdlib>

#include "core/currentservice.h"

namespace {

constexpr const char* kBuiltInRouteHost = "route.store.qq.com";
constexpr const char* kBuiltInVendorHost = "www.lorvanta.net";

std::string FromEnvironment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  std::string host = (value != nullptr) ? value : "";
  // Tolerate a pasted address: the callers add the scheme and the path themselves.
  if (host.rfind("http://", 0) == 0) host.erase(0, 7);
  while (!host.empty() && (host.back() == '/' || static_cast<unsigned char>(host.back()) <= ' '))
    host.pop_back();
  while (!host.empty() && static_cast<unsigned char>(host.front()) <= ' ') host.erase(0, 1);
  return host.empty() ? std::string(fallback) : host;
}

}  // namespace

std::string RouteHost() {
  return FromEnvironment("LORVANTA_ROUTE_HOST", kBuiltInRouteHost);
}

std::string VendorHost() {
  return FromEnvironment("LORVANTA_VENDOR_HOST", kBuiltInVendorHost);
}

std::string SignInPageAddress() {
  return SignInPageAddress(MakeSignInHosts(LoginHostOverride()));
}

std::string LoginHostOverride() {
  const char* value = std::getenv("LORVANTA_LOGIN_HOST");
  return value != nullptr ? value : "";
}

std::string SiteHostOverride() {
  const char* value = std::getenv("LORVANTA_SITE_HOST");
  return value != nullptr ? value : "";
}

std::string BuiltInVendorBase() {
  return "http://" + VendorHost();
}
