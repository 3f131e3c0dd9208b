// NewcArchiveWriter's throughput and peak memory, which must not grow with the
// member size, beside `cpio -o -H newc`. Figures, not a test.
//   bench_archive [MiB per file, default 64] [files, default 4] [rounds, default 3]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "media/newc_writer.h"
#include "platform/services.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

long PeakKiB(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss;
}

int Archive(const fs::path& dir, std::size_t mib, std::size_t count, int rounds) {
    std::vector<std::string> names;
    std::ofstream list(dir / "list");
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < count; ++i) {
        names.push_back("file" + std::to_string(i) + ".bin");
        list << names.back() << "\n";
        // Data no file system compresses away, through a small buffer to keep our peak low.
        std::uint64_t x = 0x9E3779B97F4A7C15ull ^ i;
        std::ofstream out(dir / names.back(), std::ios::binary);
        for (std::size_t m = 0; m < mib; ++m) {
            for (auto& b : block) {
                x ^= x << 13, x ^= x >> 7, x ^= x << 17;
                b = static_cast<char>(x);
            }
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    list.close();
    const long selfBefore = PeakKiB(RUSAGE_SELF);
    auto& services = scour::platform::DefaultServices();
    double bestBuild = 1e9, bestTotal = 1e9, bestCpio = 1e9;
    for (int round = 0; round < rounds; ++round) {
        // Replacing last round's output would charge freeing its blocks to the run.
        fs::remove(dir / "writer.cpio");
        fs::remove(dir / "cpio.cpio");
        auto start = Clock::now();
        scour::NewcArchiveWriter writer;
        bool ok = writer.Open(*services.tempFiles);
        for (const auto& n : names) {
            ok = ok && writer.AddFile(scour::FromFsPath(dir / n), n);
        }
        ok = ok && writer.WriteTrailer();
        bestBuild = std::min(bestBuild, Seconds(start));
        ok = ok && writer.CommitTo(scour::FromFsPath(dir / "writer.cpio"));
        writer.Close();
        bestTotal = std::min(bestTotal, Seconds(start));
        start = Clock::now();
        const std::string cpio =
            "cd '" + dir.string() + "' && cpio -o -H newc --quiet <list >cpio.cpio";
        if (!ok || std::system(cpio.c_str()) != 0) {
            std::fprintf(stderr, "bench_archive: %s failed\n", ok ? "cpio" : "the writer");
            return 1;
        }
        bestCpio = std::min(bestCpio, Seconds(start));
    }
    const double total = static_cast<double>(count * mib);
    std::printf("best of %d rounds, %zu files of %zu MiB; archives: writer %ju, cpio %ju bytes\n",
                rounds, count, mib, static_cast<std::uintmax_t>(fs::file_size(dir / "writer.cpio")),
                static_cast<std::uintmax_t>(fs::file_size(dir / "cpio.cpio")));
    std::printf("  NewcArchiveWriter, temporary file only: %7.3f s  %8.1f MiB/s\n", bestBuild,
                total / bestBuild);
    std::printf("  NewcArchiveWriter, with CommitTo copy:  %7.3f s  %8.1f MiB/s\n", bestTotal,
                total / bestTotal);
    std::printf("  cpio -o -H newc:                        %7.3f s  %8.1f MiB/s\n", bestCpio,
                total / bestCpio);
    // A child's ru_maxrss also counts the pages it shared with us before exec.
    std::printf(
        "peak resident memory: this process %ld KiB before the writer ran, %ld KiB after;"
        " children %ld KiB\n",
        selfBefore, PeakKiB(RUSAGE_SELF), PeakKiB(RUSAGE_CHILDREN));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path dir = fs::temp_directory_path() / ("bench_archive-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const int status = Archive(dir, argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64,
                               argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 4,
                               argc > 3 ? std::atoi(argv[3]) : 3);
    fs::remove_all(dir);
    return status;
}
