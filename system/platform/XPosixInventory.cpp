#include "system/platform/XPosixInventory.h"

#include "core/VString.h"
#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ifaddrs.h>
#include <map>
#include <net/if.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace vela {

namespace {

// Address flags of IPv6 addresses as the kernel lists them (linux/if_addr.h).
constexpr uint32 kAddressTemporary = 0x01;
constexpr uint32 kAddressFailed = 0x08;
constexpr uint32 kAddressDeprecated = 0x20;
constexpr uint32 kAddressTentative = 0x40;

// Link kinds of /sys/class/net/<name>/type (linux/if_arp.h).
constexpr long kLinkEthernet = 1;

std::string ReadFirstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

bool IsLoopback(const char* sysNetRoot, const std::string& name) {
    const std::string flags = ReadFirstLine(std::string(sysNetRoot) + "/" + name + "/flags");
    if (flags.empty()) return false;
    return (std::strtoul(flags.c_str(), nullptr, 0) & IFF_LOOPBACK) != 0;
}

// The 32 hexadecimal digits of /proc/net/if_inet6 in the text form inet_ntop gives.
std::string IPv6TextFromHex(const std::string& hex) {
    if (hex.size() != 32) return {};
    in6_addr address{};
    for (size_t i = 0; i < 16; ++i) {
        char* end = nullptr;
        const std::string pair = hex.substr(i * 2, 2);
        address.s6_addr[i] = uint8(std::strtoul(pair.c_str(), &end, 16));
        if (end != pair.c_str() + 2) return {};
    }
    char text[INET6_ADDRSTRLEN] = {};
    return inet_ntop(AF_INET6, &address, text, sizeof text) != nullptr ? std::string(text) : std::string();
}

std::string AddressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    const void* bytes = address->sa_family == AF_INET
                            ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(address)->sin_addr)
                            : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr);
    return inet_ntop(address->sa_family, bytes, text, sizeof text) != nullptr ? std::string(text) : std::string();
}

// Undoes the octal escapes (\040 for a space) that mountinfo puts in paths.
std::string Unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                out.push_back(char(std::strtoul(digits.c_str(), nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

VJSONValue Text(const std::string& text) {
    // Paths and interface names are UTF-8 on Linux.
    return VJSONValue(VString(text.data(), text.size(), VTC_UTF_8));
}

// The name a volume goes by: the last part of its mount point ("/" for the root).
std::string VolumeName(const std::string& mountPoint) {
    const size_t slash = mountPoint.find_last_of('/');
    if (slash == std::string::npos || slash + 1 == mountPoint.size()) return mountPoint;
    return mountPoint.substr(slash + 1);
}

VRefPtr<VJSONObject> NewObject() {
    return VRefPtr<VJSONObject>::Adopt(new VJSONObject());
}

namespace fs = std::filesystem;

// The path with every link resolved; empty when some part of it does not exist.
fs::path Resolve(const fs::path& path) {
    std::error_code error;
    fs::path resolved = fs::canonical(path, error);
    return error ? fs::path() : resolved;
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Link names under /dev/disk escape what is not plain ASCII as "\xHH" (a label's spaces among them).
std::string DecodeLinkName(const std::string& name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name.compare(i, 2, "\\x") == 0 && i + 3 < name.size() && std::isxdigit(uint8(name[i + 2])) &&
            std::isxdigit(uint8(name[i + 3]))) {
            out.push_back(char(std::strtoul(name.substr(i + 2, 2).c_str(), nullptr, 16)));
            i += 3;
            continue;
        }
        out.push_back(name[i]);
    }
    return out;
}

// The name of the link in folder (/dev/disk/by-uuid, by-label) that points at the device called device; the
// first in name order, empty without one.
std::string FindLinkTo(const std::string& folder, const std::string& device) {
    std::error_code error;
    std::vector<std::string> names;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        fs::path target = fs::read_symlink(it->path(), error);
        if (!error && target.filename() == device) names.push_back(it->path().filename().string());
        error.clear();
    }
    if (names.empty()) return {};
    return DecodeLinkName(*std::min_element(names.begin(), names.end()));
}

// How the device whose folder (under the kernel's device tree) is given is attached, from the buses on its path.
std::string Transport(const fs::path& folder, const fs::path& sysRoot) {
    static const std::pair<const char*, const char*> kBuses[] = {
        {"usb", "usb"}, {"nvme", "nvme"}, {"virtio", "virtio"}, {"ata", "sata"}, {"mmc", "mmc"}, {"host", "scsi"}};
    const fs::path relative = folder.lexically_relative(sysRoot);
    for (const auto& [prefix, transport] : kBuses)
        for (const fs::path& element : relative)
            if (element.string().starts_with(prefix)) return transport;
    return {};
}

// The device folder of a mount's block device, by its device number, else by the device its source names.
fs::path DeviceFolder(const XPosixInventory::Roots& roots, const XPosixInventory::Mount& mount) {
    if (!mount.fDeviceNumber.empty()) {
        fs::path folder = Resolve(roots.fSys + "/dev/block/" + mount.fDeviceNumber);
        if (!folder.empty()) return folder;
    }
    if (!mount.fSource.starts_with("/dev/")) return {};
    // /dev/mapper/<name> and the like are links to the kernel's name of the device; a few hops at most.
    fs::path device = roots.fDev + mount.fSource.substr(4);
    std::error_code error;
    for (int hops = 0; hops < 8 && fs::is_symlink(device, error); ++hops) {
        const fs::path target = fs::read_symlink(device, error);
        if (error) return {};
        device = target.is_absolute() ? target : (device.parent_path() / target).lexically_normal();
    }
    if (device.filename().empty()) return {};
    return Resolve(roots.fSys + "/class/block/" + device.filename().string());
}

XPosixInventory::Disk ReadDisk(const XPosixInventory::Roots& roots, const fs::path& sysRoot, const fs::path& folder,
                               const std::string& fallbackDescription) {
    const std::string name = folder.filename().string();
    std::error_code error;
    // A partition's model is its disk's, the folder above it.
    const fs::path disk = fs::exists(folder / "partition", error) ? folder.parent_path() : folder;
    XPosixInventory::Disk out;
    out.fInterface = Transport(folder, sysRoot);
    out.fDescription = Trim(ReadFirstLine((disk / "device/model").string()));
    if (out.fDescription.empty()) out.fDescription = fallbackDescription;
    out.fIdentifier = FindLinkTo(roots.fDev + "/disk/by-uuid", name);
    // The kernel counts a block device's size in 512-byte sectors, whatever its own sector size.
    const std::string sectors = ReadFirstLine((folder / "size").string());
    out.fSize = sectors.empty() ? 0 : double(std::strtoull(sectors.c_str(), nullptr, 10)) * 512;
    return out;
}

VJSONValue DiskObject(const XPosixInventory::Disk& disk) {
    VRefPtr<VJSONObject> object = NewObject();
    object->SetProperty(VString("interface"), Text(disk.fInterface));
    object->SetProperty(VString("description"), Text(disk.fDescription));
    object->SetProperty(VString("identifier"), Text(disk.fIdentifier));
    object->SetProperty(VString("size"), disk.fSize != 0 ? VJSONValue(disk.fSize) : Text(""));
    return VJSONValue(object.Get());
}

} // namespace

bool XPosixInventory::ReadTrafficTotals(const char* netDevPath, const char* sysNetRoot, double& inBytes,
                                        double& outBytes) {
    std::ifstream file(netDevPath);
    if (!file) return false;
    inBytes = 0;
    outBytes = 0;
    bool listed = false;
    std::string line;
    while (std::getline(file, line)) {
        // "  name: rx_bytes rx_packets ... (8 received columns) tx_bytes ..."; the two heading lines have no colon.
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const size_t start = line.find_first_not_of(' ');
        const std::string name = line.substr(start, colon - start);
        std::istringstream fields(line.substr(colon + 1));
        uint64 counters[9] = {};
        bool complete = true;
        for (uint64& counter : counters)
            complete = complete && bool(fields >> counter);
        if (!complete) continue;
        listed = true;
        if (IsLoopback(sysNetRoot, name)) continue;
        inBytes += double(counters[0]);
        outBytes += double(counters[8]);
    }
    return listed;
}

bool XPosixInventory::TrafficSampler::Sample(uint64 nowMs, double inBytes, double outBytes,
                                             std::vector<double>& rates) {
    // Two samples in the same millisecond give no rate rather than an infinite one.
    const bool answered = fHasPrevious && nowMs > fTimeMs && inBytes >= fIn && outBytes >= fOut;
    if (answered) {
        const double elapsed = double(nowMs - fTimeMs);
        rates.push_back((inBytes - fIn) / elapsed * 1000.0);
        rates.push_back((outBytes - fOut) / elapsed * 1000.0);
    }
    fHasPrevious = true;
    fTimeMs = nowMs;
    fIn = inBytes;
    fOut = outBytes;
    return answered;
}

std::map<std::string, uint32> XPosixInventory::ReadIPv6AddressFlags(const char* ifInet6Path) {
    std::map<std::string, uint32> flags;
    std::ifstream file(ifInet6Path);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string hex, index, prefix, scope, addressFlags, name;
        if (!(fields >> hex >> index >> prefix >> scope >> addressFlags >> name)) continue;
        const std::string text = IPv6TextFromHex(hex);
        if (!text.empty()) flags[name + " " + text] = uint32(std::strtoul(addressFlags.c_str(), nullptr, 16));
    }
    return flags;
}

bool XPosixInventory::ReadAddresses(const char* ifInet6Path, std::vector<Address>& addresses) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    const std::map<std::string, uint32> ipv6Flags = ReadIPv6AddressFlags(ifInet6Path);
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_name == nullptr) continue;
        const int family = entry->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6) continue;
        Address address;
        address.fInterface = entry->ifa_name;
        address.fInterfaceFlags = entry->ifa_flags;
        address.fIPv6 = family == AF_INET6;
        address.fText = AddressText(entry->ifa_addr);
        address.fHasNetmask = entry->ifa_netmask != nullptr && entry->ifa_netmask->sa_family == family;
        if (address.fIPv6) {
            auto found = ipv6Flags.find(address.fInterface + " " + address.fText);
            if (found != ipv6Flags.end()) address.fAddressFlags = found->second;
        }
        if (!address.fText.empty()) addresses.push_back(std::move(address));
    }
    freeifaddrs(list);
    return true;
}

bool XPosixInventory::IsUsableAddress(const Address& address) noexcept {
    const uint32 flags = address.fInterfaceFlags;
    if ((flags & IFF_UP) == 0 || (flags & IFF_MULTICAST) == 0) return false;
    if ((flags & (IFF_LOOPBACK | IFF_POINTOPOINT)) != 0) return false;
    if (!address.fHasNetmask) return false;
    const uint32 unusable = kAddressTemporary | kAddressFailed | kAddressDeprecated | kAddressTentative;
    return !address.fIPv6 || (address.fAddressFlags & unusable) == 0;
}

std::string XPosixInventory::GetInterfaceType(const char* sysNetRoot, const std::string& name) {
    const std::string folder = std::string(sysNetRoot) + "/" + name;
    struct stat info {};
    if (stat((folder + "/wireless").c_str(), &info) == 0 || stat((folder + "/phy80211").c_str(), &info) == 0)
        return "wifi";
    const std::string type = ReadFirstLine(folder + "/type");
    if (type.empty()) return "unknown";
    if (std::strtol(type.c_str(), nullptr, 10) == kLinkEthernet) return "ethernet";
    return type;
}

void XPosixInventory::AppendAdapters(const std::vector<Address>& addresses, const char* sysNetRoot,
                                     VJSONArray& adapters) {
    std::vector<std::pair<std::string, VRefPtr<VJSONArray>>> byInterface;
    for (const Address& address : addresses) {
        if (!IsUsableAddress(address)) continue;
        auto found = std::find_if(byInterface.begin(), byInterface.end(),
                                  [&](const auto& entry) { return entry.first == address.fInterface; });
        if (found == byInterface.end())
            found = byInterface.emplace(byInterface.end(), address.fInterface,
                                        VRefPtr<VJSONArray>::Adopt(new VJSONArray()));
        VRefPtr<VJSONObject> ip = NewObject();
        ip->SetProperty(VString("ip"), Text(address.fText));
        ip->SetProperty(VString("type"), Text(address.fIPv6 ? "ipv6" : "ipv4"));
        found->second->Push(VJSONValue(ip.Get()));
    }
    for (const auto& [name, ips] : byInterface) {
        VRefPtr<VJSONObject> adapter = NewObject();
        adapter->SetProperty(VString("type"), Text(GetInterfaceType(sysNetRoot, name)));
        adapter->SetProperty(VString("name"), Text(name));
        adapter->SetProperty(VString("ipAddresses"), VJSONValue(ips.Get()));
        adapters.Push(VJSONValue(adapter.Get()));
    }
}

bool XPosixInventory::ReadMounts(const char* mountInfoPath, std::vector<Mount>& mounts) {
    std::ifstream file(mountInfoPath);
    if (!file) return false;
    std::string line;
    while (std::getline(file, line)) {
        // "id parent major:minor root mountPoint options [optional fields...] - type source superOptions"
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint, options, field;
        if (!(fields >> id >> parent >> device >> root >> mountPoint >> options)) continue;
        while (fields >> field && field != "-") {
        }
        Mount mount;
        if (field != "-" || !(fields >> mount.fFileSystem)) continue;
        fields >> mount.fSource;
        mount.fMountPoint = Unescape(mountPoint);
        mount.fSource = Unescape(mount.fSource);
        mount.fDeviceNumber = device;
        mounts.push_back(std::move(mount));
    }
    return true;
}

bool XPosixInventory::GetUsage(const std::string& mountPoint, Usage& usage) {
    struct statvfs info {};
    if (statvfs(mountPoint.c_str(), &info) != 0) return false;
    usage.fBlocks = info.f_blocks;
    usage.fFreeBlocks = info.f_bfree;
    usage.fBlockSize = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
    return true;
}

uint64 XPosixInventory::ToKiB(uint64 blocks, uint64 blockSize) noexcept {
    // Split so that the product stays within 64 bits for any volume size a 64-bit byte count can express.
    return blocks / 1024 * blockSize + blocks % 1024 * blockSize / 1024;
}

std::vector<XPosixInventory::Disk> XPosixInventory::ReadDisks(const Roots& roots, const Mount& mount,
                                                              std::string& label, bool& isArray) {
    label.clear();
    isArray = false;
    const fs::path folder = DeviceFolder(roots, mount);
    if (folder.empty()) return {};
    const fs::path sysRoot = Resolve(roots.fSys);
    label = FindLinkTo(roots.fDev + "/disk/by-label", folder.filename().string());
    // An md RAID or device-mapper volume lists the devices it is made of as links in its "slaves" folder.
    std::vector<fs::path> members;
    std::error_code error;
    for (fs::directory_iterator it(folder / "slaves", error), end; !error && it != end; it.increment(error)) {
        fs::path member = Resolve(it->path());
        if (!member.empty()) members.push_back(std::move(member));
    }
    std::vector<Disk> disks;
    if (members.empty()) {
        disks.push_back(ReadDisk(roots, sysRoot, folder, mount.fSource));
        return disks;
    }
    isArray = true;
    std::sort(members.begin(), members.end());
    for (const fs::path& member : members)
        disks.push_back(ReadDisk(roots, sysRoot, member, "/dev/" + member.filename().string()));
    return disks;
}

void XPosixInventory::AppendVolumes(const std::vector<Mount>& mounts, const UsageReader& usageOf, const Roots& roots,
                                    VJSONArray& volumes) {
    for (const Mount& mount : mounts) {
        // An automount point has no blocks of its own, and asking it mounts what it stands for.
        if (mount.fFileSystem == "autofs") continue;
        Usage usage;
        const bool withUsage = !MayBlockOnUsage(mount.fFileSystem);
        // Pseudo file systems (proc, sysfs, cgroups) have no blocks.
        if (withUsage && (!usageOf(mount.fMountPoint, usage) || usage.fBlocks == 0)) continue;
        std::string label;
        VJSONValue disk;
        if (IsNetworkFileSystem(mount.fFileSystem)) {
            disk = DiskObject(Disk{"network", "", "", 0});
        } else {
            bool isArray = false;
            std::vector<Disk> disks = ReadDisks(roots, mount, label, isArray);
            if (disks.empty()) disks.push_back(Disk{"", mount.fSource, "", 0});
            if (!isArray && disks.front().fSize == 0)
                disks.front().fSize = double(usage.fBlocks) * double(usage.fBlockSize);
            if (isArray) {
                VRefPtr<VJSONArray> members = VRefPtr<VJSONArray>::Adopt(new VJSONArray());
                for (const Disk& member : disks)
                    members->Push(DiskObject(member));
                disk = VJSONValue(members.Get());
            } else {
                disk = DiskObject(disks.front());
            }
        }
        VRefPtr<VJSONObject> volume = NewObject();
        volume->SetProperty(VString("mountPoint"), Text(mount.fMountPoint));
        if (withUsage) {
            volume->SetProperty(VString("capacity"), VJSONValue(double(ToKiB(usage.fBlocks, usage.fBlockSize))));
            volume->SetProperty(VString("available"), VJSONValue(double(ToKiB(usage.fFreeBlocks, usage.fBlockSize))));
        }
        volume->SetProperty(VString("filesystem"), Text(mount.fFileSystem));
        volume->SetProperty(VString("name"), Text(label.empty() ? VolumeName(mount.fMountPoint) : label));
        volume->SetProperty(VString("disk"), disk);
        volumes.Push(VJSONValue(volume.Get()));
    }
}

bool XPosixInventory::IsNetworkFileSystem(const std::string& type) noexcept {
    static const char* const kNetworkTypes[] = {"nfs", "nfs4", "cifs", "smb3",      "smbfs",     "ncpfs",
                                                "afs", "9p",   "ceph", "glusterfs", "fuse.sshfs"};
    for (const char* network : kNetworkTypes)
        if (type == network) return true;
    return false;
}

bool XPosixInventory::MayBlockOnUsage(const std::string& type) noexcept {
    return IsNetworkFileSystem(type) || type == "fuse" || type == "fuseblk" || type.starts_with("fuse.") ||
           type == "autofs";
}

} // namespace vela
