#include "system/VSystem.h"

#include "core/StStringConverter.h"
#include "support/FileTestSupport.h"
#include "system/platform/XPosixInventory.h"
#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <net/if.h>
#include <string>
#include <vector>

namespace vela {
namespace {

using Inventory = XPosixInventory;

std::string Prop(const VJSONValue& object, const char* name) {
    VString text;
    object.GetObjectPtr()->GetProperty(VString(name)).GetString(text);
    return to_string(text);
}

double Number(const VJSONValue& object, const char* name) {
    return object.GetObjectPtr()->GetProperty(VString(name)).GetNumber();
}

class InventoryFiles : public test::TempFolderFixture {
protected:
    // The mounts of a mountinfo file holding table.
    std::vector<Inventory::Mount> Mounts(const std::string& table) {
        WriteBytes(Posix("mountinfo"), table);
        std::vector<Inventory::Mount> mounts;
        EXPECT_TRUE(Inventory::ReadMounts(Posix("mountinfo").c_str(), mounts));
        return mounts;
    }
    // An interface folder as /sys/class/net holds it.
    void AddInterface(const std::string& name, const std::string& flags, const std::string& type, bool wireless) {
        std::filesystem::create_directories(Posix("net/" + name));
        if (!flags.empty()) WriteBytes(Posix("net/" + name + "/flags"), flags + "\n");
        if (!type.empty()) WriteBytes(Posix("net/" + name + "/type"), type + "\n");
        if (wireless) std::filesystem::create_directories(Posix("net/" + name + "/wireless"));
    }
};

TEST_F(InventoryFiles, TrafficTotalsSumEveryInterfaceButLoopback) {
    AddInterface("lo", "0x9", "772", false);
    AddInterface("eth0", "0x1003", "1", false);
    // No folder for wg0: its flags are unknown, so it counts.
    WriteBytes(Posix("dev"), "Inter-|   Receive                            |  Transmit\n"
                             " face |bytes    packets errs drop fifo frame compressed multicast|bytes ...\n"
                             "    lo: 5000 10 0 0 0 0 0 0 5000 10 0 0 0 0 0 0\n"
                             "  eth0: 1200 7 0 0 0 0 0 0 300 4 0 0 0 0 0 0\n"
                             "   wg0:34 1 0 0 0 0 0 0 66 1 0 0 0 0 0 0\n"
                             "  bad0: 12 truncated\n");
    double in = -1;
    double out = -1;
    ASSERT_TRUE(Inventory::ReadTrafficTotals(Posix("dev").c_str(), Posix("net").c_str(), in, out));
    EXPECT_EQ(in, 1234);
    EXPECT_EQ(out, 366);
    EXPECT_FALSE(Inventory::ReadTrafficTotals(Posix("missing").c_str(), Posix("net").c_str(), in, out));
}

TEST(InventoryTraffic, RatesNeedAnEarlierSampleTimeThatPassedAndCountersThatGrew) {
    struct Step {
        uint64 now;
        double in, out;
        bool answered;
        double inRate, outRate;
    };
    const Step steps[] = {
        {1000, 100, 100, false, 0, 0},     // no earlier sample
        {1500, 600, 200, true, 1000, 200}, // 500 bytes in half a second
        {1500, 700, 300, false, 0, 0},     // the same millisecond: no division by zero
        {2500, 600, 400, false, 0, 0},     // input went down (counters reset)
        {4500, 1600, 400, true, 500, 0},   // measured from the sample that was refused
    };
    Inventory::TrafficSampler sampler;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.now);
        std::vector<double> rates;
        EXPECT_EQ(sampler.Sample(step.now, step.in, step.out, rates), step.answered);
        if (step.answered)
            EXPECT_EQ(rates, (std::vector<double>{step.inRate, step.outRate}));
        else
            EXPECT_TRUE(rates.empty());
    }
}

TEST(InventoryAdapters, AnAddressQualifiesOnlyOnAnUpMulticastBroadcastLikeLink) {
    const uint32 up = IFF_UP | IFF_MULTICAST;
    struct Case {
        const char* what;
        uint32 flags;
        bool ipv6, netmask;
        uint32 addressFlags;
        bool usable;
    };
    const Case cases[] = {
        {"plain ipv4", up | IFF_BROADCAST | IFF_RUNNING, false, true, 0, true},
        {"down", IFF_MULTICAST, false, true, 0, false},
        {"no multicast", IFF_UP, false, true, 0, false},
        {"loopback", up | IFF_LOOPBACK, false, true, 0, false},
        {"point-to-point", up | IFF_POINTOPOINT, false, true, 0, false},
        {"no netmask", up, false, false, 0, false},
        {"plain ipv6", up, true, true, 0x80, true},
        {"temporary", up, true, true, 0x01, false},
        {"failed", up, true, true, 0x08, false},
        {"deprecated", up, true, true, 0x20, false},
        {"tentative", up, true, true, 0x40, false},
        {"ipv4 ignores address flags", up, false, true, 0x40, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Inventory::Address address;
        address.fInterface = "eth0";
        address.fInterfaceFlags = c.flags;
        address.fIPv6 = c.ipv6;
        address.fText = "192.0.2.1";
        address.fHasNetmask = c.netmask;
        address.fAddressFlags = c.addressFlags;
        EXPECT_EQ(Inventory::IsUsableAddress(address), c.usable);
    }
}

TEST_F(InventoryFiles, AdaptersGroupTheirAddressesAndNameTheirKind) {
    AddInterface("wlan0", "0x1003", "1", true);
    AddInterface("eth0", "0x1003", "1", false);
    AddInterface("bond0", "0x1403", "768", false);
    const uint32 up = IFF_UP | IFF_MULTICAST | IFF_BROADCAST;
    auto address = [](const char* name, uint32 flags, bool ipv6, const char* text) {
        Inventory::Address a;
        a.fInterface = name;
        a.fInterfaceFlags = flags;
        a.fIPv6 = ipv6;
        a.fText = text;
        a.fHasNetmask = true;
        return a;
    };
    const std::vector<Inventory::Address> addresses = {
        address("lo", IFF_UP | IFF_LOOPBACK, false, "127.0.0.1"),
        address("wlan0", up, false, "192.168.1.5"),
        address("eth0", up, false, "10.0.0.2"),
        address("wlan0", up, true, "fe80::1"),
        address("bond0", up, false, "10.1.0.1"),
        address("tun0", IFF_UP | IFF_POINTOPOINT, false, "10.8.0.1"),
    };
    VJSONArray adapters;
    Inventory::AppendAdapters(addresses, Posix("net").c_str(), adapters);
    ASSERT_EQ(adapters.GetCount(), 3u);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"wlan0", "wifi"}, {"eth0", "ethernet"}, {"bond0", "768"}};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(Prop(adapters.GetAt(i), "name"), expected[i].first);
        EXPECT_EQ(Prop(adapters.GetAt(i), "type"), expected[i].second);
    }
    const VJSONArray* wifi = adapters.GetAt(0).GetObjectPtr()->GetProperty(VString("ipAddresses")).GetArrayPtr();
    ASSERT_NE(wifi, nullptr);
    ASSERT_EQ(wifi->GetCount(), 2u);
    EXPECT_EQ(Prop(wifi->GetAt(0), "ip"), "192.168.1.5");
    EXPECT_EQ(Prop(wifi->GetAt(0), "type"), "ipv4");
    EXPECT_EQ(Prop(wifi->GetAt(1), "ip"), "fe80::1");
    EXPECT_EQ(Prop(wifi->GetAt(1), "type"), "ipv6");

    // A machine with nothing but loopback lists no adapter.
    VJSONArray none;
    Inventory::AppendAdapters({addresses[0]}, Posix("net").c_str(), none);
    EXPECT_EQ(none.GetCount(), 0u);
}

TEST_F(InventoryFiles, VolumesComeFromTheMountTableAndSkipThoseWithoutBlocks) {
    const std::vector<Inventory::Mount> mounts = Mounts("22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                                                        "23 22 0:21 / /proc rw,nosuid - proc proc rw\n"
                                                        "24 22 8:2 / /media/My\\040Disk rw shared:2 master:1 - vfat "
                                                        "/dev/sdb1 rw\n"
                                                        "25 22 0:50 / /mnt/share rw - nfs4 server:/export rw\n"
                                                        "26 22 0:51 / /gone rw - ext4 /dev/sdc1 rw\n"
                                                        "garbage line\n");
    ASSERT_EQ(mounts.size(), 5u);
    EXPECT_EQ(mounts[2].fMountPoint, "/media/My Disk");
    EXPECT_EQ(mounts[2].fFileSystem, "vfat");
    EXPECT_EQ(mounts[2].fSource, "/dev/sdb1");
    EXPECT_EQ(mounts[2].fDeviceNumber, "8:2");

    // Sizes large enough that blocks × block size in bytes would not fit in 64 bits.
    const std::map<std::string, Inventory::Usage> usages = {
        {"/", {1000, 250, 4096}},
        {"/proc", {0, 0, 4096}},
        {"/media/My Disk", {uint64(1) << 56, uint64(1) << 55, 4096}},
        {"/mnt/share", {10, 5, 512}},
    };
    auto usageOf = [&](const std::string& mountPoint, Inventory::Usage& usage) {
        auto found = usages.find(mountPoint);
        if (found == usages.end()) return false;
        usage = found->second;
        return true;
    };
    VJSONArray volumes;
    // Without a device tree, the disk is described by the mount's source.
    Inventory::AppendVolumes(mounts, usageOf, Inventory::Roots{Posix("sys"), Posix("dev")}, volumes);
    ASSERT_EQ(volumes.GetCount(), 3u);
    EXPECT_EQ(Prop(volumes.GetAt(0), "mountPoint"), "/");
    EXPECT_EQ(Prop(volumes.GetAt(0), "name"), "/");
    EXPECT_EQ(Prop(volumes.GetAt(0), "filesystem"), "ext4");
    EXPECT_EQ(Number(volumes.GetAt(0), "capacity"), 4000);
    EXPECT_EQ(Number(volumes.GetAt(0), "available"), 1000);
    const VJSONValue root = volumes.GetAt(0).GetObjectPtr()->GetProperty(VString("disk"));
    EXPECT_EQ(Prop(root, "description"), "/dev/sda1");
    EXPECT_EQ(Prop(root, "identifier"), "");
    EXPECT_EQ(Number(root, "size"), 4096000);

    EXPECT_EQ(Prop(volumes.GetAt(1), "name"), "My Disk");
    EXPECT_EQ(Number(volumes.GetAt(1), "capacity"), double(uint64(1) << 58));
    EXPECT_EQ(Number(volumes.GetAt(1), "available"), double(uint64(1) << 57));

    const VJSONValue share = volumes.GetAt(2).GetObjectPtr()->GetProperty(VString("disk"));
    EXPECT_EQ(Prop(share, "interface"), "network");
    EXPECT_EQ(Prop(share, "size"), "");
    // Its usage is never asked for: an unreachable server would keep statvfs waiting.
    EXPECT_FALSE(volumes.GetAt(2).GetObjectPtr()->HasProperty(VString("capacity")));
}

TEST_F(InventoryFiles, MountsThatMayBlockAreNeverAskedForTheirUsage) {
    const std::vector<Inventory::Mount> mounts = Mounts("22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                                        "25 22 0:50 / /mnt/nfs rw - nfs server:/export rw\n"
                                                        "26 22 0:51 / /mnt/smb rw - cifs //server/share rw\n"
                                                        "27 22 0:52 / /mnt/ssh rw - fuse.sshfs user@host: rw\n"
                                                        "28 22 0:53 / /mnt/ntfs rw - fuseblk /dev/sdb1 rw\n"
                                                        "29 22 0:54 / /mnt/fuse rw - fuse rclone rw\n"
                                                        "30 22 0:55 / /auto rw - autofs systemd-1 rw\n");
    std::vector<std::string> asked;
    auto usageOf = [&](const std::string& mountPoint, Inventory::Usage& usage) {
        asked.push_back(mountPoint);
        usage = {100, 50, 4096};
        return true;
    };
    VJSONArray volumes;
    Inventory::AppendVolumes(mounts, usageOf, Inventory::Roots{Posix("sys"), Posix("dev")}, volumes);
    EXPECT_EQ(asked, std::vector<std::string>{"/"});
    // Listed all the same, but the automount point, without a capacity they could not tell.
    ASSERT_EQ(volumes.GetCount(), 6u);
    for (size_t i = 1; i < volumes.GetCount(); ++i) {
        EXPECT_FALSE(volumes.GetAt(i).GetObjectPtr()->HasProperty(VString("capacity"))) << i;
        EXPECT_FALSE(volumes.GetAt(i).GetObjectPtr()->HasProperty(VString("available"))) << i;
    }
}

// A device tree and device folder as /sys and /dev show them: one disk of each kind of attachment, an md RAID
// volume on two SATA partitions and a device-mapper volume on an NVMe partition.
class InventoryDevices : public InventoryFiles {
protected:
    void SetUp() override {
        InventoryFiles::SetUp();
        const std::string sata = "sys/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda";
        const std::string sata2 = "sys/devices/pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0/block/sdc";
        const std::string nvme = "sys/devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1";
        const std::string usb = "sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host3/target3:0:0/3:0:0:0/"
                                "block/sdb";
        const std::string virtio = "sys/devices/pci0000:00/0000:00:04.0/virtio1/block/vda";
        Disk(sata, "Samsung SSD 860 \n", {{"sda1", 2048}, {"sda2", 4096}}, "8:1");
        Disk(sata2, "WDC WD40EFRX\n", {{"sdc1", 4096}}, "");
        Disk(nvme, "NVMe Disk\n", {{"nvme0n1p2", 8192}, {"nvme0n1p3", 16384}}, "259:2");
        Disk(usb, "Flash Disk      \n", {{"sdb1", 1024}}, "8:17");
        Disk(virtio, "", {{"vda1", 512}}, "254:1");
        Volume("md0", 9000, {sata + "/sda2", sata2 + "/sdc1"}, "9:0");
        Volume("dm-0", 16000, {nvme + "/nvme0n1p3"}, "");
        Link("sys/class/block/dm-0", "../../devices/virtual/block/dm-0");
        Link("dev/mapper/vg-root", "../dm-0");
        Link("dev/disk/by-uuid/1111-AAAA", "../../sda1");
        Link("dev/disk/by-uuid/2222-BBBB", "../../sdb1");
        Link("dev/disk/by-uuid/3333-CCCC", "../../sdc1");
        Link("dev/disk/by-label/My\\x20Stick", "../../sdb1");
        fTable = "30 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                 "31 30 259:2 / /home rw - xfs /dev/nvme0n1p2 rw\n"
                 "32 30 8:17 / /media/stick rw - vfat /dev/sdb1 rw\n"
                 "33 30 254:1 / /srv rw - ext4 /dev/vda1 rw\n"
                 "34 30 9:0 / /data rw - ext4 /dev/md0 rw\n"
                 // btrfs numbers its mounts anonymously: found by its source.
                 "35 30 0:40 / /var rw - btrfs /dev/mapper/vg-root rw\n"
                 "36 30 0:41 / /tmp rw - tmpfs tmpfs rw\n";
    }
    std::string fTable;

    void Link(const std::string& name, const std::string& target) {
        std::filesystem::create_directories(std::filesystem::path(Posix(name)).parent_path());
        std::filesystem::create_symlink(target, Posix(name));
    }
    void Sectors(const std::string& folder, uint64 sectors) {
        std::filesystem::create_directories(Posix(folder));
        WriteBytes(Posix(folder + "/size"), std::to_string(sectors) + "\n");
    }
    // A disk folder with its model and partitions; number links the first partition from /sys/dev/block.
    void Disk(const std::string& folder, const std::string& model,
              const std::vector<std::pair<std::string, uint64>>& partitions, const std::string& number) {
        Sectors(folder, 100000);
        if (!model.empty()) {
            std::filesystem::create_directories(Posix(folder + "/device"));
            WriteBytes(Posix(folder + "/device/model"), model);
        }
        for (const auto& [name, sectors] : partitions) {
            Sectors(folder + "/" + name, sectors);
            WriteBytes(Posix(folder + "/" + name + "/partition"), "1\n");
        }
        if (!number.empty()) Link("sys/dev/block/" + number, "../../" + folder.substr(4) + "/" + partitions[0].first);
    }
    // A virtual block device made of members (device folders).
    void Volume(const std::string& name, uint64 sectors, const std::vector<std::string>& members,
                const std::string& number) {
        const std::string folder = "sys/devices/virtual/block/" + name;
        Sectors(folder, sectors);
        for (const std::string& member : members)
            Link(folder + "/slaves/" + std::filesystem::path(member).filename().string(),
                 "../../../../../" + member.substr(4));
        if (!number.empty()) Link("sys/dev/block/" + number, "../../devices/virtual/block/" + name);
    }
};

TEST_F(InventoryDevices, DisksTellTheirAttachmentModelUuidAndLabel) {
    const std::vector<Inventory::Mount> mounts = Mounts(fTable);
    auto usageOf = [](const std::string& mountPoint, Inventory::Usage& usage) {
        usage = {mountPoint == "/tmp" ? 10u : 1000u, 10, 4096};
        return true;
    };
    VJSONArray volumes;
    Inventory::AppendVolumes(mounts, usageOf, Inventory::Roots{Posix("sys"), Posix("dev")}, volumes);
    ASSERT_EQ(volumes.GetCount(), 7u);

    struct Expected {
        const char* mountPoint;
        const char* name;
        std::vector<std::vector<std::string>> disks; // interface, description, identifier; several for an array
        std::vector<double> sizes;
        bool array;
    };
    const Expected cases[] = {
        {"/", "/", {{"sata", "Samsung SSD 860", "1111-AAAA"}}, {2048 * 512}, false},
        {"/home", "home", {{"nvme", "NVMe Disk", ""}}, {8192 * 512}, false},
        {"/media/stick", "My Stick", {{"usb", "Flash Disk", "2222-BBBB"}}, {1024 * 512}, false},
        {"/srv", "srv", {{"virtio", "/dev/vda1", ""}}, {512 * 512}, false},
        {"/data",
         "data",
         {{"sata", "Samsung SSD 860", ""}, {"sata", "WDC WD40EFRX", "3333-CCCC"}},
         {4096 * 512, 4096 * 512},
         true},
        {"/var", "var", {{"nvme", "NVMe Disk", ""}}, {16384 * 512}, true},
        // No block device: the source describes it, the file system's size is the disk's.
        {"/tmp", "tmp", {{"", "tmpfs", ""}}, {10 * 4096}, false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Expected& c = cases[i];
        const VJSONValue volume = volumes.GetAt(i);
        EXPECT_EQ(Prop(volume, "mountPoint"), c.mountPoint);
        EXPECT_EQ(Prop(volume, "name"), c.name) << c.mountPoint;
        const VJSONValue disk = volume.GetObjectPtr()->GetProperty(VString("disk"));
        ASSERT_EQ(disk.IsArray(), c.array) << c.mountPoint;
        std::vector<VJSONValue> disks;
        if (c.array) {
            for (size_t j = 0; j < disk.GetArrayPtr()->GetCount(); ++j)
                disks.push_back(disk.GetArrayPtr()->GetAt(j));
        } else {
            disks.push_back(disk);
        }
        ASSERT_EQ(disks.size(), c.disks.size()) << c.mountPoint;
        for (size_t j = 0; j < disks.size(); ++j) {
            std::vector<std::string> seen = {Prop(disks[j], "interface"), Prop(disks[j], "description"),
                                             Prop(disks[j], "identifier")};
            EXPECT_EQ(seen, c.disks[j]) << c.mountPoint;
            EXPECT_EQ(Number(disks[j], "size"), c.sizes[j]) << c.mountPoint;
        }
    }
}

TEST_F(InventoryFiles, IPv6AddressFlagsAreKeyedByInterfaceAndAddressText) {
    WriteBytes(Posix("if_inet6"), "00000000000000000000000000000001 01 80 10 80       lo\n"
                                  "fe800000000000000211223344556677 02 40 20 80     eth0\n"
                                  "20010db8000000000000000000000042 02 40 00 41     eth0\n"
                                  "20010db80000000000000000000000 02 40 00 80     eth0\n"
                                  "zz010db8000000000000000000000042 02 40 00 80     eth0\n");
    const std::map<std::string, uint32> flags = Inventory::ReadIPv6AddressFlags(Posix("if_inet6").c_str());
    const std::map<std::string, uint32> expected = {
        {"lo ::1", 0x80}, {"eth0 fe80::211:2233:4455:6677", 0x80}, {"eth0 2001:db8::42", 0x41}};
    EXPECT_EQ(flags, expected);
    EXPECT_TRUE(Inventory::ReadIPv6AddressFlags(Posix("missing").c_str()).empty());
}

TEST(InventoryLive, TheRootFileSystemIsListedWithACapacity) {
    VJSONArray volumes;
    VSystem::GetDiskPartitionsInfos(volumes);
    bool rootSeen = false;
    for (size_t i = 0; i < volumes.GetCount(); ++i) {
        EXPECT_GT(Number(volumes.GetAt(i), "capacity"), 0);
        rootSeen = rootSeen || Prop(volumes.GetAt(i), "mountPoint") == "/";
    }
    EXPECT_TRUE(rootSeen);
    // Whatever the machine's adapters, loopback is never one of them.
    VJSONArray adapters;
    VSystem::GetNetworkAdaptersInformations(adapters);
    for (size_t i = 0; i < adapters.GetCount(); ++i)
        EXPECT_NE(Prop(adapters.GetAt(i), "name"), "lo");
}

} // namespace
} // namespace vela
