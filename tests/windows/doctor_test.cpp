// glowbrand-doctor's checks on the real Windows HID library over the HID
// stack in memory: what it says and what it leaves the remote in, for each
// kind of remote a user may have.
#include "doctor/doctor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "doctor/check.h"
#include "doctor/pairing.h"
#include "fake_win32_hid.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string transcript;

void Catch(const char* text) {
    transcript += text;
}

// The remote answers a status request with its LEDs and battery level.
void AnswerStatus(uint8_t leds, uint8_t battery) {
    fakeHidOnWrite = [leds, battery](const FakeWrite& write) {
        if (write.bytes[0] == 0x15) {
            fakeHidPending.push_back({0x20, 0x00, 0x00, leds, 0x00, 0x00, battery});
        }
    };
}

struct Case {
    const char* name;
    std::function<void()> remote;  // sets the fake stack up
    int exitStatus;
    std::vector<std::string> lines;  // each found in the output, in this order
    std::vector<Bytes> lastWrites;   // what the remote was last sent, in order
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

const Case kCases[] = {
    {"NoRemote",
     [] { fakeInterfaces.pop_back(); },
     1,
     {"warning Bluetooth:", "failed  Remote: no Wii Remote found", "Settings > Bluetooth",
      "skipped Access:", "skipped Reports:", "skipped Battery:", "ok      Sounds:",
      "Sound device:"},
     {}},
    {"ARemote",
     [] {
         fakeHidReportEveryMs = 10;
         AnswerStatus(0x30, 0xC8);
     },
     0,
     {"ok      Remote: 1 Wii Remote found", "057e:0306 remote bus other",
      "ok      Access:", "ok      Reports: ", " reports/s", "peak energy 676 (still)",
      "ok      Battery: 78 %", "ok      Sounds:"},
     {{0x13, 0x00}, {0x11, 0x30}}},
    // Paired over Bluetooth, as Windows names such a device.
    {"ARemoteOnBluetoothWithFlatBatteries",
     [] {
         fakeInterfaces.back().path =
             "\\\\?\\HID#{00001124-0000-1000-8000-00805F9B34FB}_VID&0002057E_PID&0306#8&1";
         fakeHidReportEveryMs = 10;
         AnswerStatus(0x10, 0x19);
     },
     0,
     {"057e:0306 \\\\?\\HID#{00001124", "bus bluetooth",
      "ok      Reports: ", "warning Battery: 9 %", "change the batteries"},
     {{0x13, 0x00}, {0x11, 0x10}}},
    {"ARemoteAnotherProgramHolds",
     [] { fakeInterfaces.back().openable = false; },
     1,
     {"ok      Remote: 1 Wii Remote found",
      "failed  Access: the remote is there but held by another program", "Close the other program",
      "skipped Reports:", "skipped Battery:", "ok      Sounds:"},
     {}},
    {"ARemoteThatSendsNothing",
     [] {},
     1,
     {"ok      Access:", "failed  Reports: 0 reports/s", "Wii-Remote cannot open.",
      "skipped Battery:"},
     {{0x13, 0x00}}},
};

class DoctorOnWindows : public ::testing::TestWithParam<Case> {
protected:
    // In a folder of its own holding the four sounds, as a user runs it.
    void SetUp() override {
        home_ = std::filesystem::current_path();
        dir_ = std::filesystem::temp_directory_path() /
               ("glowbrand-doctor-" + std::string(GetParam().name));
        std::filesystem::create_directories(dir_);
        for (const char* name : {"on0.wav", "off0.wav", "swing2.wav", "strike2.wav"}) {
            std::filesystem::copy_file(std::string(GLOWBRAND_SOUNDS_DIR) + "/" + name, dir_ / name,
                                       std::filesystem::copy_options::overwrite_existing);
        }
        std::filesystem::current_path(dir_);
        ResetFakeWin32Hid();
        transcript.clear();
        doctorPrint = Catch;
    }
    void TearDown() override {
        std::filesystem::current_path(home_);
        std::filesystem::remove_all(dir_);
    }
    std::filesystem::path home_;
    std::filesystem::path dir_;
};

}  // namespace

TEST_P(DoctorOnWindows, SaysWhatIsWrongAndLeavesTheRemoteAsFound) {
    const Case& c = GetParam();
    c.remote();
    EXPECT_EQ(RunDoctor(false), c.exitStatus) << transcript;
    size_t at = 0;
    for (const std::string& line : c.lines) {
        const size_t found = transcript.find(line, at);
        ASSERT_NE(found, std::string::npos) << "\"" << line << "\" after " << at << " in\n"
                                            << transcript;
        at = found + line.size();
    }
    EXPECT_EQ(fakeHidOpen, 0) << "the remote is closed";
    std::vector<Bytes> last;
    for (size_t i = fakeHidWrites.size() - std::min(fakeHidWrites.size(), c.lastWrites.size());
         i < fakeHidWrites.size(); ++i) {
        last.push_back(fakeHidWrites[i].bytes);
    }
    EXPECT_EQ(last, c.lastWrites) << transcript;
}

INSTANTIATE_TEST_SUITE_P(Remotes, DoctorOnWindows, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

// Windows pairs in Settings: --pair says so, with the Settings steps.
TEST(PairOnWindows, SaysItIsForLinuxAndHowWindowsPairs) {
    transcript.clear();
    doctorPrint = Catch;
    EXPECT_EQ(PairRemote(), 1);
    EXPECT_EQ(transcript.rfind("glowbrand-doctor --pair is for Linux.", 0), 0u) << transcript;
    EXPECT_NE(transcript.find("Settings > Bluetooth & devices > Add device"), std::string::npos)
        << transcript;
}
