// Figures for the media code, not a test:
//   bench_media archive [MiB per file, default 64] [files, default 4] [rounds, default 3]
//     NewcArchiveWriter's throughput and peak memory beside `cpio -o -H newc`;
//   bench_media iso [PROGRAM_FOLDER (default <build>/bin) [RUNS, default 5]]
//     BuildIsoImage beside the image maker alone over an equal tree, so the
//     builder's own share (staging, banners, archive, checks, delivery) shows.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "media/config_archive.h"
#include "media/iso_builder.h"
#include "media/newc_writer.h"
#include "media/welcome_banner.h"
#include "platform/services.h"
#include "support/test_support.h"

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
            std::fprintf(stderr, "bench_media: %s failed\n", ok ? "cpio" : "the writer");
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

int Iso(const fs::path& root, const fs::path& program, int runs) {
    scour::test::TestServices services(scour::FromFsPath(program));
    scour::WizardOptions options;
    options.BuildSchemeCatalogue(services);
    options.IsoPath = scour::FromFsPath(root / "scourcd.iso");
    // The tree the builder stages, made once for the image maker alone.
    const fs::path tree = root / "tree", boot = tree / "boot";
    for (const auto& [from, to] : {std::pair{"common", boot}, std::pair{"iso", boot / "isolinux"},
                                   std::pair{"boot", boot / "boot"}}) {
        fs::create_directories(to);
        fs::copy(program / from, to, fs::copy_options::recursive);
    }
    scour::WriteWelcomeBanner(scour::FromFsPath(boot / "welcome.txt"), scour::BannerForm::Main);
    scour::WriteWelcomeBanner(scour::FromFsPath(boot / "welcome.sparc.txt"),
                              scour::BannerForm::Sparc);
    scour::WriteConfigArchive(options, scour::FromFsPath(boot / "scour"), services);
    const auto request =
        scour::MakeIsoMakerRequest(scour::FromFsPath(program), scour::FromFsPath(tree));

    // Turn about, after one untimed round, so that neither gets the warm caches alone.
    scour::test::YesReporter reporter;
    std::vector<double> builder, direct;
    for (int i = 0; request && i <= runs; ++i) {
        auto start = Clock::now();
        const bool made = scour::BuildIsoImage(options, services, reporter);
        const double builderSeconds = Seconds(start);
        fs::remove(tree / "scourcd.iso");
        start = Clock::now();
        services.services.processes->RunHidden(*request);
        if (!made || !fs::exists(tree / "scourcd.iso")) {
            std::fprintf(stderr, "bench_media: no image from %s\n", program.c_str());
            return 1;
        }
        if (i > 0) {
            direct.push_back(Seconds(start) * 1000);
            builder.push_back(builderSeconds * 1000);
        }
    }
    std::sort(builder.begin(), builder.end());
    std::sort(direct.begin(), direct.end());
    const double b = builder[builder.size() / 2], d = direct[direct.size() / 2];
    std::printf("image: %.1f MiB, %d runs each (median)\n",
                fs::file_size(root / "scourcd.iso") / 1048576.0, runs);
    std::printf("BuildIsoImage: %.1f ms, image maker alone: %.1f ms, ratio %.2f\n", b, d, b / d);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    auto number = [&](int i, long fallback) { return argc > i ? std::atol(argv[i]) : fallback; };
    const fs::path dir = fs::temp_directory_path() / ("bench_media-" + std::to_string(getpid()));
    fs::create_directories(dir);
    int status = 2;
    if (what == "archive") {
        status = Archive(dir, number(2, 64), number(3, 4), static_cast<int>(number(4, 3)));
    } else if (what == "iso") {
        const fs::path build = fs::read_symlink("/proc/self/exe").parent_path() / "../..";
        status = Iso(dir, argc > 2 ? fs::path(argv[2]) : (build / "bin").lexically_normal(),
                     std::max(1, static_cast<int>(number(3, 5))));
    } else {
        std::fprintf(stderr,
                     "usage: bench_media archive [MIB [FILES [ROUNDS]]] | iso [FOLDER [RUNS]]\n");
    }
    fs::remove_all(dir);
    return status;
}
