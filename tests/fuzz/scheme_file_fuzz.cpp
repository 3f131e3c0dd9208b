// A scheme file as the catalogue reads it from the schemes folder, and each of
// its lines as a pass line.
#include <clocale>
#include <string>
#include <string_view>

#include "base/text.h"
#include "fuzz.h"
#include "options/scheme_catalogue.h"
#include "platform/linux/system_linux.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Scheme names are read in the locale's character set; the wizard starts in the user's.
    static const bool kLocale = std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr;
    (void)kLocale;

    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (std::int64_t weight = 1; !text.empty();) {
        const std::size_t nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == text.npos ? text.size() : nl + 1);
        FUZZ_CHECK(scour::PatternLength(line) <= scour::kMaxPatternLength);
        const scour::PassLine pass = scour::ExaminePassLine(line, weight);
        FUZZ_CHECK(pass.recognised ? pass.weight >= 1 : pass.weight == 0 && !pass.verify);
        weight = pass.recognised ? pass.weight : weight;
    }

    auto file = OpenMemoryFile(data, size);
    const scour::SchemeFileScan scan = scour::ScanSchemeFile(file.get());
    FUZZ_CHECK(std::feof(file.get()));
    // Every pass weighs at least one; a verify mark adds to that.
    FUZZ_CHECK(scan.passCount >= 0 && scan.weight >= scan.passCount);
    FUZZ_CHECK(scan.passCount == 0 || scan.nameKnown);
    FUZZ_CHECK(!scan.userDefined || (scan.nameKnown && scan.nameBytes.empty()));
    FUZZ_CHECK(scan.nameBytes.size() < scour::kSchemeLineBytes);
    FUZZ_CHECK(scan.nameBytes.find('\0') == std::string::npos);

    scour::platform::LocaleTextCodec codec;
    const std::wstring name = codec.FromSystem8Bit(scan.nameBytes);
    FUZZ_CHECK(name.size() <= scan.nameBytes.size());
    (void)codec.ToSystem8Bit(name);
    (void)scour::ToUtf8(scour::FromUtf8(scan.nameBytes));
    return 0;
}
