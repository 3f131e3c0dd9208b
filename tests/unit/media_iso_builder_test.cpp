// The ISO image builder with the stand-in image maker (tests/tools/fake_mkisofs)
// in a scratch program folder. Staging folders come from the real temporary
// folder and are recorded, so that each can be checked for removal.
#include "media/iso_builder.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "support/test_support.h"
#include "unit/media_archive_util.h"

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

namespace scour {
namespace {

namespace fs = std::filesystem;
using namespace test;

Box Error(int id) {
    return ErrorBox(LoadText(id));
}
Box Plain(const std::wstring& text) {
    return {platform::BoxKind::Plain, L"Error", text};
}
Box TooLong(const std::wstring& path) {
    return ErrorBox(L"A path is too long for Scourline:\n" + path);
}

// The real temporary files, with a record of the folders handed out; it can
// also fail, or hand out a given folder instead.
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
  protected:
    ScratchDir scratch;
    // A space in the program folder: the command line inserts it unquoted.
    const std::wstring program = scratch / L"program folder";
    const std::wstring out = scratch / L"out";
    TestServices services{program};
    RecordingTempFiles temps;
    WizardOptions options;
    RecordingReporter reporter;

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

// The words themselves are proven by the images that boot.
TEST(IsoMakerRequestTest, CommandLineWordsAndRoom) {
    const std::wstring folder = L"my w";
    auto request = MakeIsoMakerRequest(folder, L"S");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->workingFolder, L"S");
    // The folder with its space stays one word; the rest are the line's words.
    ASSERT_EQ(request->argv.size(), 23u);
    EXPECT_EQ(request->argv[0], JoinPath(folder, kIsoMakerName));
    std::wstring joined;
    for (const auto& word : request->argv) {
        joined += (joined.empty() ? L"" : L" ") + word;
    }
    EXPECT_EQ(joined, request->commandLine);
    // The line has 520 characters of room, its terminator included.
    const std::size_t room = kMaxCommandLine - 1 - (request->commandLine.size() - folder.size());
    EXPECT_TRUE(MakeIsoMakerRequest(std::wstring(room, L'x'), L"S"));
    EXPECT_FALSE(MakeIsoMakerRequest(std::wstring(room + 1, L'x'), L"S"));
}

TEST_F(IsoBuilderTest, DeliversTheImageMadeFromTheStagedTree) {
    WriteFile(*options.IsoPath, "an older image");
    // Installed files may be read-only; their staged copies must still go.
    const auto writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(ToFsPath(Installed(L"iso/sub/extra.c32")), writable, fs::perm_options::remove);
    Expect(true, {});
    fs::permissions(ToFsPath(Installed(L"iso/sub/extra.c32")), writable, fs::perm_options::add);
    EXPECT_EQ(fs::file_size(ToFsPath(*options.IsoPath)), 1048576u);
    EXPECT_EQ(Entries(out), std::vector<std::wstring>{L"scourcd.iso"});

    // Run in a staging folder of its own in the temporary folder, with the fixed command.
    ASSERT_EQ(temps.made.size(), 1u);
    const std::wstring staging = temps.made[0];
    const std::wstring leaf = FromFsPath(ToFsPath(staging).filename());
    EXPECT_EQ(JoinPath(*temps.TempFolder(), leaf), staging);
    EXPECT_EQ(leaf.substr(0, 3), L"SCR");
    EXPECT_FALSE(temps.AnyLeft());
    EXPECT_EQ(Logged("cwd"), std::vector<std::string>{ToUtf8(staging)});
    auto request = MakeIsoMakerRequest(program, staging);
#ifdef _WIN32
    // Wine puts quotes around the program path that it found among the unquoted words.
    auto cmdline = Logged("cmdline");
    ASSERT_EQ(cmdline.size(), 1u);
    std::erase(cmdline[0], '"');
    EXPECT_EQ(cmdline[0], ToUtf8(request->commandLine));
#else
    std::vector<std::string> argv;
    for (const auto& a : request->argv) {
        argv.push_back(ToUtf8(a));
    }
    EXPECT_EQ(Logged("arg"), argv);
#endif
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
}

TEST_F(IsoBuilderTest, TheImageItLeavesDecides) {
    const std::pair<const char*, Boxes> cases[] = {
        {"size=none\n", {Error(IDS_ISO_MISSING_FILE)}},
        {"size=1048575\n", {Error(IDS_ISO_BAD_OUTPUT)}},
        {"size=1048576\n", {}},
        {"size=1048577\nexit=3\n", {}},  // the exit code is not looked at
    };
    for (const auto& [conf, boxes] : cases) {
        SCOPED_TRACE(conf);
        std::error_code ec;
        fs::remove(ToFsPath(*options.IsoPath), ec);
        Configure(conf);
        Expect(boxes.empty(), boxes);
        EXPECT_EQ(Exists(*options.IsoPath), boxes.empty());
    }
    EXPECT_EQ(temps.made.size(), 4u);
    // A SPARC initrd of a size the loader cannot take is only warned about.
    WriteFile(Installed(L"common/wipe.sparc64.lz"), std::string(1001, 'S'));
    Expect(true, {Plain(L"Incorrect size of initrd image for SPARC: it must divisible by 4.")});
    fs::remove(ToFsPath(Installed(L"common/wipe.sparc64.lz")));
    Expect(true, {});
    EXPECT_FALSE(temps.AnyLeft());

    // An image maker that cannot start: its command line, then 146.
    fs::remove(ToFsPath(*options.IsoPath));
    fs::remove(ToFsPath(JoinPath(program, kIsoMakerName)));
    Expect(false,
           {Plain(MakeIsoMakerRequest(program, L"S")->commandLine), Error(IDS_ISO_START_FAILED)});
    EXPECT_FALSE(temps.AnyLeft());
    EXPECT_FALSE(Exists(*options.IsoPath));
}

TEST_F(IsoBuilderTest, DestinationsThatCannotTakeTheImage) {
    options.IsoPath = Native(out + L"/missing/scourcd.iso");
    Expect(false, {Error(IDS_ISO_DEST_FAILED)});
    // A folder of that name stays, as empty as it was, and no partial copy is left.
    options.IsoPath = Native(out + L"/folder.iso");
    MakeDirs(*options.IsoPath);
    Expect(false, {Error(IDS_ISO_DEST_FAILED)});
    EXPECT_TRUE(Entries(*options.IsoPath).empty());
    EXPECT_EQ(Entries(out), std::vector<std::wstring>{L"folder.iso"});
#ifdef _WIN32
    // A read-only file is neither deleted nor overwritten.
    options.IsoPath = Native(out + L"/readonly.iso");
    WriteFile(*options.IsoPath, "keep");
    fs::permissions(ToFsPath(*options.IsoPath), fs::perms::owner_write, fs::perm_options::remove);
    Expect(false, {Error(IDS_ISO_DEST_FAILED)});
    EXPECT_EQ(ReadFile(*options.IsoPath), "keep");
    fs::permissions(ToFsPath(*options.IsoPath), fs::perms::owner_write, fs::perm_options::add);
#else
    // A file size limit stands in for a full disk; the stand-in lifts it for itself.
    options.IsoPath = JoinPath(out, L"scourcd.iso");
    fs::remove_all(ToFsPath(Native(out + L"/folder.iso")));
    Configure("size=2097152\n");
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit limited = old;
    limited.rlim_cur = 1536 * 1024;
    auto* handler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    Expect(false, {Error(IDS_ISO_DEST_FAILED)});
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, handler);
    EXPECT_TRUE(Entries(out).empty());
#endif
    EXPECT_FALSE(temps.AnyLeft());
}

// The boot loader's configuration names the archive: without it the image
// would not boot, so nothing is delivered.
TEST_F(IsoBuilderTest, AnArchiveThatCannotBeWrittenFailsTheImage) {
    // Where the staged archive should go, a folder that cannot be replaced.
    const std::wstring blocked = scratch / L"blocked";
    MakeDirs(Native(blocked + L"/boot/scour/taken"));
    const std::pair<const char*, std::function<void()>> causes[] = {
        {"no temporary file", [&] { temps.failFiles = true; }},
        {"staged path taken", [&] { temps.instead = blocked; }},
    };
    for (const auto& [cause, arrange] : causes) {
        SCOPED_TRACE(cause);
        WriteFile(*options.IsoPath, "an older image");
        arrange();
        Expect(false, {Error(IDS_ISO_CONFIG_FAILED)});
        EXPECT_FALSE(MakerRan());
        // Compared as a whole, so that a delivered image is not printed.
        EXPECT_TRUE(ReadFile(*options.IsoPath) == "an older image");
        EXPECT_EQ(Entries(out), std::vector<std::wstring>{L"scourcd.iso"});
        EXPECT_FALSE(temps.AnyLeft());
        temps.failFiles = false;
        temps.instead.reset();
    }
}

TEST_F(IsoBuilderTest, RefusalsComeBeforeAnythingIsMade) {
    options.IsoPath.reset();
    Expect(false, {Error(IDS_ISO_NO_PATH)});
    options.IsoPath = JoinPath(out, std::wstring(kMaxPath, L'i'));
    Expect(false, {TooLong(*options.IsoPath)});
    options.IsoPath = JoinPath(out, L"scourcd.iso");
    services.environment.programFolder = JoinPath(program, std::wstring(kMaxPath - 12, L'p'));
    Expect(false, {TooLong(JoinPath(services.environment.programFolder, kIsoMakerName))});
    services.environment.programFolder = program;
    EXPECT_TRUE(temps.made.empty());

    // Without a staging folder of its own nothing is built and nothing removed.
    temps.fail = true;
    Expect(false, {Error(IDS_ISO_START_FAILED)});
    EXPECT_FALSE(MakerRan());
    EXPECT_FALSE(Exists(*options.IsoPath));

    // A staging folder too deep for its names is removed (made where the
    // platform allows such depth; Windows refuses it itself).
    std::wstring deep = scratch.Path();
    while (deep.size() < kMaxPath - 20) {
        deep = JoinPath(deep,
                        std::wstring(std::min<std::size_t>(kMaxPath - 20 - deep.size(), 60), L'd'));
    }
    temps.fail = false;
    temps.instead = JoinPath(deep, L"SCRLIN1");
    std::error_code ec;
    fs::create_directories(ToFsPath(*temps.instead), ec);
    Expect(false, {TooLong(JoinPath(*temps.instead, Native(L"boot/isolinux")))});
    EXPECT_FALSE(MakerRan());
    EXPECT_FALSE(temps.AnyLeft());
}

}  // namespace
}  // namespace scour
