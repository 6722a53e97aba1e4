// One check of the doctor: its verdict, its line and the lines under it.
#pragma once

#include <string>
#include <utility>
#include <vector>

enum class Verdict { Ok, Warning, Failed, Skipped };

struct Check {
    Check(Verdict verdict, const char* name, std::string text,
          std::vector<std::string> details = {})
        : verdict(verdict), name(name), text(std::move(text)), details(std::move(details)) {}

    Verdict verdict = Verdict::Ok;
    const char* name = "";
    std::string text;
    std::vector<std::string> details;  // printed indented under the check's line
};

// The check as printed: the verdict padded to eight columns, the name, a
// colon and the text; each detail on a line of its own, indented two spaces.
std::string FormatCheck(const Check& check);

// Where the doctor's output goes: the console unless a test catches it.
extern void (*doctorPrint)(const char* text);

// Prints the check through doctorPrint.
void PrintCheck(const Check& check);

// Prints a line (or part of one) through doctorPrint.
void PrintLine(const std::string& text);
