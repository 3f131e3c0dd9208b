#include "platform/linux/helper_protocol.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

namespace scour::platform::helper {
namespace {

// A peer that sends without pause: read boundaries fall inside messages, and
// what was handed out already must not pile up in the reader, however long
// the stream (the helper runs as root for any process of the session).
TEST(HelperMessages, ReaderHoldsOneMessageAndOneReadOfAnEndlessStream) {
    const Message m = {"copy-file", std::string(978, 'x')};
    const std::string one = EncodeMessage(m);
    ASSERT_EQ(one.size() % 2, 1u) << "an odd length never lines up with a read's end";
    int fd = memfd_create("stream", MFD_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::string stream;
    for (int i = 0; i < 8000; ++i) {
        stream += one;
    }
    ASSERT_EQ(write(fd, stream.data(), stream.size()), static_cast<ssize_t>(stream.size()));
    ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);

    MessageReader reader(fd);
    std::size_t largest = 0;
    int count = 0;
    std::string error;
    while (auto got = reader.Read(error)) {
        ASSERT_EQ(*got, m);
        largest = std::max(largest, reader.BufferSize());
        ++count;
    }
    EXPECT_EQ(error, "");
    EXPECT_EQ(count, 8000);
    EXPECT_LE(largest, 65536 + 2 * one.size());
    close(fd);
}

}  // namespace
}  // namespace scour::platform::helper
