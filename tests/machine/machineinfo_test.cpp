#include "machine/machineinfo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/testfolder.h"

namespace fs = std::filesystem;

namespace {

constexpr std::array<uint32_t, 4> kSomeCpu = {0x000906EA, 0x05100800, 0x7FFAFBFF, 0xBFEBFBFF};

// A fake sysfs tree in a folder of its own, removed again at the end of each test.
class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = sandbox_.Dir();
    fs::create_directories(root_ / "block");
    fs::create_directories(root_ / "class" / "net");
    sources_.sysRoot = root_.string();
    sources_.cpuLeaf1 = [] { return std::optional<std::array<uint32_t, 4>>(); };  // no processor signature
  }

  void Write(const fs::path& relative, const std::string& content) {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative, std::ios::binary) << content;
  }
  void AddDisk(const std::string& name) { fs::create_directories(root_ / "block" / name); }
  void AddDiskSerial(const std::string& name, const std::string& serial) {
    Write(fs::path("block") / name / "device" / "serial", serial);
  }
  void AddInterface(const std::string& name, const std::string& address) {
    Write(fs::path("class") / "net" / name / "address", address);
  }

  TestFolder sandbox_;
  fs::path root_;
  MachineSources sources_;
};

using DiskSerial = FakeSysfs;

TEST_F(DiskSerial, SerialTextIsTrimmedAndCapped) {
  struct Case {
    std::string content;
    std::string expected;
  } cases[] = {
      {"WD-WCC4E1234567\n", "WD-WCC4E1234567"},
      {"     S3EWNX0K123456\n", "S3EWNX0K123456"},               // padded in front, as in IDENTIFY data
      {"  S3EWNX0K123456      \n", "S3EWNX0K123456"},            // padded on both sides
      {"AB 12\t\n", "AB 12"},                                    // inner blank stays
      {std::string(20, '\0'), ""},                               // all-zero serial field
      {"", ""},                                                  // empty attribute
      {"   \n", ""},                                             // blanks only
      {"0123456789ABCDEFGHIJKLMNOP\n", "0123456789ABCDEFGHIJ"},  // longer than the serial field
      {"0123456789ABCDEFGHI  KLMNOP\n", "0123456789ABCDEFGHI"},  // the cut leaves a trailing blank
      {std::string("SER\0JUNK", 8), "SER"},                      // text ends at a zero byte
      {"FIRSTLINE\nSECOND\n", "FIRSTLINE"},
  };
  for (const auto& c : cases) {
    AddDiskSerial("sda", c.content);
    EXPECT_EQ(DiskSerialText(sources_), c.expected) << "content \"" << c.content << "\"";
  }
}

TEST_F(DiskSerial, NoDiskGivesEmptyText) {
  EXPECT_EQ(DiskSerialText(sources_), "");
  fs::remove_all(root_ / "block");
  EXPECT_EQ(DiskSerialText(sources_), "");
  sources_.sysRoot = (root_ / "does-not-exist").string();
  EXPECT_EQ(DiskSerialText(sources_), "");
}

TEST_F(DiskSerial, VirtualBlockDevicesAreNoDisks) {
  for (const char* name : {"dm-0", "loop0", "md0", "nbd0", "ram0", "sr0", "zram0", "fd0"}) {
    AddDiskSerial(name, std::string("VIRTUAL-") + name + "\n");
  }
  EXPECT_EQ(DiskSerialText(sources_), "");
  AddDiskSerial("vda", "REAL-DISK\n");
  EXPECT_EQ(DiskSerialText(sources_), "REAL-DISK");
}

TEST_F(DiskSerial, FirstDiskInNaturalOrderIsTheOneRead) {
  AddDiskSerial("sdb", "SECOND\n");
  AddDiskSerial("sda", "FIRST\n");
  EXPECT_EQ(DiskSerialText(sources_), "FIRST");
  AddDiskSerial("nvme10n1", "NVME-TEN\n");
  AddDiskSerial("nvme2n1", "NVME-TWO\n");
  EXPECT_EQ(DiskSerialText(sources_), "NVME-TWO");
}

// Only the first disk names the machine: a second disk's serial must not stand in for a missing one, or
// plugging in a stick would change the identifier's source.
TEST_F(DiskSerial, FirstDiskWithoutSerialGivesEmptyText) {
  AddDisk("sda");
  AddDiskSerial("sdb", "OTHER\n");
  EXPECT_EQ(DiskSerialText(sources_), "");
}

TEST_F(DiskSerial, OtherPlacesOfTheSerial) {
  Write("block/vda/serial", "  VIRTIO-SERIAL\n");  // virtio disks keep it beside the device
  EXPECT_EQ(DiskSerialText(sources_), "VIRTIO-SERIAL");

  fs::remove_all(root_ / "block" / "vda");
  // SCSI inquiry page 0x80: header (qualifier, page code, length) then the serial.
  Write("block/sda/device/vpd_pg80", std::string("\x00\x80\x00\x0c  ZA1B2C3D  ", 16));
  EXPECT_EQ(DiskSerialText(sources_), "ZA1B2C3D");
  // A page claiming more bytes than it holds is read as far as it goes.
  Write("block/sda/device/vpd_pg80", std::string("\x00\x80\x00\xffSHORT", 9));
  EXPECT_EQ(DiskSerialText(sources_), "SHORT");
  // Not page 0x80, or a truncated header: no serial.
  Write("block/sda/device/vpd_pg80", std::string("\x00\x83\x00\x04"
                                                 "ABCD",
                                                 8));
  EXPECT_EQ(DiskSerialText(sources_), "");
  Write("block/sda/device/vpd_pg80", std::string("\x00\x80", 2));
  EXPECT_EQ(DiskSerialText(sources_), "");
}

TEST(CpuSignature, FourRegistersAsUpperCaseHex) {
  MachineSources sources;
  sources.cpuLeaf1 = [] {
    return std::optional(std::array<uint32_t, 4>{0x000906EA, 0x00100800, 0x7FFAFBFF, 0xBFEBFBFF});
  };
  EXPECT_EQ(CpuSignatureText(sources), "000906EA001008007FFAFBFFBFEBFBFF");
  sources.cpuLeaf1 = [] { return std::optional(std::array<uint32_t, 4>{0, 0, 0, 0xa}); };
  EXPECT_EQ(CpuSignatureText(sources), "0000000000000000000000000000000A");
  sources.cpuLeaf1 = [] { return std::optional<std::array<uint32_t, 4>>(); };
  EXPECT_EQ(CpuSignatureText(sources), "");
}

// Two threads of one machine, running on different cores, must see the same signature.
TEST(CpuSignature, CoreNumberDoesNotChangeTheSignature) {
  MachineSources core0, core7;
  core0.cpuLeaf1 = [] { return std::optional(std::array<uint32_t, 4>{0x000906EA, 0x00100800, 1, 2}); };
  core7.cpuLeaf1 = [] { return std::optional(std::array<uint32_t, 4>{0x000906EA, 0x07100800, 1, 2}); };
  EXPECT_EQ(CpuSignatureText(core0), CpuSignatureText(core7));
  EXPECT_EQ(CpuSignatureText(core7),
            "000906EA00100800"
            "0000000100000002");
}

TEST(CpuSignature, RealProcessor) {
  const std::string text = CpuSignatureText();
#if defined(__x86_64__) || defined(__i386__)
  ASSERT_EQ(text.size(), 32u);
  EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF"), std::string::npos) << text;
  EXPECT_EQ(CpuSignatureText(), text);  // stable between calls
#else
  EXPECT_EQ(text, "");
#endif
}

using AdapterAddress = FakeSysfs;

TEST_F(AdapterAddress, FixedPositionNeedsThirteenInterfaces) {
  for (int i = 0; i < 12; ++i) {
    char address[18];
    std::snprintf(address, sizeof address, "02:00:00:00:00:%02x", i);
    AddInterface("eth" + std::to_string(i), std::string(address) + "\n");
  }
  EXPECT_EQ(AdapterAddressText(12, sources_), "");
  EXPECT_EQ(AdapterAddressText(11, sources_), "02000000000B");
  EXPECT_EQ(AdapterAddressText(0, sources_), "020000000000");
  EXPECT_EQ(AdapterAddressText(-1, sources_), "");

  // eth12 sorts after eth2..eth11 (natural order), so it is the thirteenth.
  AddInterface("eth12", "a4:bb:6d:01:02:ff\n");
  EXPECT_EQ(AdapterAddressText(12, sources_), "A4BB6D0102FF");
  EXPECT_EQ(AdapterAddressText(2, sources_), "020000000002");
}

TEST_F(AdapterAddress, InterfaceWithoutUsableAddressGivesEmptyText) {
  const std::string unusable[] = {
      "00:00:00:00:00:00\n",                                            // loopback
      "",                                                               // tunnel: no address
      "80:00:02:08:fe:80:00:00:00:00:00:00:00:02:c9:03:00:0a:be:c1\n",  // 20-byte address
      "02:00:00:00:00\n",                                               // too short
      "02-00-00-00-00-01\n",                                            // wrong separator
      "zz:00:00:00:00:01\n",                                            // not hexadecimal
  };
  for (const std::string& address : unusable) {
    AddInterface("eth0", address);
    EXPECT_EQ(AdapterAddressText(0, sources_), "") << address;
    EXPECT_EQ(AnyAdapterAddressText(sources_), "") << address;
  }
  fs::remove(root_ / "class/net/eth0/address");
  EXPECT_EQ(AdapterAddressText(0, sources_), "");
  EXPECT_EQ(AnyAdapterAddressText(sources_), "");
}

TEST_F(AdapterAddress, LastAnsweringInterfaceWins) {
  AddInterface("eth0", "00:1a:2b:3c:4d:5e\n");
  EXPECT_EQ(AnyAdapterAddressText(sources_), "001A2B3C4D5E");
  AddInterface("eth1", "52:54:00:12:34:56\n");
  EXPECT_EQ(AnyAdapterAddressText(sources_), "525400123456");
  // Interfaces after it without an address do not take its place.
  AddInterface("lo", "00:00:00:00:00:00\n");
  AddInterface("tun0", "");
  EXPECT_EQ(AnyAdapterAddressText(sources_), "525400123456");
  EXPECT_EQ(AdapterAddressText(12, sources_), "");
}

TEST_F(AdapterAddress, NoInterfacesGiveEmptyText) {
  EXPECT_EQ(AnyAdapterAddressText(sources_), "");
  fs::remove_all(root_ / "class");
  EXPECT_EQ(AnyAdapterAddressText(sources_), "");
  EXPECT_EQ(AdapterAddressText(0, sources_), "");
}

TEST(SplitText, NonEmptyPiecesBetweenSeparators) {
  struct Case {
    std::string text, separator;
    std::vector<std::string> pieces;
  } cases[] = {
      {"00-1A-2B-3C-4D-5E", "-", {"00", "1A", "2B", "3C", "4D", "5E"}},
      {"a--b", "-", {"a", "b"}},
      {"-a-", "-", {"a"}},
      {"---", "-", {}},
      {"", "-", {}},
      {"abc", "-", {"abc"}},
      {"a::b::::c", "::", {"a", "b", "c"}},
      {"a:b", "::", {"a:b"}},
      {"aaa", "aa", {"a"}},  // the first occurrence is cut first
      {"abc", "", {"abc"}},  // an empty separator never occurs
      {"", "", {}},
      {std::string("x\0y", 3), std::string("\0", 1), {"x", "y"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SplitText(c.text, c.separator), c.pieces)
        << "\"" << c.text << "\" at \"" << c.separator << "\"";
  }
}

using MachineId = FakeSysfs;

TEST_F(MachineId, DiskSerialComesFirst) {
  AddDiskSerial("sda", "      WD-WMC1T0123456\n");
  sources_.cpuLeaf1 = [] { return std::optional(kSomeCpu); };
  AddInterface("eth0", "00:1a:2b:3c:4d:5e\n");
  EXPECT_EQ(BuildMachineId(sources_), "AWD-WMC1T0123456");
}

TEST_F(MachineId, ZeroSerialFallsBackToTheProcessor) {
  AddDiskSerial("sda", std::string(20, '\0'));
  sources_.cpuLeaf1 = [] { return std::optional(kSomeCpu); };
  EXPECT_EQ(BuildMachineId(sources_), "B000906EA001008007FFAFBFFBFEBFBFF");
}

TEST_F(MachineId, NoDiskFallsBackToTheProcessor) {
  sources_.cpuLeaf1 = [] { return std::optional(kSomeCpu); };
  EXPECT_EQ(BuildMachineId(sources_), "B000906EA001008007FFAFBFFBFEBFBFF");
}

TEST_F(MachineId, AdapterSourcesWhenDiskAndProcessorAreSilent) {
  AddDisk("sda");
  // Fewer than thirteen interfaces: "C" has nothing at its position, "D" takes the last answering one.
  AddInterface("eth0", "00:1a:2b:3c:4d:5e\n");
  AddInterface("eth1", "52:54:00:12:34:56\n");
  AddInterface("lo", "00:00:00:00:00:00\n");
  EXPECT_EQ(BuildMachineId(sources_), "D525400123456");

  for (int i = 2; i < 12; ++i) AddInterface("eth" + std::to_string(i), "02:00:00:00:00:01\n");
  // lo sorts after eth*, so with eth0..eth11 it is at position 12, and its zero address gives nothing.
  EXPECT_EQ(BuildMachineId(sources_), "D020000000001");
  fs::remove_all(root_ / "class/net/lo");
  AddInterface("eth12", "a4:bb:6d:01:02:ff\n");
  EXPECT_EQ(BuildMachineId(sources_), "CA4BB6D0102FF");
}

TEST_F(MachineId, EmptyWhenEverySourceIsSilent) {
  EXPECT_EQ(BuildMachineId(sources_), "");
  AddInterface("lo", "00:00:00:00:00:00\n");
  AddDiskSerial("sda", "   \n");
  EXPECT_EQ(BuildMachineId(sources_), "");
}

TEST(MachineIdOnThisMachine, OneLetterAndItsText) {
  const std::string id = BuildMachineId();
  if (id.empty()) GTEST_SKIP() << "no source answers on this machine";
  ASSERT_GE(id.size(), 2u);
  EXPECT_NE(std::string("ABCD").find(id[0]), std::string::npos) << id;
  EXPECT_EQ(BuildMachineId(), id);  // computed the same way every time
}

}  // namespace
