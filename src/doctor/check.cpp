#include "doctor/check.h"

#include "platform/console.h"

void (*doctorPrint)(const char* text) = PrintText;

namespace {

const char* VerdictWord(Verdict verdict) {
    switch (verdict) {
        case Verdict::Ok:
            return "ok      ";
        case Verdict::Warning:
            return "warning ";
        case Verdict::Failed:
            return "failed  ";
        default:
            return "skipped ";
    }
}

}  // namespace

std::string FormatCheck(const Check& check) {
    std::string lines =
        std::string(VerdictWord(check.verdict)) + check.name + ": " + check.text + "\n";
    for (const std::string& detail : check.details) {
        lines += "  " + detail + "\n";
    }
    return lines;
}

void PrintCheck(const Check& check) {
    PrintLine(FormatCheck(check));
}

void PrintLine(const std::string& text) {
    doctorPrint(text.c_str());
}
