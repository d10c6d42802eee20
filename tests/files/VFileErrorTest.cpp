#include "files/VFileError.h"

#include "core/VErrorContext.h"
#include "core/VRefPtr.h"
#include "core/VTask.h"
#include "files/VFile.h"
#include "files/VFolder.h"
#include "support/TestProcess.h"
#include "json/VJSONObject.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace vela {
namespace {

VString ParameterOf(const VErrorBase& error, const char* name) {
    VString out;
    error.GetParameters()->GetProperty(name).GetString(out);
    return out;
}

std::string Utf8(const VString& text) {
    std::string out;
    for (int32 i = 1; i <= text.GetLength(); ++i)
        out += char(text.GetUniChar(i));
    return out;
}

TEST(VFileErrorTest, NamesTheObjectByItsLastElement) {
    struct Case {
        const char* path;
        const char* name;
        const char* pathParameter;
    };
    const Case cases[] = {
        {"", "n/a", "n/a"},
        {"Vol:Users:me:notes.txt", "notes.txt", "Vol:Users:me:notes.txt"},
        {"Vol:Users:me:", "me", "Vol:Users:me:"},
        {"Vol:", "Vol", "Vol:"},
        {"Vol:a:b::c", "c", "Vol:a:c"}, // the path as the path object keeps it
    };
    for (const Case& c : cases) {
        const VFilePath path{VString(c.path)};
        auto error = VRefPtr<VFileError>::Adopt(new VFileError(path, VE_FILE_CANNOT_OPEN));
        EXPECT_EQ(ParameterOf(*error, "name"), VString(c.name)) << c.path;
        EXPECT_EQ(ParameterOf(*error, "path"), VString(c.pathParameter)) << c.path;
        EXPECT_EQ(error->GetPath().GetPath(), path.GetPath()) << c.path;
        EXPECT_EQ(error->GetPath().IsValid(), path.IsValid()) << c.path;
    }
}

TEST(VFileErrorTest, AFileOrFolderIsNamedByItsPath) {
    const VFile file{VFilePath(VString("Vol:Users:me:notes.txt"))};
    const VFolder folder{VFilePath(VString("Vol:Users:me:"))};
    struct Case {
        VRefPtr<VFileError> error;
        const char* name;
        const char* path;
    };
    const Case cases[] = {
        {VRefPtr<VFileError>::Adopt(new VFileError(&file, VE_FILE_CANNOT_OPEN)), "notes.txt", "Vol:Users:me:notes.txt"},
        {VRefPtr<VFileError>::Adopt(new VFileError(&folder, VE_FILE_CANNOT_OPEN)), "me", "Vol:Users:me:"},
        {VRefPtr<VFileError>::Adopt(new VFileError(static_cast<const VFile*>(nullptr), VE_FILE_CANNOT_OPEN)), "n/a",
         "n/a"},
        {VRefPtr<VFileError>::Adopt(new VFileError(static_cast<const VFolder*>(nullptr), VE_FILE_CANNOT_OPEN)), "n/a",
         "n/a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.error->GetError(), VE_FILE_CANNOT_OPEN);
        EXPECT_EQ(ParameterOf(*c.error, "name"), VString(c.name));
        EXPECT_EQ(ParameterOf(*c.error, "path"), VString(c.path));
    }
    EXPECT_TRUE(cases[0].error->GetPath().IsFile());
    EXPECT_TRUE(cases[1].error->GetPath().IsFolder());
    EXPECT_TRUE(cases[2].error->GetPath().IsEmpty());
}

class FileErrorWrapTest : public test::TestProcessFixture {};

TEST_F(FileErrorWrapTest, NativeCodesBecomeFileErrorsWithTheOperationsParameters) {
    struct Case {
        VError native;
        VError expected;
    };
    const Case cases[] = {
        {MakeVError(kComponentPosix, ENOENT), VE_FILE_NOT_FOUND},
        {MakeVError(kComponentPosix, EACCES), VE_ACCESS_DENIED},
        {MakeVError(kComponentPosix, EIO), VE_FILE_CANNOT_OPEN},
        {MakeVError(kComponentCarbon, -43), VE_FILE_NOT_FOUND},
        {MakeVError(kComponentCocoa, 4), VE_FILE_CANNOT_OPEN},
        {MakeVError(kComponentMach, 5), VE_FILE_CANNOT_OPEN},
    };
    for (const Case& c : cases) {
        StErrorContextInstaller errors(false, true);
        const VError code = WrapFileError(VFilePath("Vol:a.txt"), VE_FILE_CANNOT_OPEN, c.native, [](VFileError& error) {
            error.SetLong("access", 1);
            error.SetLong("options", 2);
        });
        EXPECT_EQ(code, c.expected);
        const auto& pushed = errors.GetContext()->GetErrors();
        ASSERT_EQ(pushed.size(), 2u);
        EXPECT_EQ(pushed[0]->GetError(), c.native);
        auto* fileError = dynamic_cast<VFileError*>(pushed[1].Get());
        ASSERT_NE(fileError, nullptr);
        EXPECT_EQ(fileError->GetError(), c.expected);
        EXPECT_EQ(ParameterOf(*fileError, "name"), VString("a.txt"));
        EXPECT_EQ(fileError->GetParameters()->GetProperty("access").GetNumber(), 1);
        EXPECT_EQ(fileError->GetParameters()->GetProperty("options").GetNumber(), 2);
    }
}

TEST_F(FileErrorWrapTest, SuccessAndLibraryCodesPassThroughWithNothingPushed) {
    for (VError result : {VE_OK, VE_FILE_NOT_FOUND, VE_MEMORY_FULL}) {
        StErrorContextInstaller errors(false, true);
        bool called = false;
        EXPECT_EQ(WrapFileError(VFilePath("Vol:a"), VE_FILE_CANNOT_OPEN, result, [&](VFileError&) { called = true; }),
                  result);
        EXPECT_FALSE(called);
        EXPECT_TRUE(errors.GetContext()->GetErrors().empty());
    }
}

TEST_F(FileErrorWrapTest, FailuresBeforeThePlatformPushOnlyTheFileError) {
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(ThrowFileError(VFilePath(), VE_FILE_CANNOT_DELETE), VE_FILE_CANNOT_DELETE);
    const auto& pushed = errors.GetContext()->GetErrors();
    ASSERT_EQ(pushed.size(), 1u);
    EXPECT_EQ(pushed[0]->GetError(), VE_FILE_CANNOT_DELETE);
    EXPECT_EQ(ParameterOf(*pushed[0], "path"), VString("n/a"));
}

TEST(ReservedFileCharactersTest, EncodeAndDecode) {
    struct Case {
        const char* plain;
        const char* encoded;
    };
    const Case cases[] = {
        {"", ""},           {"plain name.txt", "plain name.txt"},   {"a:b/c", "a%3Ab%2Fc"},
        {"100%", "100%25"}, {"\"*<>?\\|", "%22%2A%3C%3E%3F%5C%7C"}, {"tab\there", "tab%09here"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8(EncodeReservedFileCharacters(VString(c.plain))), c.encoded);
        EXPECT_EQ(Utf8(DecodeReservedFileCharacters(VString(c.encoded))), c.plain);
    }
}

TEST(ReservedFileCharactersTest, DecodingNeverMakesANul) {
    struct Case {
        const char* text;
        const char* decoded;
    };
    const Case cases[] = {
        {"100%", "100%"}, {"5%a", "5%a"}, {"%zz", "%zz"}, {"%00", "%00"},
        {"%0g", "%0g"},   {"x%3a", "x:"}, {"%%3A", "%:"}, {"%2", "%2"},
    };
    for (const Case& c : cases) {
        const VString decoded = DecodeReservedFileCharacters(VString(c.text));
        EXPECT_EQ(Utf8(decoded), c.decoded) << c.text;
        EXPECT_EQ(decoded.FindUniChar(0), 0) << c.text;
    }
}

} // namespace
} // namespace vela
