#pragma once

#include "core/VString.h"
#include "files/platform/XPosixVolumes.h"

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vela::test {

// The text as UTF-8, for readable expectations.
inline std::string U8(const VString& text) {
    std::string bytes(size_t(text.GetLength()) * 3 + 4, '\0');
    bytes.resize(text.ToBlock(bytes.data(), bytes.size(), VTC_UTF_8, false, false));
    return bytes;
}

// A mount list the test sets, counting how often the cache reads it.
class FakeMountList : public IMountList {
public:
    explicit FakeMountList(std::vector<std::string> points) : fPoints(std::move(points)) {}
    bool ReadMountPoints(std::vector<std::string>& mountPoints) override {
        ++fReads;
        mountPoints = fPoints;
        return true;
    }
    // Safe to ask while other threads look volumes up.
    int Reads() const { return fReads.load(); }
    std::vector<std::string> fPoints;
    std::atomic<int> fReads{0};
};

// A clock the test moves by hand.
inline std::atomic<uint32> sFakeNow{0};
inline uint32 FakeNow() {
    return sFakeNow.load();
}

// Installs a volume cache over a fixed list for the lifetime of the guard.
class StFakeVolumes {
public:
    explicit StFakeVolumes(std::vector<std::string> points) {
        auto list = std::make_unique<FakeMountList>(std::move(points));
        fList = list.get();
        sFakeNow = 0;
        fVolumes = std::make_unique<XPosixVolumes>(std::move(list), &FakeNow);
        fPrevious = XPosixVolumes::SetInstance(fVolumes.get());
    }
    ~StFakeVolumes() { XPosixVolumes::SetInstance(fPrevious); }
    StFakeVolumes(const StFakeVolumes&) = delete;
    StFakeVolumes& operator=(const StFakeVolumes&) = delete;

    FakeMountList& List() { return *fList; }
    XPosixVolumes& Volumes() { return *fVolumes; }

private:
    FakeMountList* fList = nullptr;
    std::unique_ptr<XPosixVolumes> fVolumes;
    XPosixVolumes* fPrevious = nullptr;
};

// The volumes most path tests run on: two mounts share the name "usb".
inline std::vector<std::string> StandardMounts() {
    return {"/", "/Volumes/Disk2", "/media/usb", "/srv/usb", "/mnt/a:b", "/mnt/with space"};
}

} // namespace vela::test
