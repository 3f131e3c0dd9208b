// The add-on list (addons.txt) as the configuration archive reads it, and each
// accepted name as the archive member it becomes.
#include <string_view>
#include <vector>

#include "base/text.h"
#include "fuzz.h"
#include "media/config_archive.h"
#include "media/newc_writer.h"

namespace {

// What may reach the program folder's path and the archive: no way out of either.
void CheckName(std::string_view name) {
    constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";
    FUZZ_CHECK(!name.empty() && name.find_first_of(std::string_view("\0\n", 2)) == name.npos);
    FUZZ_CHECK(kWhiteSpace.find(name.front()) == kWhiteSpace.npos);
    FUZZ_CHECK(kWhiteSpace.find(name.back()) == kWhiteSpace.npos);
    FUZZ_CHECK(name.front() != '/' && name.front() != '\\');
    FUZZ_CHECK(name.size() < 2 || name[1] != ':');
    for (std::size_t start = 0, end = 0; end != name.npos; start = end + 1) {
        end = name.find_first_of("/\\", start);
        FUZZ_CHECK(name.substr(start, end - start) != "..");
    }
    // Its member header: aligned, with the name as given and its terminator.
    constexpr std::size_t kHead = scour::NewcArchiveWriter::kHeaderSize;
    scour::NewcArchiveWriter writer;
    std::vector<char> buffer(kHead + name.size() + 4);
    const std::size_t length = writer.FormatHeader(buffer, name, 0, 0100755, 1);
    FUZZ_CHECK(length != 0 && length % 4 == 0 && length <= buffer.size());
    FUZZ_CHECK(std::string_view(buffer.data(), 6) == "070701");
    FUZZ_CHECK(std::string_view(buffer.data() + kHead, name.size()) == name);
    FUZZ_CHECK(buffer[kHead + name.size()] == '\0');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto list = OpenMemoryFile(data, size);
    std::size_t names = 0, bytes = 0;
    scour::ReadAddOnList(list.get(), [&](std::string_view name) {
        CheckName(name);
        (void)scour::FitsPathBuffer(scour::JoinPath(L"/program", scour::FromUtf8(name)));
        ++names;
        bytes += name.size();
    });
    // Each name comes from bytes of its own line.
    FUZZ_CHECK(bytes <= size && names <= size / 2 + 1);
    return 0;
}
