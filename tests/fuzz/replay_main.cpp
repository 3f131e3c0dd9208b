// Runs a fuzz target once on every file of the corpus folders it is given, so
// the normal test build replays each corpus without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
            std::ifstream in(entry.path(), std::ios::binary);
            const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
            // An empty input still gets a valid pointer, as libFuzzer gives it.
            static const std::uint8_t kNothing = 0;
            LLVMFuzzerTestOneInput(
                bytes.empty() ? &kNothing : reinterpret_cast<const std::uint8_t*>(bytes.data()),
                bytes.size());
            ++count;
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return count == 0 ? 1 : 0;  // a corpus that went missing is no replay
}
