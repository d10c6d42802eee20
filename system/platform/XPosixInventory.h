#pragma once

#include "core/VTypes.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vela {

class VJSONArray;

// The Linux sources of the network and disk inventory: interface counters, adapter addresses and the mount table.
// Each reader takes the path of the file or folder it reads, so that fixtures may stand in for /proc and /sys.
class XPosixInventory {
public:
    // ---- Traffic
    // Sums the received and sent byte counters of the interfaces listed in a /proc/net/dev file, leaving out
    // loopback interfaces (IFF_LOOPBACK in <sysNetRoot>/<name>/flags). False when the file cannot be read or
    // lists no interface.
    static bool ReadTrafficTotals(const char* netDevPath, const char* sysNetRoot, double& inBytes, double& outBytes);

    // The previous traffic sample, and the rates since it.
    class TrafficSampler {
    public:
        // Appends the input and output bytes per second since the previous sample and answers true, when there
        // is one, it is older than nowMs and neither total went down; otherwise appends nothing. The new totals
        // become the previous sample either way.
        bool Sample(uint64 nowMs, double inBytes, double outBytes, std::vector<double>& rates);

    private:
        bool fHasPrevious = false;
        uint64 fTimeMs = 0;
        double fIn = 0;
        double fOut = 0;
    };

    // ---- Adapters
    struct Address {
        std::string fInterface;
        uint32 fInterfaceFlags = 0; // IFF_ flags of the interface
        bool fIPv6 = false;
        std::string fText; // the address as inet_ntop writes it
        bool fHasNetmask = false;
        uint32 fAddressFlags = 0; // IFA_F_ flags of an IPv6 address
    };
    // The IPv4 and IPv6 addresses of getifaddrs, with each IPv6 address's flags from an /proc/net/if_inet6 file
    // (0 when that file does not list it). False when getifaddrs fails.
    static bool ReadAddresses(const char* ifInet6Path, std::vector<Address>& addresses);
    // The IFA_F_ flags of each address of an /proc/net/if_inet6 file, keyed by "<interface> <address text>";
    // lines that do not parse are left out.
    static std::map<std::string, uint32> ReadIPv6AddressFlags(const char* ifInet6Path);
    // Whether an address qualifies its interface as an adapter: up and multicast, neither loopback nor
    // point-to-point, with a netmask, and for IPv6 not tentative, failed, deprecated or temporary.
    static bool IsUsableAddress(const Address& address) noexcept;
    // "wifi" for a wireless interface, "ethernet" for an Ethernet one, otherwise the kind of link as text, read
    // under <sysNetRoot>/<name>.
    static std::string GetInterfaceType(const char* sysNetRoot, const std::string& name);
    // Appends one adapter object per interface with a usable address, in the order the interfaces first appear.
    static void AppendAdapters(const std::vector<Address>& addresses, const char* sysNetRoot, VJSONArray& adapters);

    // ---- Volumes
    struct Mount {
        std::string fMountPoint;
        std::string fFileSystem;
        std::string fSource;
        std::string fDeviceNumber; // "major:minor"
    };
    // The mounts listed in a mountinfo file, in its order. False when it cannot be read.
    static bool ReadMounts(const char* mountInfoPath, std::vector<Mount>& mounts);
    struct Usage {
        uint64 fBlocks = 0;
        uint64 fFreeBlocks = 0;
        uint64 fBlockSize = 0;
    };
    // statvfs of the mount point; false when it fails.
    static bool GetUsage(const std::string& mountPoint, Usage& usage);
    // blocks × blockSize ÷ 1024, exact whenever the result fits in 64 bits.
    static uint64 ToKiB(uint64 blocks, uint64 blockSize) noexcept;
    // Whether the file system type is one whose data lives on another machine.
    static bool IsNetworkFileSystem(const std::string& type) noexcept;
    // Whether asking the file system for its usage may wait without end: one served over a network, by a
    // user-space daemon (FUSE), or an automount point, which mounts such a one when asked.
    static bool MayBlockOnUsage(const std::string& type) noexcept;

    // Where the block devices are described: the kernel's device tree (/sys) and the device folder (/dev).
    struct Roots {
        std::string fSys = "/sys";
        std::string fDev = "/dev";
    };
    // One disk of a volume as the inventory lists it.
    struct Disk {
        std::string fInterface;   // how the disk is attached: "sata", "nvme", "usb", "virtio", …; empty unknown
        std::string fDescription; // the device model; else the mounted device's path
        std::string fIdentifier;  // the file-system UUID; empty without one
        double fSize = 0;         // bytes; 0 unknown
    };
    // The block device of a mount, found by its device number, else by its source under /dev. Its disks: the
    // members of an md RAID or device-mapper volume (several, or one), else the device itself; none when the
    // device is unknown. label receives the volume label, empty without one.
    static std::vector<Disk> ReadDisks(const Roots& roots, const Mount& mount, std::string& label, bool& isArray);

    using UsageReader = std::function<bool(const std::string& mountPoint, Usage& usage)>;
    // Appends one volume object per mount whose usage can be read and has blocks, and per network or FUSE mount,
    // whose usage is not asked for (its capacity and availability are left out).
    static void AppendVolumes(const std::vector<Mount>& mounts, const UsageReader& usageOf, const Roots& roots,
                              VJSONArray& volumes);
};

} // namespace vela
