// movantrix-fwgen: writes a firmware file whose image the simulated devices accept.
//
//   movantrix-fwgen [--model N] [--version V] [--size BYTES] OUTPUT.mvx
//
// Defaults: model 28, version 31, 4096 image bytes.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/FirmwareFileWriter.h"

namespace {

bool number(const char* text, long min, long max, long& out) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 0);
    if (end == text || *end != '\0' || value < min || value > max) {
        return false;
    }
    out = value;
    return true;
}

int usage() {
    std::fprintf(stderr,
                 "usage: movantrix-fwgen [--model N] [--version V] [--size BYTES] OUTPUT.mvx\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    long model = 28;
    long version = 31;
    long size = 4096;
    std::string output;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        long* target = nullptr;
        long max = 0;
        if (arg == "--model") {
            target = &model;
            max = 65535;
        } else if (arg == "--version") {
            target = &version;
            max = 255;
        } else if (arg == "--size") {
            target = &size;
            max = 65526;
        } else if (!arg.empty() && arg[0] != '-' && output.empty()) {
            output = arg;
            continue;
        } else {
            return usage();
        }
        if (i + 1 >= argc || !number(argv[++i], arg == "--size" ? 7 : 0, max, *target)) {
            std::fprintf(stderr, "movantrix-fwgen: bad value for %s\n", arg.c_str());
            return 2;
        }
    }
    if (output.empty()) {
        return usage();
    }
    const auto image = mvx::makeSimFirmwareImage(static_cast<std::uint16_t>(model),
                                                 static_cast<std::uint8_t>(version),
                                                 static_cast<std::size_t>(size));
    std::string error;
    if (!mvx::writeFirmwareFile(output, static_cast<std::uint16_t>(model),
                                static_cast<std::uint8_t>(version), image, error)) {
        std::fprintf(stderr, "movantrix-fwgen: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s: model %ld, version %ld, %zu image bytes\n", output.c_str(), model, version,
                image.size());
    return 0;
}
