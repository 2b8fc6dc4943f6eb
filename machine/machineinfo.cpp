#include "machine/machineinfo.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace fs = std::filesystem;

namespace {

// The length of the serial number field of a disk's IDENTIFY data; identifiers never carry more.
constexpr size_t kSerialFieldLength = 20;

// sysfs attributes are a few bytes; anything longer than this is not one.
constexpr std::streamsize kMaxAttributeBytes = 4096;

// The interface list position that source "C" reads.
constexpr int kFixedAdapterPosition = 12;

bool IsBlankByte(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

// Removes leading and trailing bytes with codes 0 to 32.
std::string TrimControlBytes(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlankByte(text[begin])) ++begin;
  while (end > begin && IsBlankByte(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

// Reads a small attribute file whole; nothing when it cannot be read.
std::optional<std::string> ReadAttribute(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string content(static_cast<size_t>(kMaxAttributeBytes), '\0');
  in.read(content.data(), kMaxAttributeBytes);
  if (in.bad()) return std::nullopt;
  content.resize(static_cast<size_t>(in.gcount()));
  return content;
}

// Orders names as people count them: "sd2" before "sd10", "eth9" before "eth10". Runs of digits compare by
// value; everything else byte by byte.
bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      size_t ie = i, je = j;
      while (ie < a.size() && isDigit(a[ie])) ++ie;
      while (je < b.size() && isDigit(b[je])) ++je;
      // Compare the runs without leading zeros: longer means larger.
      size_t is = i, js = j;
      while (is + 1 < ie && a[is] == '0') ++is;
      while (js + 1 < je && b[js] == '0') ++js;
      if (ie - is != je - js) return ie - is < je - js;
      const int cmp = a.compare(is, ie - is, b, js, je - js);
      if (cmp != 0) return cmp < 0;
      i = ie;
      j = je;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i;
      ++j;
    }
  }
  if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
  return a < b;  // equal by value ("sd01" vs "sd1"): any fixed order will do
}

// Names of the entries of a folder that are (or link to) folders, in natural order.
std::vector<std::string> SortedSubfolders(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::error_code typeError;
    if (fs::is_directory(it->path(), typeError)) names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  return names;
}

// Block devices that are no physical disk: loop files, RAM disks, device-mapper and software RAID volumes,
// network block devices, floppies and optical drives.
bool IsVirtualBlockDevice(const std::string& name) {
  static const char* const kPrefixes[] = {"loop", "ram", "zram", "dm-", "md", "nbd", "sr", "fd"};
  for (const char* prefix : kPrefixes) {
    if (name.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

// The serial from a sysfs text attribute: the text up to the end of its first line (or a zero byte).
std::string SerialFromText(const std::string& content) {
  const size_t end = content.find_first_of(std::string_view("\0\n", 2));
  return TrimControlBytes(std::string_view(content).substr(0, end));
}

// The serial from SCSI inquiry page 0x80 (unit serial number): a 4-byte header whose last two bytes give
// the length, then the serial. SATA disks behind libata show their serial only here.
std::string SerialFromInquiryPage(const std::string& page) {
  if (page.size() < 4 || static_cast<unsigned char>(page[1]) != 0x80) return {};
  const size_t length =
      static_cast<size_t>(static_cast<unsigned char>(page[2])) << 8 | static_cast<unsigned char>(page[3]);
  const std::string_view serial = std::string_view(page).substr(4, length);
  return TrimControlBytes(serial.substr(0, serial.find('\0')));
}

// Six bytes from "aa:bb:cc:dd:ee:ff"; nothing for other lengths or malformed text.
std::optional<std::array<unsigned char, 6>> ParseHardwareAddress(std::string_view text) {
  const std::string trimmed = TrimControlBytes(text);
  if (trimmed.size() != 17) return std::nullopt;
  std::array<unsigned char, 6> bytes{};
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t k = 0; k < 6; ++k) {
    const int high = nibble(trimmed[3 * k]);
    const int low = nibble(trimmed[3 * k + 1]);
    if (high < 0 || low < 0 || (k < 5 && trimmed[3 * k + 2] != ':')) return std::nullopt;
    bytes[k] = static_cast<unsigned char>(high << 4 | low);
  }
  return bytes;
}

// The interface's six-byte address when it has one that is not all zeros (the loopback and tunnels have
// none worth naming a machine by).
std::optional<std::array<unsigned char, 6>> InterfaceAddress(const fs::path& interfaceFolder) {
  const auto content = ReadAttribute(interfaceFolder / "address");
  if (!content) return std::nullopt;
  const auto bytes = ParseHardwareAddress(*content);
  if (!bytes) return std::nullopt;
  if (std::all_of(bytes->begin(), bytes->end(), [](unsigned char b) { return b == 0; })) return std::nullopt;
  return bytes;
}

std::string HexBytes(const std::array<unsigned char, 6>& bytes, const char* separator) {
  std::string text;
  char digits[3];
  for (size_t k = 0; k < bytes.size(); ++k) {
    if (k) text += separator;
    std::snprintf(digits, sizeof digits, "%02X", bytes[k]);
    text += digits;
  }
  return text;
}

std::optional<std::array<uint32_t, 4>> HardwareCpuLeaf1() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return std::nullopt;
  return std::array<uint32_t, 4>{eax, ebx, ecx, edx};
#else
  return std::nullopt;
#endif
}

}  // namespace

std::string DiskSerialText(const MachineSources& sources) {
  const fs::path blockRoot = fs::path(sources.sysRoot) / "block";
  for (const std::string& name : SortedSubfolders(blockRoot)) {
    if (IsVirtualBlockDevice(name)) continue;
    // Only the first disk counts, as for the first physical drive: a disk without a readable serial gives
    // empty text rather than the serial of some other disk.
    const fs::path disk = blockRoot / name;
    std::string serial;
    for (const fs::path& attribute : {disk / "device" / "serial", disk / "serial"}) {
      if (auto content = ReadAttribute(attribute)) {
        serial = SerialFromText(*content);
        if (!serial.empty()) break;
      }
    }
    if (serial.empty()) {
      if (auto page = ReadAttribute(disk / "device" / "vpd_pg80")) serial = SerialFromInquiryPage(*page);
    }
    if (serial.size() > kSerialFieldLength) serial = TrimControlBytes(serial.substr(0, kSerialFieldLength));
    return serial;
  }
  return {};
}

std::string CpuSignatureText(const MachineSources& sources) {
  const auto registers = sources.cpuLeaf1 ? sources.cpuLeaf1() : HardwareCpuLeaf1();
  if (!registers) return {};
  std::array<uint32_t, 4> values = *registers;
  values[1] &= 0x00FFFFFFu;  // EBX bits 31..24: the initial APIC id of the current core
  char text[33];
  std::snprintf(text, sizeof text, "%08X%08X%08X%08X", values[0], values[1], values[2], values[3]);
  return text;
}

std::string AdapterAddressText(int position, const MachineSources& sources) {
  if (position < 0) return {};
  const fs::path netRoot = fs::path(sources.sysRoot) / "class" / "net";
  const std::vector<std::string> interfaces = SortedSubfolders(netRoot);
  if (static_cast<size_t>(position) >= interfaces.size()) return {};
  const auto bytes = InterfaceAddress(netRoot / interfaces[static_cast<size_t>(position)]);
  return bytes ? HexBytes(*bytes, "") : std::string();
}

std::string AnyAdapterAddressText(const MachineSources& sources) {
  const fs::path netRoot = fs::path(sources.sysRoot) / "class" / "net";
  std::string working;
  for (const std::string& name : SortedSubfolders(netRoot)) {
    if (const auto bytes = InterfaceAddress(netRoot / name)) working = HexBytes(*bytes, "-");
  }
  std::string joined;
  for (const std::string& piece : SplitText(working, "-")) joined += piece;
  return joined;
}

std::vector<std::string> SplitText(std::string_view text, std::string_view separator) {
  std::vector<std::string> pieces;
  if (!separator.empty()) {
    for (size_t at = text.find(separator); at != std::string_view::npos; at = text.find(separator)) {
      if (at > 0) pieces.emplace_back(text.substr(0, at));
      text.remove_prefix(at + separator.size());
    }
  }
  if (!text.empty()) pieces.emplace_back(text);
  return pieces;
}

std::string BuildMachineId(const MachineSources& sources) {
  // Each step replaces the whole text, so an identifier never carries more than one letter.
  std::string id = "A" + TrimControlBytes(DiskSerialText(sources));
  if (id.size() == 1) id = "B" + TrimControlBytes(CpuSignatureText(sources));
  if (id.size() == 1) id = "C" + TrimControlBytes(AdapterAddressText(kFixedAdapterPosition, sources));
  if (id.size() == 1) id = "D" + TrimControlBytes(AnyAdapterAddressText(sources));
  if (id.size() == 1) id.clear();
  return id;
}
