#include "files/VFileStream.h"

#include "files/VFileDesc.h"
#include "support/FileTestSupport.h"

namespace vela {
namespace {

class VFileStreamTest : public test::TempFolderFixture {
protected:
    static std::string Pattern(size_t size, char seed) {
        std::string bytes(size, 0);
        for (size_t i = 0; i < size; ++i)
            bytes[i] = char(seed + i % 251);
        return bytes;
    }
};

// The second request fills the window, the full window goes to the file, and the rest waits for the close.
TEST_F(VFileStreamTest, WritesLandInOrder) {
    auto file = File("out");
    const std::string first = Pattern(10, 'a');
    const std::string second = Pattern(40000, 'b');
    VFileStream stream(file.Get(), FO_CREATE_IF_NOT_FOUND);
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    EXPECT_EQ(stream.PutData(first.data(), first.size()), VE_OK);
    EXPECT_EQ(stream.PutData(second.data(), second.size()), VE_OK);
    EXPECT_EQ(std::filesystem::file_size(Posix("out")), VFileStream::kDefaultBufferSize);
    EXPECT_EQ(stream.GetSize(), 40010);
    EXPECT_EQ(stream.CloseWriting(), VE_OK);
    EXPECT_EQ(ReadBytes(Posix("out")), first + second);
}

TEST_F(VFileStreamTest, ClosingCutsTheOldTailOnlyWhenAsked) {
    for (bool setSize : {true, false}) {
        WriteBytes(Posix("out"), Pattern(100, 'o'));
        VFileStream stream(File("out").Get());
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        EXPECT_EQ(stream.GetSize(), 100);
        EXPECT_EQ(stream.PutData("0123456789", 10), VE_OK);
        EXPECT_EQ(stream.CloseWriting(setSize), VE_OK);
        const std::string expected = setSize ? "0123456789" : "0123456789" + Pattern(100, 'o').substr(10);
        EXPECT_EQ(ReadBytes(Posix("out")), expected) << setSize;
    }
}

TEST_F(VFileStreamTest, SettingThePositionPastTheEndExtendsTheFile) {
    VFileStream stream(File("out").Get(), FO_CREATE_IF_NOT_FOUND);
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    EXPECT_EQ(stream.PutData("ab", 2), VE_OK);
    EXPECT_EQ(stream.SetPos(100000), VE_OK);
    EXPECT_EQ(std::filesystem::file_size(Posix("out")), 100000u);
    EXPECT_EQ(stream.PutData("z", 1), VE_OK);
    EXPECT_EQ(stream.SetPos(1), VE_OK);
    EXPECT_EQ(stream.PutData("B", 1), VE_OK);
    EXPECT_EQ(stream.CloseWriting(false), VE_OK);
    const std::string bytes = ReadBytes(Posix("out"));
    ASSERT_EQ(bytes.size(), 100001u);
    EXPECT_EQ(bytes.substr(0, 2), "aB");
    EXPECT_EQ(bytes[100000], 'z');
    EXPECT_EQ(bytes[50000], 0);
}

TEST_F(VFileStreamTest, ReadsThroughTheWindowAndAroundIt) {
    const std::string content = Pattern(100000, 'r');
    WriteBytes(Posix("in"), content);
    VFileStream stream(File("in").Get());
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    std::string read;
    // Pieces smaller than the window, then one larger, then a seek back.
    for (size_t piece : {1, 7, 1000, 40000, 3}) {
        std::string part(piece, 0);
        EXPECT_EQ(stream.GetData(part.data(), piece), VE_OK);
        read += part;
    }
    EXPECT_EQ(read, content.substr(0, read.size()));
    EXPECT_EQ(stream.SetPos(5), VE_OK);
    char byte = 0;
    EXPECT_EQ(stream.GetData(&byte, 1), VE_OK);
    EXPECT_EQ(byte, content[5]);
    EXPECT_EQ(stream.SetPos(200000), VE_STREAM_EOF);
    stream.ResetLastError();
    EXPECT_EQ(stream.SetPos(99990), VE_OK);
    char tail[20];
    size_t got = 0;
    EXPECT_EQ(stream.GetData(tail, sizeof(tail), &got), VE_STREAM_EOF);
    EXPECT_EQ(got, 10u);
    EXPECT_EQ(std::string(tail, got), content.substr(99990));
    EXPECT_EQ(stream.CloseReading(), VE_STREAM_EOF);
}

TEST_F(VFileStreamTest, AnEmptyFileGetsAFullBufferAndEndOfData) {
    WriteBytes(Posix("empty"), "");
    VFileStream stream(File("empty").Get());
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    char byte;
    EXPECT_EQ(stream.GetData(&byte, 1), VE_STREAM_EOF);
}

// A file that shrinks under a reader delivers what it holds now, never stale bytes of an earlier window.
TEST_F(VFileStreamTest, AFileThatShrankDeliversOnlyWhatItHolds) {
    WriteBytes(Posix("in"), Pattern(1000, 's'));
    VFileStream stream(File("in").Get());
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    stream.SetBufferSize(100);
    char bytes[50];
    EXPECT_EQ(stream.GetData(bytes, 10), VE_OK);
    ASSERT_EQ(::truncate(Posix("in").c_str(), 5), 0);
    ASSERT_EQ(stream.SetPos(100), VE_OK);
    StErrorContextInstaller errors(false, true);
    size_t got = 99;
    EXPECT_EQ(stream.GetData(bytes, sizeof(bytes), &got), VE_STREAM_EOF);
    EXPECT_EQ(got, 0u);
}

TEST_F(VFileStreamTest, StreamsOnALockedOrMissingFileFailToOpen) {
    WriteBytes(Posix("held"), "held");
    auto file = File("held");
    VFileDesc* holder = nullptr;
    ASSERT_EQ(file->Open(FA_READ_WRITE, &holder), VE_OK);
    const std::unique_ptr<VFileDesc> held(holder);
    {
        StErrorContextInstaller errors(false, true);
        VFileStream stream(file.Get());
        EXPECT_EQ(stream.OpenWriting(), VE_ACCESS_DENIED);
        EXPECT_EQ(Codes(errors), (std::vector<VError>{PosixCode(EACCES), VE_ACCESS_DENIED}));
    }
    {
        StErrorContextInstaller errors(false, true);
        VFileStream stream(File("missing").Get());
        EXPECT_EQ(stream.OpenReading(), VE_FILE_NOT_FOUND);
        VFileStream none(nullptr);
        EXPECT_EQ(none.OpenReading(), VE_STREAM_NO_FILE);
    }
    VFileStream stream(File("new").Get(), FO_CREATE_IF_NOT_FOUND);
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(stream.OpenWriting(), VE_STREAM_ALREADY_OPENED);
}

// Bytes handed to a stream are written even when it goes without being closed.
TEST_F(VFileStreamTest, AStreamDroppedWhileWritingKeepsItsBytes) {
    {
        VFileStream stream(File("out").Get(), FO_CREATE_IF_NOT_FOUND);
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        EXPECT_EQ(stream.PutData("buffered", 8), VE_OK);
    }
    EXPECT_EQ(ReadBytes(Posix("out")), "buffered");
}

TEST_F(VFileStreamTest, AFullDiskFailsTheWriteThatMeetsIt) {
    VFileStream stream(File("out").Get(), FO_CREATE_IF_NOT_FOUND);
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    StErrorContextInstaller errors(false, true);
    StPosixFault full("pwrite", ENOSPC);
    EXPECT_EQ(stream.PutData("small", 5), VE_OK);
    EXPECT_EQ(stream.CloseWriting(), VE_DISK_FULL);
    EXPECT_EQ(Codes(errors).back(), VE_DISK_FULL);
}

// A body written, then a step back to patch its header: closing with setSize cuts at the furthest byte
// written, not at the position, so the body stays (and an old tail past it still goes).
TEST_F(VFileStreamTest, ClosingAfterPatchingAHeaderKeepsTheBody) {
    const std::string body = Pattern(50000, 'b');
    for (size_t oldSize : {size_t(0), size_t(100000)}) {
        WriteBytes(Posix("out"), Pattern(oldSize, 'o'));
        VFileStream stream(File("out").Get());
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        EXPECT_EQ(stream.PutData("HEAD", 4), VE_OK);
        EXPECT_EQ(stream.PutData(body.data(), body.size()), VE_OK);
        EXPECT_EQ(stream.SetPos(0), VE_OK);
        EXPECT_EQ(stream.PutData("head", 4), VE_OK);
        EXPECT_EQ(stream.CloseWriting(true), VE_OK);
        EXPECT_EQ(ReadBytes(Posix("out")), "head" + body) << oldSize;
    }
}

// The cut at closing can fail: the close says so instead of reporting success.
TEST_F(VFileStreamTest, AFailedCutAtClosingFailsTheClose) {
    WriteBytes(Posix("out"), Pattern(100, 'o'));
    VFileStream stream(File("out").Get());
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    EXPECT_EQ(stream.PutData("0123456789", 10), VE_OK);
    StErrorContextInstaller errors(false, true);
    StPosixFault refused("ftruncate", EIO);
    EXPECT_NE(stream.CloseWriting(true), VE_OK);
    EXPECT_FALSE(stream.IsWriting());
    EXPECT_FALSE(Codes(errors).empty());
    EXPECT_EQ(ReadBytes(Posix("out")).substr(0, 10), "0123456789");
}

} // namespace
} // namespace vela
