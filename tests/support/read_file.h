// Reading back what a program under test wrote.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

// Reads a whole file; "" when it cannot be read.
inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}
