// The Linux settings file (REGEDIT4 text) as the store reads it, and what the
// store writes over it: every value set reads back as set, every other value
// reads back as it was.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "fuzz.h"
#include "platform/linux/reg_file_store.h"

namespace regtext = scour::platform::regtext;
using scour::platform::RegValue;

namespace {

bool Same(const std::optional<RegValue>& a, const std::optional<RegValue>& b) {
    return a.has_value() == b.has_value() && (!a || (a->type == b->type && a->data == b->data));
}

// Values to store, made from the input so that the fuzzer steers names and
// data too: each name the file holds gets a new value, and the file's last
// line is a name and a text of its own.
regtext::Values ValuesToSet(std::string_view text, const std::vector<std::wstring>& names) {
    std::size_t k = text.size();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    const std::string_view last = text.substr(text.rfind('\n') + 1);  // npos + 1 == 0
    const std::vector<std::uint8_t> bytes(last.begin(), last.end());
    auto at = [&](std::size_t i) -> std::uint8_t {
        return bytes.empty() ? 0 : bytes[i % bytes.size()];
    };
    auto sz = scour::ToUtf16Le(scour::FromUtf8(last));
    sz.insert(sz.end(), {0, 0});
    const RegValue kinds[] = {
        {scour::platform::kRegDword, {at(0), at(1), at(2), at(3)}},
        {scour::platform::kRegSz, sz},
        {scour::platform::kRegBinary, bytes},
        // Any type number: a type the store does not know is kept as its bytes.
        {static_cast<std::uint32_t>(at(0)) << (at(1) % 25), bytes},
        // Text without its terminator, or with odd bytes, is no quotable text.
        {scour::platform::kRegSz, bytes},
    };
    regtext::Values values;
    for (const auto& name : names) {
        values.emplace_back(name, kinds[k++ % 5]);
    }
    values.emplace_back(scour::FromUtf8(last.substr(0, 40)), kinds[k++ % 5]);
    values.emplace_back(L"AutoStart", kinds[k % 5]);
    return values;
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

    regtext::Values values = ValuesToSet(text, names);
    std::erase_if(values, [](const auto& v) { return !regtext::IsStorableName(v.first); });
    // Every other value of the file keeps its reading; so no more than half are set.
    const regtext::Values toSet(values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2),
                                values.end());
    const std::string after = regtext::Update(text, toSet);
    // A commit with nothing to set leaves a file the store wrote as it was.
    FUZZ_CHECK(regtext::HasKey(after) && regtext::Update(after, {}) == after);
    auto lastSet = [&](const std::wstring& name) -> const RegValue* {
        const RegValue* found = nullptr;
        for (const auto& [n, v] : toSet) {
            found = scour::EqualsAsciiNoCase(n, name) ? &v : found;
        }
        return found;
    };
    for (const auto& [name, value] : toSet) {
        FUZZ_CHECK(Same(regtext::Query(after, name), *lastSet(name)));
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        FUZZ_CHECK(lastSet(names[i]) != nullptr ||
                   Same(regtext::Query(after, names[i]), before[i]));
    }
    return 0;
}
