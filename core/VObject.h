#pragma once

#include "core/CharSet.h"
#include "core/VTypes.h"

#include <atomic>
#include <new>

namespace vela {

class VCppMemMgr;
class VString;

// Root of the library's classes. Objects are allocated through the process-wide memory manager.
class VObject {
public:
    // The process-wide memory manager; null before it is made. Never destroyed: threads may outlive main.
    static std::atomic<VCppMemMgr*> sCppMemMgr;

    // The memory manager, made on first use (static initialisation order on ELF is not fixed); never null.
    static VCppMemMgr* GetMainMemMgr() noexcept;

    VObject() = default;
    VObject(const VObject&) = default;
    VObject& operator=(const VObject&) = default;
    virtual ~VObject() = default;

    // Writes a debugging description into buffer (length bytes at most); sets length to the bytes written
    // and answers their character set. The default writes nothing and answers UTF-8.
    virtual CharSet DebugDump(char* buffer, int& length) const;

    // The virtual DebugDump decoded into a string.
    void DebugDump(VString& out) const;
    // For DebugDump overrides: formats into buffer (length bytes at most, cut when longer) and sets length to
    // the bytes kept, never more than the buffer holds; answers UTF-8.
    static CharSet FormatDebugDump(char* buffer, int& length, const char* format, ...) noexcept
        __attribute__((format(printf, 3, 4)));
    // Clears out: no class name is produced.
    void DebugGetClassName(VString& out) const;

    static void* operator new(size_t size);
    static void* operator new[](size_t size);
    static void operator delete(void* block) noexcept;
    static void operator delete[](void* block) noexcept;
    static void* operator new(size_t, void* place) noexcept { return place; }
    // The manager's blocks are 16-byte aligned: a class that needs more cannot be made with new.
    static void* operator new(size_t, std::align_val_t) = delete;
    static void* operator new[](size_t, std::align_val_t) = delete;
    static void operator delete(void*, void*) noexcept {}
};

} // namespace vela
