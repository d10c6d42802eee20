// The network and disk inventory of VSystem, read from /proc, /sys and getifaddrs.
#include "system/VSystem.h"

#include "system/platform/XPosixInventory.h"

#include <mutex>

namespace vela {

namespace {

struct SharedTraffic {
    std::mutex lock;
    XPosixInventory::TrafficSampler sampler;
};

SharedTraffic& Traffic() {
    static SharedTraffic traffic;
    return traffic;
}

} // namespace

bool VSystem::GetInOutNetworkStats(std::vector<double>& rates) {
    double in = 0;
    double out = 0;
    if (!XPosixInventory::ReadTrafficTotals("/proc/net/dev", "/sys/class/net", in, out)) return false;
    SharedTraffic& traffic = Traffic();
    // One caller at a time is the contract; the lock only keeps a second one from tearing the sample.
    std::lock_guard<std::mutex> guard(traffic.lock);
    return traffic.sampler.Sample(GetCurrentTimeMs64(), in, out, rates);
}

void VSystem::GetNetworkAdaptersInformations(VJSONArray& adapters) {
    std::vector<XPosixInventory::Address> addresses;
    if (!XPosixInventory::ReadAddresses("/proc/net/if_inet6", addresses)) return;
    XPosixInventory::AppendAdapters(addresses, "/sys/class/net", adapters);
}

void VSystem::GetDiskPartitionsInfos(VJSONArray& volumes) {
    std::vector<XPosixInventory::Mount> mounts;
    if (!XPosixInventory::ReadMounts("/proc/self/mountinfo", mounts)) return;
    XPosixInventory::AppendVolumes(mounts, XPosixInventory::GetUsage, XPosixInventory::Roots(), volumes);
}

} // namespace vela
