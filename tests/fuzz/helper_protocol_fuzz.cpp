// The disk helper's conversation as either side receives it: the bytes come
// through a descriptor, as they do from the peer, and every field of every
// message goes through every decoder.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "platform/disk_ops.h"
#include "platform/linux/helper_protocol.h"

namespace helper = scour::platform::helper;
using scour::platform::DiskGeometry;
using scour::platform::DiskLayout;

namespace {

// Enough for a long conversation; later messages add no new paths.
constexpr int kMaxMessages = 64;

// A decoded value, encoded again, decodes to the same encoding: what one side
// accepts, the other can send back unchanged.
template <typename Decode, typename Encode>
void CheckRoundTrip(const std::string& field, Decode decode, Encode encode) {
    auto value = decode(field);
    if (!value) {
        return;
    }
    const std::string once = encode(*value);
    auto again = decode(once);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(encode(*again) == once);
}

void ExamineField(const std::string& field) {
    CheckRoundTrip(field, helper::DecodeIdentity, helper::EncodeIdentity);
    CheckRoundTrip(field, helper::DecodeGeometry, helper::EncodeGeometry);
    CheckRoundTrip(field, helper::DecodeLayout, helper::EncodeLayout);
    CheckRoundTrip(field, helper::DecodeFacts, helper::EncodeFacts);
    CheckRoundTrip(field, helper::DecodeFileSystem, helper::EncodeFileSystem);
    CheckRoundTrip(field, helper::DecodeNumber, helper::EncodeNumber);
}

void ExamineMessage(const helper::Message& m) {
    FUZZ_CHECK(m.size() <= helper::kMaxFields);
    for (std::size_t i = 0; i < m.size(); ++i) {
        ExamineField(m[i]);
        if (auto target = helper::GetTarget(m, i)) {
            helper::Message again;
            helper::PutTarget(again, *target);
            FUZZ_CHECK(again.size() == 2);
        }
    }
    // A table and a geometry from a request end up in a disk's first sector.
    for (std::size_t i = 0; i + 1 < m.size(); ++i) {
        auto layout = helper::DecodeLayout(m[i]);
        auto geometry = helper::DecodeGeometry(m[i + 1]);
        if (layout && geometry) {
            scour::platform::MbrSector sector{};
            scour::platform::EncodeMbr(sector, *layout, *geometry);
            FUZZ_CHECK(sector[510] == 0x55 && sector[511] == 0xAA);
        }
    }
    // Requests are checked here as the helper checks them before acting.
}

// A message, written out and read back, is the same message.
void CheckMessageRoundTrip(const helper::Message& m) {
    const std::string bytes = helper::EncodeMessage(m);
    int fd = memfd_create("helper-echo", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(helper::WriteMessage(fd, m));
    FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);
    helper::MessageReader reader(fd);
    std::string error;
    auto again = reader.Read(error);
    FUZZ_CHECK(again.has_value() && *again == m);
    FUZZ_CHECK(!reader.Read(error).has_value() && error.empty());
    close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A memory file rather than a pipe: it takes any amount without a reader.
    int fd = memfd_create("helper-input", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        FUZZ_CHECK(n > 0);
        done += static_cast<std::size_t>(n);
    }
    FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);

    helper::MessageReader reader(fd);
    for (int i = 0; i < kMaxMessages; ++i) {
        std::string error;
        auto m = reader.Read(error);
        if (!m) {
            break;
        }
        FUZZ_CHECK(error.empty());
        ExamineMessage(*m);
        CheckMessageRoundTrip(*m);
    }
    close(fd);
    return 0;
}
