// Writes the seed inputs of the fuzz targets, one folder per target, into the
// folder named on the command line. Seeds are made here rather than stored so
// that each stays readable as the code that builds it.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

bool WriteSeed(const std::string& folder, const std::string& name, const Bytes& bytes) {
    mkdir(folder.c_str(), 0755);
    const std::string path = folder + "/" + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// Report sequences: a length byte (0xFF for 256) before each report.
Bytes Reports(const std::vector<Bytes>& reports) {
    Bytes out;
    for (const Bytes& report : reports) {
        out.push_back(report.size() == 256 ? 0xFF : static_cast<uint8_t>(report.size()));
        out.insert(out.end(), report.begin(), report.end());
    }
    return out;
}

bool ReportSeeds(const std::string& folder) {
    Bytes longest(256, 0x80);
    longest[0] = 0x31;
    return WriteSeed(folder, "session",
                     Reports({{0x31, 0x00, 0x00, 0x80, 0x80, 0x9a},
                              {0x31, 0x00, 0x08, 0x80, 0x80, 0x9a},
                              {0x30, 0x00, 0x80}})) &&
           WriteSeed(folder, "status",
                     Reports({{0x31, 0x00, 0x00, 0x90, 0x80, 0x9a},
                              {0x20, 0x00, 0x00, 0x02, 0x00, 0x00, 0xc8},
                              {},
                              {0x31, 0x00, 0x00, 0x80, 0x80, 0x9a}})) &&
           WriteSeed(folder, "short",
                     Reports({{0x31, 0x00, 0x08, 0x11, 0x22, 0x33},
                              {0x31, 0x00},
                              {0x30},
                              {0x31, 0x00, 0x08, 0x44}})) &&
           WriteSeed(folder, "longest", Reports({longest, {0xff}, {0x00, 0x01}}));
}

bool ScriptSeeds(const std::string& folder) {
    return WriteSeed(folder, "session",
                     Text("# ignite, swing, quit\n"
                          "0-3000/10 31 00 00 80 80 9a\n"
                          "300 31 00 08 80 80 9a\n"
                          "1500-1540/10 31 00 00 bc 80 80\n"
                          "2500 31 00 80 80 80 9a\n")) &&
           WriteSeed(folder, "absent", Text("absent\n")) &&
           WriteSeed(folder, "gone",
                     Text("0-5000/10 31 00 00 80 80 9a\n"
                          "gone 600-1500\n"
                          "gone 2000-2100 # again\n"
                          "accessory 3000\n"
                          "4000 30 00 80\r\n")) &&
           WriteSeed(folder, "errors",
                     Text("10-5/1 31\n"
                          "1 1ff\n"
                          "gone 5-5\n"));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    mkdir(root.c_str(), 0755);
    const bool ok = ReportSeeds(root + "/report_decoding") && ScriptSeeds(root + "/script_parser");
    return ok ? 0 : 1;
}
