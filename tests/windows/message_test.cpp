// Without a desktop (here: wine with no display) a message cannot show as a
// box and goes alone on a line to standard error, as on Linux.
#include "platform/message.h"

#include <gtest/gtest.h>

TEST(WindowsMessage, WithoutADesktopTheTextGoesAloneOnALineToStandardError) {
    testing::internal::CaptureStderr();
    ShowMessage("Wii-Remote not found.");
    ShowMessage("Wav files are not found.");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Wii-Remote not found.\nWav files are not found.\n");
}
