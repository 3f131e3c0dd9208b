// Time of BuildIsoImage beside the image maker alone over an equal tree, so the
// builder's own share (staging, banners, archive, checks, delivery) shows.
//
// Usage: bench_iso [PROGRAM_FOLDER [RUNS]]   (default: <build>/bin, 5 runs)
// The image maker's chatter goes to stderr; the figures go to stdout.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

class FixedEnvironment final : public scour::platform::IEnvironment {
  public:
    explicit FixedEnvironment(std::wstring folder) : folder_(std::move(folder)) {}
    std::wstring ProgramFolder() override { return folder_; }
    std::optional<std::wstring> DocumentsFolder() override { return std::nullopt; }

  private:
    std::wstring folder_;
};

class CountingReporter final : public scour::platform::IReporter {
  public:
    int boxes = 0;
    void ShowMessage(scour::platform::BoxKind, const std::wstring&,
                     const std::wstring& text) override {
        ++boxes;
        std::fprintf(stderr, "bench_iso: box: %s\n", scour::ToUtf8(text).c_str());
    }
    bool AskYesNo(const std::wstring&, const std::wstring&) override { return false; }
};

double Millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    auto& real = scour::platform::DefaultServices();
    std::wstring program = argc > 1 ? scour::FromUtf8(argv[1]) : std::wstring();
    if (program.empty()) {
        program = scour::FromFsPath(
            scour::ToFsPath(real.environment->ProgramFolder()).parent_path().parent_path() / "bin");
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    FixedEnvironment environment(program);
    scour::platform::Services services = real;
    services.environment = &environment;

    auto work = services.tempFiles->CreateTempFolder(L"BENCH");
    if (!work) {
        std::fprintf(stderr, "bench_iso: no temporary folder\n");
        return 1;
    }
    const fs::path root = scour::ToFsPath(*work);
    scour::WizardOptions options;
    options.BuildSchemeCatalogue(services);
    options.IsoPath = scour::FromFsPath(root / "scourcd.iso");

    // The tree the builder stages, made once for the image maker alone.
    const fs::path tree = root / "tree";
    const fs::path boot = tree / "boot";
    std::error_code ec;
    const auto copy = fs::copy_options::recursive | fs::copy_options::overwrite_existing;
    for (const auto& [from, to] : {std::pair{"common", boot}, std::pair{"iso", boot / "isolinux"},
                                   std::pair{"boot", boot / "boot"}}) {
        fs::create_directories(to, ec);
        fs::copy(scour::ToFsPath(program) / from, to, copy, ec);
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
        const double builderMs = Millis(Clock::now() - start);
        fs::remove(tree / "scourcd.iso", ec);
        start = Clock::now();
        services.processes->RunHidden(*request);
        const double directMs = Millis(Clock::now() - start);
        if (!made || !fs::exists(tree / "scourcd.iso", ec)) {
            std::fprintf(stderr, "bench_iso: no image from %s\n", scour::ToUtf8(program).c_str());
            fs::remove_all(root, ec);
            return 1;
        }
        if (i > 0) {
            builder.push_back(builderMs);
            direct.push_back(directMs);
        }
    }
    const auto imageSize = fs::file_size(root / "scourcd.iso", ec);
    fs::remove_all(root, ec);
    if (!request) {
        return 1;
    }

    const double b = Median(builder), d = Median(direct);
    std::printf("image: %.1f MiB, %d runs each (median)\n", imageSize / 1048576.0, runs);
    std::printf("BuildIsoImage:       %8.1f ms\n", b);
    std::printf("image maker alone:   %8.1f ms\n", d);
    std::printf("ratio builder/maker: %8.2f\n", b / d);
    return reporter.boxes == 0 ? 0 : 1;
}
