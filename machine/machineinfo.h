// Sources of the machine identifier that the vendor's client page receives, and its composition.
//
// The identifier is one letter naming the source followed by the text that source gave:
//   "A" the first disk's serial number, "B" the processor signature, "C" the hardware address of the network
//   interface at a fixed list position, "D" the hardware address found by walking all interfaces.
// The sources are tried in that order; the first non-empty one wins. On Linux they read sysfs (disks from
// <root>/block, interfaces from <root>/class/net) and the CPUID instruction; every source gives empty text
// when its device is missing or unreadable, so the composition simply moves on.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where the sources read from. The defaults read the running machine; tests point sysRoot at a fake tree
// and replace the processor query.
struct MachineSources {
  // Root of the sysfs tree.
  std::string sysRoot = "/sys";
  // Returns EAX, EBX, ECX, EDX of CPUID leaf 1, or nothing when the processor cannot answer. Empty means
  // the real instruction (on x86; elsewhere there is no processor signature).
  std::function<std::optional<std::array<uint32_t, 4>>()> cpuLeaf1;
};

// Source "A": the serial number of the first disk (loop, RAM, device-mapper, optical and other virtual
// block devices are not disks), trimmed, at most 20 characters; empty when the first disk has none.
std::string DiskSerialText(const MachineSources& sources = {});

// Source "B": CPUID leaf 1 as EAX, EBX, ECX, EDX, each 8 upper-case hexadecimal digits (32 in all); empty
// where the processor cannot answer. The initial APIC id in EBX is written as zero: it names the core the
// calling thread happened to run on, and would make the identifier change from run to run.
std::string CpuSignatureText(const MachineSources& sources = {});

// Source "C": the hardware address of the network interface at the given position of the sorted interface
// list (counting from 0), as 12 upper-case hexadecimal digits. Empty when the list is shorter, or that
// interface has no six-byte address or only zeros.
std::string AdapterAddressText(int position, const MachineSources& sources = {});

// Source "D": walks all network interfaces in list order; the last one with a non-zero six-byte address
// wins. 12 upper-case hexadecimal digits, or empty when none has one.
std::string AnyAdapterAddressText(const MachineSources& sources = {});

// The non-empty pieces of text between occurrences of separator, in order. An empty separator never
// occurs, so the whole text is the only piece (when it is not empty).
std::vector<std::string> SplitText(std::string_view text, std::string_view separator);

// Composes the identifier: "A", "B", "C" (position 12) or "D" followed by that source's trimmed text, the
// first source with a non-empty text winning; empty text when all four are empty.
std::string BuildMachineId(const MachineSources& sources = {});
