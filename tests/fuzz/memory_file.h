// Fuzz input as a real stdio file: a memory file behind a FILE*, so readers
// take it exactly as they take a file from disk.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "fuzz_check.h"

// A memory file holding the bytes, read from its start; the caller closes it.
inline int MemoryFd(const std::uint8_t* data, std::size_t size) {
    int fd = memfd_create("fuzz-input", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        FUZZ_CHECK(n > 0);
        done += static_cast<std::size_t>(n);
    }
    FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);
    return fd;
}

class MemoryFile {
  public:
    MemoryFile(const std::uint8_t* data, std::size_t size) {
        file_ = fdopen(MemoryFd(data, size), "rb");
        FUZZ_CHECK(file_ != nullptr);
    }
    ~MemoryFile() { std::fclose(file_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    std::FILE* Get() const { return file_; }

  private:
    std::FILE* file_ = nullptr;
};
