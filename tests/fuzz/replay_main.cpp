// Runs the fuzz target without libFuzzer: on every file named on the command line (a directory
// stands for its files), then on a fixed number of pseudo-random inputs, so the ordinary and
// sanitizer builds exercise it too.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void run_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::directory_iterator(path)) run_file(entry.path());
        } else {
            run_file(path);
        }
    }
    std::mt19937_64 rng(20261207);
    std::vector<std::uint8_t> bytes;
    for (int round = 0; round < 20000; ++round) {
        bytes.resize(rng() % 512);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    return EXIT_SUCCESS;
}
