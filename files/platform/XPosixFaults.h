#pragma once

#include <cerrno>

namespace vela {

// Test builds only (VELA_TEST_SEAMS): makes a named system call of the file and folder layers fail with a chosen
// errno, so that roll-back and error paths run without root tricks or a full disk. The layers ask Fail with the
// call's name ("open", "pwrite", "rename"...) just before making it; in other builds Fail is a constant false.
class XPosixFaults {
public:
    // From now on, calls nth to nth + count - 1 (1-based) of op fail with error. Arming op again replaces its
    // earlier setting. A negative error fails nothing: those calls raise signal -error first and then go ahead, so
    // that a test can stop the process (SIGSTOP) at an exact point of its work and kill it there.
    // The op kAnyCall counts every call the layers ask about, whatever its name, so that a test can fail the nth
    // call of an operation without knowing which call that is; a call armed by its own name is not counted there.
    static void Arm(const char* op, int error, int nth = 1, int count = 1);
    static constexpr const char* kAnyCall = "*";
    // How many calls of op (kAnyCall: of any name) were asked about since op was armed; 0 when it is not armed.
    static int Calls(const char* op) noexcept;
    // Forgets every armed call.
    static void Reset() noexcept;

    // True, with errno set, when this call of op is to fail; the layer then acts as if the call had failed.
    // False for a call armed with a signal, once the signal has been raised.
    static bool Fail(const char* op) noexcept {
#ifdef VELA_TEST_SEAMS
        return _Fail(op);
#else
        (void)op;
        return false;
#endif
    }

private:
    static bool _Fail(const char* op) noexcept;
};

// Arms one failure for a scope; every armed call is forgotten when it ends.
class StPosixFault {
public:
    StPosixFault(const char* op, int error, int nth = 1, int count = 1) { XPosixFaults::Arm(op, error, nth, count); }
    ~StPosixFault() { XPosixFaults::Reset(); }
    StPosixFault(const StPosixFault&) = delete;
    StPosixFault& operator=(const StPosixFault&) = delete;
};

// Makes one system call, unless a test has armed op to fail: then answers -1 as a failed call does, errno set.
template <class Call> auto PosixCall(const char* op, Call&& call) -> decltype(call()) {
    if (XPosixFaults::Fail(op)) return decltype(call())(-1);
    return call();
}

} // namespace vela
