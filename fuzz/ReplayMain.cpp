// A main for the fuzz targets in builds without libFuzzer: runs LLVMFuzzerTestOneInput once on
// every file of the directories (or on the files) given, so the seed corpus and the kept
// crashers are replayed by the normal test run. A missing directory counts as empty (git keeps
// no empty folders). Exit status 0 when every input ran; a crash aborts as under libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void replay(const std::filesystem::path& file) {
    std::printf("%s\n", file.c_str());  // the last name printed is the input that crashed
    std::fflush(stdout);
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        std::error_code error;
        if (std::filesystem::is_regular_file(path, error)) {
            replay(path);
            ++count;
            continue;
        }
        if (!std::filesystem::is_directory(path, error)) {
            continue;
        }
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
        std::sort(files.begin(), files.end());
        for (const auto& file : files) {
            replay(file);
            ++count;
        }
    }
    std::printf("replayed %d inputs\n", count);
    return 0;
}
