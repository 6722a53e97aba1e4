// glowbrand-virtual in a real terminal: tmux plays the user at the keyboard,
// SDL's disk driver plays the loudspeaker.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "banner.h"
#include "read_file.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The keys' line, then the banner.
const std::vector<std::string> kScreenTop = [] {
    std::vector<std::string> lines = {
        "Keys: a = A, h = Home, s = swing, l = long swing, x = hit, Ctrl+C = abort"};
    for (const std::string& line : BannerLines()) {
        lines.push_back(line);
    }
    return lines;
}();
const std::string kAllDark = "LEDs [ ][ ][ ][ ]  rumble off";
const std::string kAllLitRumbling = "LEDs [#][#][#][#]  rumble ON";

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Runs a shell command; returns what it printed.
std::string Shell(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char chunk[4096];
    size_t got = 0;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        out.append(chunk, got);
    }
    pclose(pipe);
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

// A tmux server of the test's own, with one 100x30 pane running the program.
// The pane stays after the program ends, so its last screen can be read.
class VirtualSession : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::path(GLOWBRAND_E2E_DIR) / ("virtual-" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        for (const char* name : {"on0.wav", "off0.wav", "swing2.wav", "strike2.wav"}) {
            fs::copy_file(fs::path(GLOWBRAND_SOUNDS_DIR) / name, dir / name);
        }
        std::ofstream(dir / "tmux.conf") << "set -g remain-on-exit on\nset -g status off\n";
        tmux = "tmux -L glowbrand-e2e-" + std::to_string(getpid()) + " -f " +
               Quote((dir / "tmux.conf").string());
    }

    void TearDown() override {
        Shell(tmux + " kill-server 2>/dev/null");
    }

    // Runs a shell command line in the pane, in the session's folder, without
    // a display so that no dialog can open; its exit status goes to ./status.
    void Start(const std::string& line) {
        const std::string command = "cd " + Quote(dir.string()) +
                                    " && unset DISPLAY WAYLAND_DISPLAY && " + line +
                                    "; echo $? > status";
        Shell(tmux + " new-session -d -s e2e -x 100 -y 30 " + Quote("sh -c " + Quote(command)));
    }

    // The pane's screen and what scrolled off it.
    std::string Screen() {
        return Shell(tmux + " capture-pane -p -S - -t e2e");
    }

    void Press(const std::string& key) {
        Shell(tmux + " send-keys -t e2e " + key);
    }

    // Captures the screen until it shows `text` or the time is up; remembers
    // whether all four LEDs and the rumble were ever on together.
    bool WatchFor(const std::string& text, std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            const std::string screen = Screen();
            sawAllLitRumbling =
                sawAllLitRumbling || screen.find(kAllLitRumbling) != std::string::npos;
            if (!text.empty() && screen.find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(15ms);
        }
        return false;
    }

    bool WaitForExit(std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            WatchFor("", 0ms);
            if (fs::exists(dir / "status") && !ReadFile(dir / "status").empty()) {
                return true;
            }
            std::this_thread::sleep_for(15ms);
        }
        return false;
    }

    fs::path dir;
    std::string tmux;
    bool sawAllLitRumbling = false;
};

}  // namespace

TEST_F(VirtualSession, LightSwingStrikeAndQuitFromTheKeyboard) {
    Start("SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=audio.raw " + Quote(GLOWBRAND_VIRTUAL));
    // The status line appears once the blade's loop reads the remote.
    ASSERT_TRUE(WatchFor(kAllDark, 15s)) << Screen();
    const std::vector<std::string> first = Lines(Screen());
    ASSERT_GE(first.size(), kScreenTop.size() + 1) << Screen();
    for (size_t i = 0; i < kScreenTop.size(); ++i) {
        EXPECT_EQ(first[i], kScreenTop[i]) << "line " << i;
    }
    EXPECT_EQ(first[kScreenTop.size()], kAllDark) << "the status line belongs below the usage";

    Press("a");
    EXPECT_TRUE(WatchFor(kAllLitRumbling, 5s)) << Screen();
    // Motion counts only once the blade has extended: 80 loop iterations of
    // 10 ms at least, after the 550 ms ignition.
    WatchFor("", 2500ms);
    Press("s");
    WatchFor("", 1s);
    Press("x");
    WatchFor("", 1s);
    Press("h");
    ASSERT_TRUE(WaitForExit(15s)) << Screen();

    EXPECT_EQ(ReadFile(dir / "status"), "0\n");
    EXPECT_TRUE(sawAllLitRumbling) << "the status line never showed the lit blade's rumble";
    const std::vector<std::string> last = Lines(Screen());
    ASSERT_GE(last.size(), kScreenTop.size() + 1) << Screen();
    for (size_t i = 0; i < kScreenTop.size(); ++i) {
        EXPECT_EQ(last[i], kScreenTop[i]) << "line " << i << " after the session:\n" << Screen();
    }
    EXPECT_EQ(last[kScreenTop.size()], kAllDark) << "the blade retracts before quitting";

    // Silence is one byte value repeated, whatever the sample format: the
    // lighting hum, swing, strike and retract must make the bytes move.
    const std::string audio = ReadFile(dir / "audio.raw");
    size_t changes = 0;
    for (size_t i = 1; i < audio.size(); ++i) {
        changes += audio[i] != audio[i - 1] ? 1 : 0;
    }
    EXPECT_GT(changes, audio.size() / 10) << audio.size() << " bytes of audio captured";
}

TEST_F(VirtualSession, CtrlCEndsTheProgramAndGivesTheTerminalBack) {
    // The terminal's settings before and after, as the pane's shell sees them.
    Start("stty -g > before; SDL_AUDIODRIVER=dummy " + Quote(GLOWBRAND_VIRTUAL) +
          "; code=$?; stty -g > after; (exit $code)");
    ASSERT_TRUE(WatchFor(kAllDark, 15s)) << Screen();
    Press("C-c");
    ASSERT_TRUE(WaitForExit(10s)) << Screen();
    EXPECT_EQ(ReadFile(dir / "status"), "130\n") << "ended by SIGINT, as outside raw mode";
    EXPECT_FALSE(ReadFile(dir / "before").empty());
    EXPECT_EQ(ReadFile(dir / "after"), ReadFile(dir / "before"));
}

TEST_F(VirtualSession, WithoutATerminalSaysSoAndExitsWithTwo) {
    // setsid leaves the program without a controlling terminal.
    Shell("cd " + Quote(dir.string()) + " && SDL_AUDIODRIVER=dummy setsid -w " +
          Quote(GLOWBRAND_VIRTUAL) + " </dev/null >/dev/null 2>stderr; echo $? > status");
    EXPECT_EQ(ReadFile(dir / "status"), "2\n");
    EXPECT_NE(ReadFile(dir / "stderr").find("no controlling terminal"), std::string::npos)
        << ReadFile(dir / "stderr");
}
