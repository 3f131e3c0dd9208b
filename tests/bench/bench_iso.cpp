// Time of BuildIsoImage beside the image maker alone over an equal tree, so the
// builder's own share (staging, banners, archive, checks, delivery) shows.
//   bench_iso [PROGRAM_FOLDER [RUNS]]   (default: <build>/bin, 5 runs)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "media/config_archive.h"
#include "media/iso_builder.h"
#include "media/welcome_banner.h"
#include "platform/services.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Environment final : scour::platform::IEnvironment {
    std::wstring folder;
    std::wstring ProgramFolder() override { return folder; }
    std::optional<std::wstring> DocumentsFolder() override { return std::nullopt; }
};

struct CountingReporter final : scour::platform::IReporter {
    int boxes = 0;
    void ShowMessage(scour::platform::BoxKind, const std::wstring&,
                     const std::wstring& text) override {
        ++boxes;
        std::fprintf(stderr, "bench_iso: box: %s\n", scour::ToUtf8(text).c_str());
    }
    bool AskYesNo(const std::wstring&, const std::wstring&) override { return false; }
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    scour::platform::Services services = scour::platform::DefaultServices();
    Environment environment;
    const fs::path build = fs::read_symlink("/proc/self/exe").parent_path() / "../..";
    environment.folder =
        scour::FromFsPath(argc > 1 ? fs::path(argv[1]) : (build / "bin").lexically_normal());
    const std::wstring& program = environment.folder;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    services.environment = &environment;
    const fs::path root = fs::temp_directory_path() / ("bench_iso-" + std::to_string(getpid()));
    scour::WizardOptions options;
    options.BuildSchemeCatalogue(services);
    options.IsoPath = scour::FromFsPath(root / "scourcd.iso");

    // The tree the builder stages, made once for the image maker alone.
    const fs::path tree = root / "tree", boot = tree / "boot";
    for (const auto& [from, to] : {std::pair{"common", boot}, std::pair{"iso", boot / "isolinux"},
                                   std::pair{"boot", boot / "boot"}}) {
        fs::create_directories(to);
        fs::copy(scour::ToFsPath(program) / from, to, fs::copy_options::recursive);
    }
    scour::WriteWelcomeBanner(scour::FromFsPath(boot / "welcome.txt"), scour::BannerForm::Main);
    scour::WriteWelcomeBanner(scour::FromFsPath(boot / "welcome.sparc.txt"),
                              scour::BannerForm::Sparc);
    scour::WriteConfigArchive(options, scour::FromFsPath(boot / "scour"), services);
    const auto request = scour::MakeIsoMakerRequest(program, scour::FromFsPath(tree));

    // Turn about, after one untimed round, so that neither gets the warm caches alone.
    CountingReporter reporter;
    std::vector<double> builder, direct;
    for (int i = 0; request && i <= runs; ++i) {
        auto start = Clock::now();
        const bool made = scour::BuildIsoImage(options, services, reporter);
        const std::chrono::duration<double, std::milli> builderMs = Clock::now() - start;
        fs::remove(tree / "scourcd.iso");
        start = Clock::now();
        services.processes->RunHidden(*request);
        const std::chrono::duration<double, std::milli> directMs = Clock::now() - start;
        if (!made || !fs::exists(tree / "scourcd.iso")) {
            std::fprintf(stderr, "bench_iso: no image from %s\n", scour::ToUtf8(program).c_str());
            return 1;
        }
        if (i > 0) {
            builder.push_back(builderMs.count());
            direct.push_back(directMs.count());
        }
    }
    const auto imageSize = fs::file_size(root / "scourcd.iso");
    fs::remove_all(root);
    const double b = Median(builder), d = Median(direct);
    std::printf("image: %.1f MiB, %d runs each (median)\n", imageSize / 1048576.0, runs);
    std::printf("BuildIsoImage: %.1f ms, image maker alone: %.1f ms, ratio %.2f\n", b, d, b / d);
    return reporter.boxes == 0 ? 0 : 1;
}
