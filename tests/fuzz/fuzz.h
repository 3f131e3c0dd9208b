// A failed check aborts: a finding for libFuzzer, a failure for the replay.
// Input as a memory file, so readers take it as they take a file from disk.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

// A memory file holding the bytes, read from its start; the caller closes it.
inline int MemoryFd(const std::uint8_t* data, std::size_t size) {
    int fd = memfd_create("fuzz-input", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0 && write(fd, data, size) == static_cast<ssize_t>(size));
    FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);
    return fd;
}

using MemoryFile = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
inline MemoryFile OpenMemoryFile(const std::uint8_t* data, std::size_t size) {
    MemoryFile file(fdopen(MemoryFd(data, size), "rb"), &std::fclose);
    FUZZ_CHECK(file != nullptr);
    return file;
}
