// The add-on list (addons.txt) as the configuration archive reads it, and each
// accepted name as the archive member it becomes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "fuzz_check.h"
#include "media/config_archive.h"
#include "media/newc_writer.h"
#include "memory_file.h"

namespace {

constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

// What may reach the program folder's path and the archive: no way out of either.
void CheckName(std::string_view name) {
    FUZZ_CHECK(!name.empty());
    FUZZ_CHECK(name.find('\0') == std::string_view::npos);
    FUZZ_CHECK(name.find('\n') == std::string_view::npos);
    FUZZ_CHECK(kWhiteSpace.find(name.front()) == std::string_view::npos);
    FUZZ_CHECK(kWhiteSpace.find(name.back()) == std::string_view::npos);
    FUZZ_CHECK(name.front() != '/' && name.front() != '\\');
    FUZZ_CHECK(name.size() < 2 || name[1] != ':');
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = name.find_first_of("/\\", start);
        FUZZ_CHECK(name.substr(start, end - start) != "..");
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
}

void CheckMember(std::string_view name) {
    scour::NewcArchiveWriter writer;
    std::vector<char> buffer(scour::NewcArchiveWriter::kHeaderSize + name.size() + 4);
    const std::size_t length = writer.FormatHeader(buffer, name, 0, 0100755, 1);
    FUZZ_CHECK(length != 0 && length % 4 == 0 && length <= buffer.size());
    FUZZ_CHECK(std::string_view(buffer.data(), 6) == "070701");
    FUZZ_CHECK(std::string_view(buffer.data() + scour::NewcArchiveWriter::kHeaderSize,
                                name.size()) == name);
    FUZZ_CHECK(buffer[scour::NewcArchiveWriter::kHeaderSize + name.size()] == '\0');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemoryFile list(data, size);
    std::size_t names = 0;
    std::size_t bytes = 0;
    scour::ReadAddOnList(list.Get(), [&](std::string_view name) {
        CheckName(name);
        CheckMember(name);
        (void)scour::FitsPathBuffer(scour::JoinPath(L"/program", scour::FromUtf8(name)));
        ++names;
        bytes += name.size();
    });
    // Each name comes from bytes of its own line.
    FUZZ_CHECK(bytes <= size);
    FUZZ_CHECK(names <= size / 2 + 1);
    return 0;
}
