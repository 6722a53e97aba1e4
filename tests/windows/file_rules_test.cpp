// Sound files on Windows: only a regular file on a disk is read, and nothing
// under a sound's name can make opening it wait.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file.h"

namespace {

class FileRulesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("glowbrand-files-" + std::to_string(GetCurrentProcessId()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        std::filesystem::remove_all(dir);
    }
    std::string Put(const std::string& name, const std::string& content) {
        const std::filesystem::path path = dir / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    std::filesystem::path dir;
    uint8_t dest[64] = {};
};

}  // namespace

TEST_F(FileRulesTest, ARegularFileIsReadWholeUpToTheCapacity) {
    const std::string path = Put("on0.wav", "RIFF and the rest");
    EXPECT_EQ(ReadWholeFile(path.c_str(), dest, sizeof dest), 17);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(dest), 17), "RIFF and the rest");
    dest[4] = 0;
    EXPECT_EQ(ReadWholeFile(path.c_str(), dest, 4), 4);
    EXPECT_EQ(dest[4], 0) << "nothing past the capacity";
    EXPECT_EQ(ReadWholeFile(Put("empty.wav", "").c_str(), dest, sizeof dest), 0);
}

TEST_F(FileRulesTest, AnythingButARegularReadableFileIsMissing) {
    EXPECT_EQ(ReadWholeFile((dir / "absent.wav").string().c_str(), dest, sizeof dest), -1);
    std::filesystem::create_directory(dir / "folder.wav");
    EXPECT_EQ(ReadWholeFile((dir / "folder.wav").string().c_str(), dest, sizeof dest), -1);
    // Devices open like files; reading the console would wait for a user.
    EXPECT_EQ(ReadWholeFile("CON", dest, sizeof dest), -1);
    EXPECT_EQ(ReadWholeFile("NUL", dest, sizeof dest), -1);

    // A pipe with nobody writing to it would hold a read forever.
    const char* pipeName = "\\\\.\\pipe\\glowbrand-file-rules";
    HANDLE pipe =
        CreateNamedPipeA(pipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 2, 64, 64, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadWholeFile(pipeName, dest, sizeof dest), -1);
    CloseHandle(pipe);

    // Another program has the file open for writing, sharing nothing.
    const std::string path = Put("locked.wav", "RIFF");
    HANDLE locked = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadWholeFile(path.c_str(), dest, sizeof dest), -1);
    CloseHandle(locked);
    EXPECT_EQ(ReadWholeFile(path.c_str(), dest, sizeof dest), 4);

    // Still being written, though its writer lets others read: not read
    // half-written either.
    HANDLE writing = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writing, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadWholeFile(path.c_str(), dest, sizeof dest), -1);
    CloseHandle(writing);
}
