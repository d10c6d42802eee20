#pragma once

#include "core/StStringConverter.h"
#include "core/VErrorContext.h"
#include "core/VRefPtr.h"
#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/platform/XPosixFaults.h"
#include "support/TestProcess.h"
#include "json/VJSONObject.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vela::test {

// A fresh temporary folder per test, removed with everything in it afterwards; armed faults are forgotten.
class TempFolderFixture : public TestProcessFixture {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vela-files-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        fRoot = pattern;
    }
    void TearDown() override {
        XPosixFaults::Reset();
        std::error_code ignored;
        std::filesystem::remove_all(fRoot, ignored);
    }

    // The POSIX path of name (UTF-8) in the folder.
    std::string Posix(const std::string& name) const { return fRoot + "/" + name; }

    static VString Text(const std::string& utf8) {
        VString out;
        out.FromBlock(utf8.data(), utf8.size(), VTC_UTF_8);
        return out;
    }

    // A file object for name in the folder.
    VRefPtr<VFile> File(const std::string& name) const {
        return VRefPtr<VFile>::Adopt(new VFile(VFilePath(Text(Posix(name)), FPS_POSIX)));
    }

    static void WriteBytes(const std::string& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    static std::string ReadBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static bool Present(const std::string& path) {
        struct stat st;
        return ::lstat(path.c_str(), &st) == 0;
    }

    // The codes on a context, oldest first.
    static std::vector<VError> Codes(const StErrorContextInstaller& errors) {
        std::vector<VError> out;
        for (const auto& error : errors.GetContext()->GetErrors())
            out.push_back(error->GetError());
        return out;
    }
    static VError PosixCode(int number) { return MakeVError(kComponentPosix, number); }

    static double NumberParameter(const VErrorBase& error, const char* name) {
        return error.GetParameters()->GetProperty(name).GetNumber();
    }
    static bool HasParameter(const VErrorBase& error, const char* name) {
        return error.GetParameters()->HasProperty(name);
    }

    std::string fRoot;
};

} // namespace vela::test
