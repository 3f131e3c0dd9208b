// The ISO image builder with the stand-in image maker (tests/tools/fake_mkisofs);
// the staging folders it is handed are recorded, to check their removal.
#include "media/iso_builder.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "support/test_support.h"
#include "unit/media_archive_util.h"

namespace scour {
namespace {

namespace fs = std::filesystem;
using namespace test;

Box Error(int id) {
    return ErrorBox(LoadText(id));
}
Box TooLong(const std::wstring& path) {
    return ErrorBox(L"A path is too long for Scourline:\n" + path);
}

// The real temporary files; it can also fail, or hand out a given folder instead.
class RecordingTempFiles final : public platform::ITempFiles {
  public:
    platform::ITempFiles* real = platform::DefaultServices().tempFiles;
    std::vector<std::wstring> made;
    bool fail = false, failFiles = false;  // failFiles: temporary files only, the archive's
    std::optional<std::wstring> instead;

    std::optional<std::wstring> TempFolder() override { return real->TempFolder(); }
    std::optional<std::wstring> CreateTempFile(std::wstring_view prefix) override {
        return failFiles ? std::nullopt : real->CreateTempFile(prefix);
    }
    std::optional<std::wstring> CreateTempFolder(std::wstring_view prefix) override {
        auto folder = fail ? std::nullopt : instead ? instead : real->CreateTempFolder(prefix);
        if (folder) {
            made.push_back(*folder);
        }
        return folder;
    }
    bool AnyLeft() const { return std::any_of(made.begin(), made.end(), Exists); }
};

class IsoBuilderTest : public ::testing::Test {
  public:
    ScratchDir scratch;
    // A space in the program folder: the command line inserts it unquoted.
    const std::wstring program = scratch / L"program folder";
    const std::wstring out = scratch / L"out";
    TestServices services{program};
    RecordingTempFiles temps;
    WizardOptions options;
    FakeReporter reporter;

    void SetUp() override {
        for (const auto& [file, content] : {std::pair{L"common/vmlinuz", "kernel"},
                                            {L"common/efi/boot.img", "efi"},
                                            {L"iso/isolinux.bin", "isolinux"},
                                            {L"iso/sub/extra.c32", "module"}}) {
            MakeDirs(FromFsPath(ToFsPath(Installed(file)).parent_path()));
            WriteFile(Installed(file), content);
        }
        MakeDirs(Installed(L"boot"));
        MakeDirs(out);
        WriteFile(Installed(L"common/wipe.sparc64.lz"), std::string(1000, 'S'));
        WriteFile(Installed(L"boot/isofs.b"), std::string(512, 'B'));
        std::error_code ec;
        fs::copy_file(ToFsPath(JoinPath(TestToolsDir(),
                                        kPathSep == L'\\' ? L"fake_mkisofs.exe" : L"fake_mkisofs")),
                      ToFsPath(JoinPath(program, kIsoMakerName)), ec);
        ASSERT_FALSE(ec) << "the stand-in image maker is not built";
        services.services.tempFiles = &temps;
        options.IsoPath = JoinPath(out, L"scourcd.iso");
    }
    std::wstring Installed(const std::wstring& relative) const {
        return program + kPathSep + Native(relative);
    }
    void Configure(const std::string& conf) { WriteFile(Installed(L"mkisofs.conf"), conf); }
    // Builds, and expects the result and exactly these message boxes.
    void Expect(bool delivered, const Boxes& boxes) {
        reporter.boxes.clear();
        EXPECT_EQ(BuildIsoImage(options, services, reporter), delivered);
        EXPECT_EQ(reporter.boxes, boxes);
    }
    bool MakerRan() const { return Exists(Installed(L"mkisofs.log")); }
    std::vector<std::string> Logged(const std::string& key) const {
        std::vector<std::string> values;
        std::istringstream log(ReadFile(Installed(L"mkisofs.log")).value_or(""));
        for (std::string line; std::getline(log, line);) {
            if (line.starts_with(key + "=")) {
                values.push_back(line.substr(key.size() + 1));
            }
        }
        return values;
    }
};

TEST_F(IsoBuilderTest, DeliversTheImageMadeFromTheStagedTree) {
    WriteFile(*options.IsoPath, "an older image");
    Expect(true, {});
    EXPECT_EQ(fs::file_size(ToFsPath(*options.IsoPath)), 1048576u);

    // Run in a staging folder of its own (its words: the boots).
    ASSERT_EQ(temps.made.size(), 1u);
    EXPECT_FALSE(temps.AnyLeft());
    EXPECT_EQ(Logged("cwd"), std::vector<std::string>{ToUtf8(temps.made[0])});
    // The three installed folders with their subfolders, the banners and the archive.
    std::string files;
    for (const auto& f : Logged("file")) {
        const std::string path = f.substr(0, f.find(' '));
        const bool made = path == "boot/scour" || path.find("/welcome.") != std::string::npos;
        files += (made ? path : f) + "\n";
    }
    EXPECT_EQ(files,
              "boot/boot/isofs.b 512\nboot/efi/boot.img 3\nboot/isolinux/isolinux.bin 8\n"
              "boot/isolinux/sub/extra.c32 6\nboot/scour\nboot/vmlinuz 6\nboot/welcome.sparc.txt\n"
              "boot/welcome.txt\nboot/wipe.sparc64.lz 1000\n");
    Configure("size=1048577\nexit=3\n");  // the exit code is not looked at
    Expect(true, {});
    WriteFile(Installed(L"common/wipe.sparc64.lz"), std::string(1001, 'S'));  // only a warning
    Expect(true, {{platform::BoxKind::Plain, L"Error",
                   L"Incorrect size of initrd image for SPARC: it must divisible by 4."}});
    // The command line has 520 characters of room, its terminator included.
    const std::size_t room = kMaxCommandLine - MakeIsoMakerRequest(L"f", L"S")->commandLine.size();
    EXPECT_TRUE(MakeIsoMakerRequest(std::wstring(room, L'f'), L"S"));
    EXPECT_FALSE(MakeIsoMakerRequest(std::wstring(room + 1, L'f'), L"S"));
    EXPECT_FALSE(temps.AnyLeft());
}

// Every failure: its messages, no image, no staging folder left.
TEST_F(IsoBuilderTest, FailuresDeliverNothingAndLeaveNothing) {
    const std::wstring blocked = scratch / L"blocked";  // the staged archive's place is taken
    MakeDirs(Native(blocked + L"/boot/scour/taken"));
    MakeDirs(scratch / L"folder.iso");  // a folder at the destination is not replaced
    const std::wstring longProgram = JoinPath(program, std::wstring(kMaxPath - 12, L'p'));
    // A staging folder too deep for the names below it (Windows refuses to make it).
    const std::wstring deep =
        JoinPath(scratch / L"SCRLIN1", std::wstring(kMaxPath - 20 - scratch.Path().size(), L'd'));
    std::error_code deepError;
    fs::create_directories(ToFsPath(deep), deepError);
    using Arrange = std::function<void(IsoBuilderTest&)>;
    const std::tuple<const char*, Arrange, Boxes, bool> cases[] = {
        {"no path", [](auto& t) { t.options.IsoPath.reset(); }, {Error(IDS_ISO_NO_PATH)}, false},
        {"path too long",
         [](auto& t) { t.options.IsoPath = JoinPath(t.out, std::wstring(kMaxPath, L'i')); },
         {TooLong(JoinPath(out, std::wstring(kMaxPath, L'i')))},
         false},
        {"destination a folder",
         [](auto& t) { t.options.IsoPath = t.scratch / L"folder.iso"; },
         {Error(IDS_ISO_DEST_FAILED)},
         true},
        {"no image",
         [](auto& t) { t.Configure("size=none\n"); },
         {Error(IDS_ISO_MISSING_FILE)},
         true},
        {"one byte short",
         [](auto& t) { t.Configure("size=1048575\n"); },
         {Error(IDS_ISO_BAD_OUTPUT)},
         true},
        // The boot loader's configuration names the archive: without it no boot.
        {"no temporary file",
         [](auto& t) { t.temps.failFiles = true; },
         {Error(IDS_ISO_CONFIG_FAILED)},
         false},
        {"staged path taken",
         [&](auto& t) { t.temps.instead = blocked; },
         {Error(IDS_ISO_CONFIG_FAILED)},
         false},
        {"image maker path too long",
         [&](auto& t) { t.services.environment.programFolder = longProgram; },
         {TooLong(JoinPath(longProgram, kIsoMakerName))},
         false},
        {"staging folder too deep",
         [&](auto& t) { t.temps.instead = deep; },
         {TooLong(JoinPath(deep, Native(L"boot/isolinux")))},
         false},
        {"no staging folder",
         [](auto& t) { t.temps.fail = true; },
         {Error(IDS_ISO_START_FAILED)},
         false},
        // An image maker that cannot start: its command line, then 146.
        {"no image maker",
         [](auto& t) { fs::remove(ToFsPath(JoinPath(t.program, kIsoMakerName))); },
         {{platform::BoxKind::Plain, L"Error", MakeIsoMakerRequest(program, L"S")->commandLine},
          Error(IDS_ISO_START_FAILED)},
         false},
    };
    for (const auto& [what, arrange, boxes, makerRuns] : cases) {
        SCOPED_TRACE(what);
        std::error_code ec;
        fs::remove(ToFsPath(Installed(L"mkisofs.log")), ec);
        temps.fail = temps.failFiles = false;
        temps.instead.reset();
        services.environment.programFolder = program;
        options.IsoPath = JoinPath(out, L"scourcd.iso");
        arrange(*this);
        Expect(false, boxes);
        EXPECT_EQ(MakerRan(), makerRuns);
        EXPECT_TRUE(Entries(out).empty());
        EXPECT_FALSE(temps.AnyLeft());
    }
}

}  // namespace
}  // namespace scour
