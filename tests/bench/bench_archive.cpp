// Throughput and memory of NewcArchiveWriter beside `cpio -o -H newc` on the
// same add-on files. Not a test: it prints figures.
//
//   bench_archive [MiB per file, default 64] [files, default 4] [rounds, default 3]
//
// The files are made in a scratch folder below TMPDIR (or /tmp) and removed at the end.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/text.h"
#include "media/newc_writer.h"
#include "platform/services.h"

#ifdef _WIN32

// cpio and getrusage are at home on Linux only; the Windows build just links.
int main() {
    std::puts("bench_archive runs natively only");
    return 0;
}

#else

#include <sys/resource.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

long PeakKiB(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss;
}

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Data that no file system compresses away, written through a small buffer so the
// benchmark's own peak memory stays low.
bool MakeFile(const fs::path& path, std::size_t bytes, unsigned seed) {
    std::vector<unsigned char> block(1 << 20);
    std::uint64_t x = 0x9E3779B97F4A7C15ull ^ seed;
    scour::FilePtr out = scour::OpenFile(scour::FromFsPath(path), "wb");
    if (!out) {
        return false;
    }
    for (std::size_t done = 0; done < bytes; done += block.size()) {
        for (auto& b : block) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            b = static_cast<unsigned char>(x);
        }
        const std::size_t n = std::min(block.size(), bytes - done);
        if (std::fwrite(block.data(), 1, n, out.get()) != n) {
            return false;
        }
    }
    return std::fclose(out.release()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    const std::size_t count = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 4;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    auto& services = scour::platform::DefaultServices();

    std::error_code ec;
    const fs::path dir =
        fs::temp_directory_path() / ("bench_archive-" + std::to_string(std::rand()));
    fs::create_directories(dir / "addons", ec);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < count; ++i) {
        names.push_back("addons/file" + std::to_string(i) + ".bin");
        if (!MakeFile(dir / names.back(), mib << 20, static_cast<unsigned>(i))) {
            std::fprintf(stderr, "cannot make %s\n", (dir / names.back()).c_str());
            return 1;
        }
    }
    const double total = static_cast<double>(count * (mib << 20));
    std::printf("input: %zu files of %zu MiB in %s\n", count, mib, dir.c_str());

    std::string list;
    for (const auto& n : names) {
        list += n + "\n";
    }
    {
        scour::FilePtr f = scour::OpenFile(scour::FromFsPath(dir / "list"), "wb");
        std::fwrite(list.data(), 1, list.size(), f.get());
    }

    const long selfBefore = PeakKiB(RUSAGE_SELF);
    double bestBuild = 1e9, bestTotal = 1e9, bestCpio = 1e9;
    // cpio's own peak, measured by time(1) where it is installed: a child's ru_maxrss
    // also counts the pages it shared with this process before exec.
    const bool haveTime = std::system("test -x /usr/bin/time") == 0;
    for (int round = 0; round < rounds; ++round) {
        // Replacing last round's output would charge freeing its blocks to the run.
        fs::remove(dir / "writer.cpio", ec);
        fs::remove(dir / "cpio.cpio", ec);
        auto start = Clock::now();
        scour::NewcArchiveWriter writer;
        bool ok = writer.Open(*services.tempFiles);
        for (const auto& n : names) {
            ok = ok && writer.AddFile(scour::FromFsPath(dir / n), n);
        }
        ok = ok && writer.WriteTrailer();
        const double build = Seconds(start);
        ok = ok && writer.CommitTo(scour::FromFsPath(dir / "writer.cpio"));
        writer.Close();
        const double whole = Seconds(start);
        if (!ok) {
            std::fprintf(stderr, "the writer failed\n");
            return 1;
        }
        bestBuild = std::min(bestBuild, build);
        bestTotal = std::min(bestTotal, whole);

        start = Clock::now();
        const std::string command = "cd '" + dir.string() + "' && " +
                                    (haveTime ? "/usr/bin/time -f %M -o cpio.rss " : "") +
                                    "cpio -o -H newc --quiet <list >cpio.cpio";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "cpio failed\n");
            return 1;
        }
        bestCpio = std::min(bestCpio, Seconds(start));
    }
    const long selfAfter = PeakKiB(RUSAGE_SELF);
    const long children = PeakKiB(RUSAGE_CHILDREN);

    const double mibTotal = total / (1 << 20);
    std::printf("archive sizes: writer %ju bytes, cpio %ju bytes\n",
                static_cast<std::uintmax_t>(fs::file_size(dir / "writer.cpio", ec)),
                static_cast<std::uintmax_t>(fs::file_size(dir / "cpio.cpio", ec)));
    std::printf("best of %d rounds, %.0f MiB of members:\n", rounds, mibTotal);
    std::printf("  NewcArchiveWriter, temporary file only: %7.3f s  %8.1f MiB/s\n", bestBuild,
                mibTotal / bestBuild);
    std::printf("  NewcArchiveWriter, with CommitTo copy:  %7.3f s  %8.1f MiB/s\n", bestTotal,
                mibTotal / bestTotal);
    std::printf("  cpio -o -H newc:                        %7.3f s  %8.1f MiB/s\n", bestCpio,
                mibTotal / bestCpio);
    std::printf(
        "peak resident memory (ru_maxrss): this process %ld KiB before the writer ran,"
        " %ld KiB after; children %ld KiB\n",
        selfBefore, selfAfter, children);
    if (haveTime) {
        scour::FilePtr rss = scour::OpenFile(scour::FromFsPath(dir / "cpio.rss"), "rb");
        long cpioKiB = -1;
        if (rss && std::fscanf(rss.get(), "%ld", &cpioKiB) == 1) {
            std::printf("peak resident memory of cpio itself (time -f %%M): %ld KiB\n", cpioKiB);
        }
    }
    fs::remove_all(dir, ec);
    return 0;
}

#endif
