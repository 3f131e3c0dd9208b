// The Linux settings file (REGEDIT4 text) as the store reads it, and what the
// store writes over it: every value set reads back as set, every other value
// reads back as it was, and the options saved from it load back equal.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "fuzz_check.h"
#include "options/wizard_options.h"
#include "platform/linux/reg_file_store.h"

namespace regtext = scour::platform::regtext;
using scour::platform::RegValue;

namespace {

bool Same(const std::optional<RegValue>& a, const std::optional<RegValue>& b) {
    if (a.has_value() != b.has_value()) {
        return false;
    }
    return !a || (a->type == b->type && a->data == b->data);
}

std::string_view LastLine(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    const std::size_t nl = text.rfind('\n');
    return nl == std::string_view::npos ? text : text.substr(nl + 1);
}

// Values to store, made from the input so that the fuzzer steers names and
// data too: each name the file holds gets a new value, and the file's last
// line is a name and a text of its own.
regtext::Values ValuesToSet(std::string_view text, const std::vector<std::wstring>& names) {
    const std::string_view last = LastLine(text);
    std::vector<std::uint8_t> bytes(last.begin(), last.end());
    auto byteAt = [&](std::size_t i) -> std::uint8_t {
        return bytes.empty() ? 0 : bytes[i % bytes.size()];
    };

    std::vector<RegValue> kinds;
    kinds.push_back({scour::platform::kRegDword, {byteAt(0), byteAt(1), byteAt(2), byteAt(3)}});
    auto sz = scour::ToUtf16Le(scour::FromUtf8(last));
    sz.push_back(0);
    sz.push_back(0);
    kinds.push_back({scour::platform::kRegSz, sz});
    kinds.push_back({scour::platform::kRegBinary, bytes});
    // Any type number: a type the store does not know is kept as its bytes.
    kinds.push_back({static_cast<std::uint32_t>(byteAt(0)) << (byteAt(1) % 25), bytes});
    // Text without its terminator, or with odd bytes, is no quotable text.
    kinds.push_back({scour::platform::kRegSz, bytes});

    regtext::Values values;
    std::size_t k = text.size();
    for (const auto& name : names) {
        values.emplace_back(name, kinds[k++ % kinds.size()]);
    }
    values.emplace_back(scour::FromUtf8(last.substr(0, 40)), kinds[k++ % kinds.size()]);
    values.emplace_back(L"AutoStart", kinds[k % kinds.size()]);
    return values;
}

bool StartsWithHeader(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    std::string_view line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
        line.remove_prefix(1);
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    return line == "REGEDIT4" || line == "Windows Registry Editor Version 5.00";
}

std::filesystem::path g_folder;

void RemoveFolder() {
    std::error_code ec;
    std::filesystem::remove_all(g_folder, ec);
}

// One settings file for the whole run: in $TMPDIR when it is set (the test
// run sets it), else on a memory file system, as the store syncs every write.
std::filesystem::path SettingsFile() {
    static const std::filesystem::path file = [] {
        std::error_code ec;
        std::filesystem::path base = "/dev/shm";
        if (std::getenv("TMPDIR") != nullptr || !std::filesystem::is_directory(base, ec)) {
            base = std::filesystem::temp_directory_path();
        }
        std::string folder = (base / "reg-file-fuzz.XXXXXX").string();
        FUZZ_CHECK(mkdtemp(folder.data()) != nullptr);
        g_folder = folder;
        std::atexit(RemoveFolder);
        return g_folder / "Data.reg";
    }();
    return file;
}

bool SameOptions(const scour::WizardOptions& a, const scour::WizardOptions& b) {
    return a.AutoStart == b.AutoStart && a.SelectDisks == b.SelectDisks && a.NoDelay == b.NoDelay &&
           a.WriteLog == b.WriteLog && a.NetLog == b.NetLog && a.Verify == b.Verify &&
           a.ResetHPA == b.ResetHPA && a.ResetDCO == b.ResetDCO && a.AtaErase == b.AtaErase &&
           a.IsoUsb == b.IsoUsb && a.IsoShowFolder == b.IsoShowFolder && a.Scheme == b.Scheme &&
           a.IsoPath == b.IsoPath && a.NetShare == b.NetShare && a.NetUser == b.NetUser;
}

// The wizard's own round trip through the real store and file: what it loads,
// saves and loads again is what it loaded.
void CheckOptionsRoundTrip(std::string_view text) {
    const std::filesystem::path file = SettingsFile();
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        FUZZ_CHECK(out.flush());
    }
    scour::platform::RegFileStore store(file);
    scour::platform::Services services;
    services.settings = &store;
    scour::WizardOptions loaded;
    loaded.Load(services);
    FUZZ_CHECK(loaded.Save(services) == 0);
    scour::WizardOptions again;
    again.Load(services);
    FUZZ_CHECK(SameOptions(loaded, again));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const bool hasKey = regtext::HasKey(text);
    const std::vector<std::wstring> names = regtext::ValueNames(text);
    FUZZ_CHECK(hasKey || names.empty());
    std::vector<std::optional<RegValue>> before;
    for (const auto& name : names) {
        before.push_back(regtext::Query(text, name));
    }

    // A commit with nothing to set leaves a file that has the key as it was.
    if (hasKey && StartsWithHeader(text)) {
        FUZZ_CHECK(regtext::Update(text, {}) == text);
    }

    regtext::Values values = ValuesToSet(text, names);
    std::erase_if(values, [](const auto& v) { return !regtext::IsStorableName(v.first); });
    // Every other value of the file keeps its reading; so no more than half are set.
    const regtext::Values toSet(values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2),
                                values.end());
    const std::string after = regtext::Update(text, toSet);
    FUZZ_CHECK(regtext::HasKey(after));
    FUZZ_CHECK(regtext::Update(after, {}) == after);

    auto lastSet = [&](const std::wstring& name) -> const RegValue* {
        const RegValue* found = nullptr;
        for (const auto& [n, v] : toSet) {
            if (scour::EqualsAsciiNoCase(n, name)) {
                found = &v;
            }
        }
        return found;
    };
    for (const auto& [name, value] : toSet) {
        const RegValue* expected = lastSet(name);
        FUZZ_CHECK(Same(regtext::Query(after, name), *expected));
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (lastSet(names[i]) == nullptr) {
            FUZZ_CHECK(Same(regtext::Query(after, names[i]), before[i]));
        }
    }
    CheckOptionsRoundTrip(text);
    return 0;
}
