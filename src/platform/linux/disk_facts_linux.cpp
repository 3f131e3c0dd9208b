#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/block_sysfs.h"
#include "platform/linux/disk_ops_internal.h"

namespace scour::platform::disk_detail {

std::string ErrnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::optional<std::uint64_t> SizeOf(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        return std::nullopt;
    }
    if (S_ISREG(st.st_mode)) {
        return static_cast<std::uint64_t>(st.st_size);
    }
    std::uint64_t size = 0;
    if (S_ISBLK(st.st_mode) && ioctl(fd, BLKGETSIZE64, &size) == 0) {
        return size;
    }
    return std::nullopt;
}

std::uint32_t SectorSizeOf(int fd) {
    struct stat st {};
    int size = 0;
    if (fstat(fd, &st) == 0 && S_ISBLK(st.st_mode) && ioctl(fd, BLKSSZGET, &size) == 0 &&
        size >= 512) {
        return static_cast<std::uint32_t>(size);
    }
    return 512;
}

std::optional<DiskIdentity> IdentityOf(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        return std::nullopt;
    }
    auto size = SizeOf(fd);
    if (!size) {
        return std::nullopt;
    }
    DiskIdentity id;
    id.sizeBytes = *size;
    if (S_ISBLK(st.st_mode)) {
        id.deviceNumber = st.st_rdev;
        id.serial = SerialOf(st.st_rdev);
        id.sequence = DiskSequenceOf(st.st_rdev);
    } else if (S_ISREG(st.st_mode)) {
        id.deviceNumber = st.st_ino;
        id.sequence = st.st_dev;
    } else {
        return std::nullopt;
    }
    return id;
}

bool ReadSector0(int fd, MbrSector& sector) {
    return pread(fd, sector.data(), sector.size(), 0) == static_cast<ssize_t>(sector.size());
}

bool WriteSector0(int fd, const MbrSector& sector) {
    return pwrite(fd, sector.data(), sector.size(), 0) == static_cast<ssize_t>(sector.size()) &&
           fsync(fd) == 0;
}

// Whether the kernel shows a partition of the disk with that place and size.
bool KernelKnowsPartition(dev_t disk, std::uint64_t start, std::uint64_t length) {
    for (dev_t part : PartitionsOf(disk)) {
        auto s = ReadNumber(SysDir(part) + "/start");
        auto n = ReadNumber(SysDir(part) + "/size");
        if (s && n && *s * kSysfsSector == start && *n * kSysfsSector == length) {
            return true;
        }
    }
    return false;
}

// The medium behind a descriptor is still the one it was opened on.
bool SameSequence(int fd, dev_t rdev, std::uint64_t sequence) {
    return sequence == 0 || (DiskSequenceOf(fd) == sequence && DiskSequenceOf(rdev) == sequence);
}

Fd Reopen(int fd, int flags) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return Fd(open(self.c_str(), flags | O_CLOEXEC));
}

std::optional<std::string> ReadAll(int fd, std::size_t limit) {
    std::string out;
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
            if (out.size() > limit) {
                return std::nullopt;
            }
        } else if (n == 0) {
            return out;
        } else if (errno != EINTR) {
            return std::nullopt;
        }
    }
}

}  // namespace scour::platform::disk_detail
