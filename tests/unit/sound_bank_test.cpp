// The sound bank against real files in a scratch folder and a recording
// sound service.
#include "sound/sound_bank.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <utility>

#include "fake_sound.h"

namespace {

const char* const kFiles[] = {"on0.wav", "off0.wav", "swing2.wav", "strike2.wav"};

class SoundBank : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/glowbrand-bank-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        home_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        // The slots are program-wide; each case starts from a fresh program.
        std::memset(soundSlots, 0, sizeof soundSlots);
        std::memset(soundLengths, 0, sizeof soundLengths);
        ResetFakeSound();
    }

    void TearDown() override {
        std::filesystem::current_path(home_);
        std::filesystem::remove_all(dir_);
    }

    // Back to a fresh program in an empty folder, within one case.
    void Restart() {
        for (const char* name : kFiles) {
            std::filesystem::remove(name);
        }
        std::memset(soundSlots, 0, sizeof soundSlots);
        std::memset(soundLengths, 0, sizeof soundLengths);
        ResetFakeSound();
    }

    static void Write(const std::string& name, const std::string& content) {
        std::ofstream(name, std::ios::binary) << content;
    }

    static std::string Slot(int32_t id) {
        return std::string(reinterpret_cast<const char*>(soundSlots[id]), soundLengths[id]);
    }

    static bool SlotZeroFrom(int32_t id, size_t from) {
        for (size_t i = from; i < static_cast<size_t>(kSoundSlotSize); ++i) {
            if (soundSlots[id][i] != 0) {
                return false;
            }
        }
        return true;
    }

    std::filesystem::path dir_;
    std::filesystem::path home_;
};

}  // namespace

TEST_F(SoundBank, LoadsAllFourWholeAndHandsThemToBePreparedAhead) {
    for (int32_t id = 0; id < kSoundCount; ++id) {
        Write(kFiles[id], std::string("RIFF") + std::string(100 + id, static_cast<char>('a' + id)));
    }
    EXPECT_EQ(LoadSounds(), 0);
    ASSERT_EQ(soundCalls.size(), 4u);
    for (int32_t id = 0; id < kSoundCount; ++id) {
        EXPECT_EQ(Slot(id),
                  std::string("RIFF") + std::string(100 + id, static_cast<char>('a' + id)));
        EXPECT_TRUE(SlotZeroFrom(id, soundLengths[id]));
        EXPECT_EQ(soundCalls[id].what, "prepare ahead");
        EXPECT_EQ(soundCalls[id].image, soundSlots[id]);
        EXPECT_EQ(soundCalls[id].length, soundLengths[id]);
    }
}

TEST_F(SoundBank, AMissingFileFailsButEveryOtherIsStillLoaded) {
    for (int32_t missing = 0; missing < kSoundCount; ++missing) {
        Restart();
        for (int32_t id = 0; id < kSoundCount; ++id) {
            if (id != missing) {
                Write(kFiles[id], std::string(10, static_cast<char>('0' + id)));
            }
        }
        EXPECT_EQ(LoadSounds(), 1) << kFiles[missing];
        for (int32_t id = 0; id < kSoundCount; ++id) {
            EXPECT_EQ(Slot(id), id == missing ? "" : std::string(10, static_cast<char>('0' + id)));
        }
        // The program ends on a missing file: nothing is decoded for nothing.
        EXPECT_TRUE(soundCalls.empty());
    }
}

TEST_F(SoundBank, NoFilesAtAllFails) {
    EXPECT_EQ(LoadSounds(), 1);
    for (int32_t id = 0; id < kSoundCount; ++id) {
        EXPECT_EQ(soundLengths[id], 0u);
    }
}

TEST_F(SoundBank, AnEmptyFileIsFoundAndLeavesItsSlotZero) {
    for (int32_t id = 0; id < kSoundCount; ++id) {
        Write(kFiles[id], id == 1 ? "" : "RIFF....WAVE");
    }
    EXPECT_EQ(LoadSounds(), 0);
    EXPECT_EQ(soundLengths[1], 0u);
    EXPECT_TRUE(SlotZeroFrom(1, 0));
}

TEST_F(SoundBank, AFileAtOrOverTheSlotSizeLoadsOnlyUpToTheLimit) {
    // Every byte differs from its neighbours, so a shifted or short read shows.
    std::string big(static_cast<size_t>(kSoundSlotSize) + 3, '\0');
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i % 251 + 1);
    }
    Write(kFiles[0], big);
    Write(kFiles[1], big.substr(0, kSoundSlotSize));
    Write(kFiles[2], big.substr(0, kSoundLoadLimit));
    Write(kFiles[3], "x");
    EXPECT_EQ(LoadSounds(), 0);
    for (int32_t id = 0; id < 3; ++id) {
        EXPECT_EQ(soundLengths[id], static_cast<size_t>(kSoundLoadLimit)) << kFiles[id];
        EXPECT_EQ(std::memcmp(soundSlots[id], big.data(), kSoundLoadLimit), 0) << kFiles[id];
        EXPECT_EQ(soundSlots[id][kSoundSlotSize - 1], 0) << kFiles[id];
    }
}

TEST_F(SoundBank, PlaySlotHandsTheServiceTheSlotAsLoaded) {
    for (int32_t id = 0; id < kSoundCount; ++id) {
        Write(kFiles[id], std::string(20 + id, 'w'));
    }
    ASSERT_EQ(LoadSounds(), 0);
    ResetFakeSound();
    PlaySlot(SoundId::Strike);
    PlaySlot(SoundId::On);
    ASSERT_EQ(soundCalls.size(), 2u);
    EXPECT_EQ(soundCalls[0].what, "play");
    EXPECT_EQ(soundCalls[0].image, soundSlots[3]);
    EXPECT_EQ(soundCalls[0].length, 23u);
    EXPECT_EQ(soundCalls[1].image, soundSlots[0]);
    EXPECT_EQ(soundCalls[1].length, 20u);
}

namespace {

// Loads as a user without special rights. Root may read any file, so as root
// the loading runs in a child that has dropped to "nobody"; what it loaded
// comes back in its exit status: the result, and whether slots 0, 2 and 3
// hold their ten bytes.
std::pair<int32_t, bool> LoadSoundsAsAUser() {
    const auto othersLoaded = [] {
        return soundLengths[0] == 10 && soundLengths[2] == 10 && soundLengths[3] == 10;
    };
    if (geteuid() != 0) {
        const int32_t result = LoadSounds();
        return {result, othersLoaded()};
    }
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(99);
        }
        const int32_t result = LoadSounds();
        _exit(result * 10 + (othersLoaded() ? 1 : 0));
    }
    int status = 0;
    waitpid(child, &status, 0);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 99;
    EXPECT_NE(code, 99) << "could not load as a user";
    return {code / 10, code % 10 == 1};
}

}  // namespace

// Named like a sound, but nothing that can be read whole: a folder, a named
// pipe (opening one waits for a writer, which would hold start-up for ever),
// a file we may not read. Each counts as missing; the others still load.
TEST_F(SoundBank, AFolderAPipeOrAnUnreadableFileIsMissing) {
    // The folder itself stays open to whoever loads.
    std::filesystem::permissions(
        dir_,
        std::filesystem::perms::group_read | std::filesystem::perms::group_exec |
            std::filesystem::perms::others_read | std::filesystem::perms::others_exec,
        std::filesystem::perm_options::add);
    for (const char* kind : {"folder", "pipe", "unreadable"}) {
        Restart();
        std::filesystem::remove(kFiles[1]);
        for (const int32_t id : {0, 2, 3}) {
            Write(kFiles[id], std::string(10, static_cast<char>('0' + id)));
        }
        if (std::string(kind) == "folder") {
            std::filesystem::create_directory(kFiles[1]);
        } else if (std::string(kind) == "pipe") {
            ASSERT_EQ(mkfifo(kFiles[1], 0644), 0);
        } else {
            Write(kFiles[1], std::string(10, '1'));
            std::filesystem::permissions(kFiles[1], std::filesystem::perms::none);
        }
        std::future<std::pair<int32_t, bool>> loading =
            std::async(std::launch::async, LoadSoundsAsAUser);
        if (loading.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
            // Let the blocked open go, so that the test can end.
            close(open(kFiles[1], O_WRONLY | O_NONBLOCK));
            ADD_FAILURE() << kind << ": loading waited on it";
        }
        const auto [result, othersLoaded] = loading.get();
        EXPECT_EQ(result, 1) << kind;
        EXPECT_TRUE(othersLoaded) << kind;
        std::filesystem::remove(kFiles[1]);
    }
}

TEST_F(SoundBank, ThirtyMegabytesLoadOnlyUpToTheLimit) {
    const std::string big(30 * 1024 * 1024, 'w');
    for (const char* name : kFiles) {
        Write(name, name == kFiles[2] ? big : "RIFF");
    }
    EXPECT_EQ(LoadSounds(), 0);
    EXPECT_EQ(soundLengths[2], static_cast<size_t>(kSoundLoadLimit));
    EXPECT_EQ(soundSlots[2][kSoundLoadLimit - 1], 'w');
    EXPECT_EQ(soundSlots[2][kSoundSlotSize - 1], 0);
}
