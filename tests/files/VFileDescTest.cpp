#include "files/VFileDesc.h"

#include "support/FileTestSupport.h"

namespace vela {
namespace {

class VFileDescTest : public test::TempFolderFixture {
protected:
    std::unique_ptr<VFileDesc> Open(const std::string& name, FileAccess access) {
        VFileDesc* desc = nullptr;
        EXPECT_EQ(File(name)->Open(access, &desc), VE_OK);
        return std::unique_ptr<VFileDesc>(desc);
    }
};

TEST_F(VFileDescTest, AShortReadIsEndOfDataWithItsParameters) {
    WriteBytes(Posix("a"), "abcd");
    auto desc = Open("a", FA_READ);
    StErrorContextInstaller errors(false, true);
    char buffer[10] = {};
    size_t got = 99;
    EXPECT_EQ(desc->GetData(buffer, 10, 0, &got), VE_STREAM_EOF);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(buffer, got), "abcd");
    const auto& pushed = errors.GetContext()->GetErrors();
    ASSERT_EQ(pushed.size(), 1u);
    EXPECT_EQ(pushed[0]->GetError(), VE_STREAM_EOF);
    EXPECT_EQ(NumberParameter(*pushed[0], "count"), 10);
    EXPECT_EQ(NumberParameter(*pushed[0], "offset"), 0);
    EXPECT_EQ(NumberParameter(*pushed[0], "size"), 4);
}

TEST_F(VFileDescTest, OnlyRelativeTransfersMoveThePosition) {
    WriteBytes(Posix("a"), "0123456789");
    auto desc = Open("a", FA_READ_WRITE);
    char buffer[4];
    EXPECT_EQ(desc->GetData(buffer, 4, 2), VE_OK);
    EXPECT_EQ(desc->GetPos(), 0);
    EXPECT_EQ(desc->GetDataAtPos(buffer, 4), VE_OK);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(desc->GetPos(), 4);
    // Read at position + offset; the position moves by the bytes read only.
    EXPECT_EQ(desc->GetDataAtPos(buffer, 2, 1), VE_OK);
    EXPECT_EQ(std::string(buffer, 2), "56");
    EXPECT_EQ(desc->GetPos(), 6);
    EXPECT_EQ(desc->PutData("xy", 2, 0), VE_OK);
    EXPECT_EQ(desc->GetPos(), 6);
    EXPECT_EQ(desc->PutDataAtPos("Z", 1), VE_OK);
    EXPECT_EQ(desc->GetPos(), 7);
    EXPECT_EQ(ReadBytes(Posix("a")), "xy2345Z789");
}

// A position below 0 is refused when it is set, not by a later read at a negative offset.
TEST_F(VFileDescTest, NegativePositionsAreRefused) {
    WriteBytes(Posix("a"), "0123456789");
    auto desc = Open("a", FA_READ);
    ASSERT_EQ(desc->SetPos(3, true), VE_OK);
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(desc->SetPos(-5, false), VE_FILE_CANNOT_SET_POS);
    EXPECT_EQ(Codes(errors), (std::vector<VError>{PosixCode(EINVAL), VE_FILE_CANNOT_SET_POS}));
    const auto& pushed = errors.GetContext()->GetErrors();
    EXPECT_EQ(NumberParameter(*pushed[1], "offset"), -2);
    EXPECT_EQ(NumberParameter(*pushed[1], "size"), 10);
    EXPECT_EQ(desc->GetPos(), 3);
    EXPECT_EQ(desc->SetPos(-1, true), VE_FILE_CANNOT_SET_POS);
    EXPECT_EQ(desc->GetPos(), 3);
}

TEST_F(VFileDescTest, SizesAndFailuresOfTheDescriptor) {
    WriteBytes(Posix("a"), "0123456789");
    auto desc = Open("a", FA_READ_WRITE);
    EXPECT_EQ(desc->GetSize(), 10);
    EXPECT_EQ(desc->SetSize(4), VE_OK);
    EXPECT_EQ(ReadBytes(Posix("a")), "0123");
    EXPECT_EQ(desc->Flush(), VE_OK);

    struct Case {
        const char* op;
        VError expected;
        std::function<VError()> call;
    };
    const Case cases[] = {
        {"ftruncate", VE_FILE_CANNOT_SET_SIZE, [&] { return desc->SetSize(2); }},
        {"fsync", VE_FILE_CANNOT_FLUSH, [&] { return desc->Flush(); }},
        {"pread", VE_FILE_CANNOT_READ,
         [&] {
             char b[2];
             return desc->GetData(b, 2, 0);
         }},
        {"pwrite", VE_FILE_CANNOT_WRITE, [&] { return desc->PutData("ab", 2, 0); }},
        {"fstat", VE_FILE_CANNOT_GET_SIZE, [&] { return desc->GetSize() == 0 ? VE_FILE_CANNOT_GET_SIZE : VE_OK; }},
    };
    for (const Case& c : cases) {
        StErrorContextInstaller errors(false, true);
        StPosixFault fault(c.op, EIO);
        EXPECT_EQ(c.call(), c.expected) << c.op;
        const std::vector<VError> codes = Codes(errors);
        ASSERT_FALSE(codes.empty()) << c.op;
        EXPECT_EQ(codes.front(), PosixCode(EIO)) << c.op;
        EXPECT_EQ(codes.back(), c.expected) << c.op;
    }
}

TEST_F(VFileDescTest, AFullDiskReportsWhatWasWritten) {
    auto file = File("a");
    ASSERT_EQ(file->Create(), VE_OK);
    auto desc = Open("a", FA_READ_WRITE);
    StErrorContextInstaller errors(false, true);
    StPosixFault full("pwrite", ENOSPC);
    size_t put = 99;
    EXPECT_EQ(desc->PutData("abc", 3, 0, &put), VE_DISK_FULL);
    EXPECT_EQ(put, 0u);
    const auto& pushed = errors.GetContext()->GetErrors();
    ASSERT_EQ(pushed.size(), 2u);
    EXPECT_EQ(NumberParameter(*pushed[1], "count"), 3);
}

} // namespace
} // namespace vela
