// The banner, exactly as every program prints it, for the tests that read
// it: the scripted and VM sessions whole, the keyboard remote's screen by line.
#pragma once

#include <sstream>
#include <string>
#include <vector>

inline const char* const kBanner =
    "###########################################\n"
    "#                                         #\n"
    "#   Glowbrand Test version 0.1            #\n"
    "#                  build 2006.12.8        #\n"
    "#                                         #\n"
    "###########################################\n"
    "\n"
    "Usage:\n"
    "   A    button  ... Vorna On/Off\n"
    "   Home button  ... Quit\n"
    "\n";

// Its lines, without their line ends.
inline std::vector<std::string> BannerLines() {
    std::vector<std::string> lines;
    std::istringstream text(kBanner);
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    return lines;
}
