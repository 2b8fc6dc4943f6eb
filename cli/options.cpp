#include "cli/options.h"

#include <cstdlib>
#include <iostream>
#include <vector>

#include "app/hosts.h"
#include "app/qqnumber.h"

namespace {

constexpr const char* kVersion = "lorvanta-cli " LORVANTA_VERSION;

const char* kUsage =
    "usage: lorvanta-cli preview QQ [--route-host H] [--json] [--page FILE] [--client-number N]\n"
    "                               [--cookies FILE] [--cookies-out FILE]\n"
    "       lorvanta-cli download QQ [--to DIR] [--album ID]... [--skip ID]... [--route-host H]\n"
    "                                [--jobs N] [--retries N] [--rate LIMIT] [--max-photo-size SIZE]\n"
    "                                [--update [--keep-deleted]] [--write-metadata] [--quiet] [--json]\n"
    "                                [--cookies FILE] [--cookies-out FILE]\n"
    "       lorvanta-cli --help | --version\n"
    "\n"
    "preview   lists the albums of a QQ number (number, id, privacy, photo count, name);\n"
    "          --page FILE writes the album list page as the window shows it (GBK bytes).\n"
    "download  downloads the albums (all unless --album names some; --skip leaves some out) into\n"
    "          DIR/<QQ>的相册/, one folder per album; an older copy is moved aside to a backup name.\n"
    "          --jobs N fetches up to N photos of an album at once (default 1, at most 32); the\n"
    "          folder tree is the same for every N. --retries N tries a photo again up to N times\n"
    "          (default 0) after a connection error, a time-out, 429 or 5xx, waiting longer each\n"
    "          time and at least as long as the server's Retry-After asks. --rate LIMIT caps the\n"
    "          download rate in bytes per second (suffix k or m for KiB, MiB), one budget shared by\n"
    "          all --jobs. --max-photo-size SIZE (default 256m; suffix k, m or g) fails a photo\n"
    "          that is larger. A reply slower than 1 KiB/s for 30 s fails too (retries apply).\n"
    "--update  keeps the album root and fetches only the photos that are not there yet (new albums\n"
    "          too), by a manifest (.lorvanta-album.json) in each album folder; a photo deleted by\n"
    "          hand comes back, unless --keep-deleted. Folders without a manifest are left alone and\n"
    "          the albums get new folders. --write-metadata writes the manifest (album fields and\n"
    "          photos) without --update too; a plain download writes the window's tree only.\n"
    "\n"
    "--cookies FILE sends the cookies of a Netscape cookie file (cookies.txt, as browsers' export\n"
    "          add-ons, curl and wget write it) to the hosts they belong to, so a signed-in session\n"
    "          reaches private albums; cookies that replies set are kept for the run, and written\n"
    "          with --cookies-out FILE (mode 0600) at its end. Keep such files private.\n"
    "--route-host defaults to LORVANTA_ROUTE_HOST, else the built-in album route service.\n"
    "--album ID that the list does not hold is bad usage (nothing is changed); an unknown --skip ID\n"
    "is a warning. Failed photos and albums are named with their reason.\n"
    "exit codes: 0 all downloaded, 1 some photos or albums failed, or an output could not be\n"
    "            written, 2 bad usage or invalid QQ number,\n"
    "            3 the album list could not be retrieved, 4 a manifest of the album root cannot be\n"
    "            read (nothing was fetched or changed), 130 interrupted.\n";

}  // namespace

[[noreturn]] void UsageError(const std::string& message) {
  std::cerr << "lorvanta-cli: " << message << "\n(try lorvanta-cli --help)\n";
  std::exit(kExitUsage);
}

namespace {

int CountValue(const std::string& option, const std::string& v, int least, int most) {
  const bool digits = !v.empty() && v.size() <= 4 && v.find_first_not_of("0123456789") == std::string::npos;
  const int n = digits ? std::stoi(v) : -1;
  if (n < least || n > most)
    UsageError(option + " takes a whole number from " + std::to_string(least) + " to " +
               std::to_string(most));
  return n;
}

// "500000", "300k", "2M", "1g": a number of bytes; 0 for text of another shape.
long long ByteCount(const std::string& v, bool gigabytes) {
  size_t digits = 0;
  while (digits < v.size() && digits < 12 && v[digits] >= '0' && v[digits] <= '9') ++digits;
  const std::string unit = v.substr(digits);
  long long factor = 0;
  if (unit.empty()) factor = 1;
  if (unit == "k" || unit == "K") factor = 1024;
  if (unit == "m" || unit == "M") factor = 1024 * 1024;
  if (gigabytes && (unit == "g" || unit == "G")) factor = 1024LL * 1024 * 1024;
  return digits > 0 && factor > 0 ? std::stoll(v.substr(0, digits)) * factor : 0;
}

// Bytes per second, at least 1 KiB.
long long RateValue(const std::string& v) {
  const long long n = ByteCount(v, false);
  if (n < 1024) UsageError("--rate takes bytes per second, at least 1024 (e.g. 500k, 2M): " + v);
  return n;
}

long long PhotoSizeValue(const std::string& v) {
  const long long n = ByteCount(v, true);
  if (n < 1024 || n > 64LL * 1024 * 1024 * 1024)
    UsageError("--max-photo-size takes a size from 1k to 64g (e.g. 50m): " + v);
  return n;
}

}  // namespace

Options ParseArguments(int argc, char** argv) {
  Options o;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) UsageError("no command given");
  for (const auto& a : args) {
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      std::exit(kExitOk);
    }
    if (a == "--version") {
      std::cout << kVersion << "\n";
      std::exit(kExitOk);
    }
  }
  o.command = args[0];
  if (o.command != "preview" && o.command != "download") UsageError("unknown command: " + o.command);
  const bool download = o.command == "download";
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) UsageError(a + " needs a value");
      return args[++i];
    };
    if (a == "--route-host") {
      o.routeHost = value();
    } else if (a == "--cookies") {
      o.cookiesIn = value();
    } else if (a == "--cookies-out") {
      o.cookiesOut = value();
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--page" && !download) {
      o.pageFile = value();
    } else if (a == "--client-number" && !download) {
      const std::string v = value();
      if (v.empty() || v.size() > 9 || v.find_first_not_of("0123456789") != std::string::npos)
        UsageError("--client-number takes a whole number");
      o.clientNumber = std::stoi(v);
    } else if (a == "--to" && download) {
      o.to = value();
    } else if (a == "--album" && download) {
      o.albums.insert(value());
    } else if (a == "--skip" && download) {
      o.skips.insert(value());
    } else if (a == "--jobs" && download) {
      o.jobs = CountValue(a, value(), 1, 32);
    } else if (a == "--retries" && download) {
      o.retries = CountValue(a, value(), 0, 100);
    } else if (a == "--rate" && download) {
      o.rate = RateValue(value());
    } else if (a == "--max-photo-size" && download) {
      o.maxPhotoBytes = PhotoSizeValue(value());
    } else if (a == "--update" && download) {
      o.update = true;
    } else if (a == "--keep-deleted" && download) {
      o.keepDeleted = true;
    } else if (a == "--write-metadata" && download) {
      o.writeMetadata = true;
    } else if (a == "--quiet" && download) {
      o.quiet = true;
    } else if (!a.empty() && a[0] == '-') {
      UsageError("unknown option for " + o.command + ": " + a);
    } else if (o.qq.empty()) {
      o.qq = a;
      if (o.qq.empty()) UsageError("empty QQ number");
    } else {
      UsageError("unexpected argument: " + a);
    }
  }
  if (o.qq.empty()) UsageError("no QQ number given");
  if (o.keepDeleted && !o.update) UsageError("--keep-deleted needs --update");
  if (!IsValidQQNumber(o.qq)) {
    std::cerr << "lorvanta-cli: not a valid QQ number: at least 5 digits, digits only\n";
    std::exit(kExitUsage);
  }
  if (o.routeHost.empty()) o.routeHost = RouteHost();
  return o;
}

