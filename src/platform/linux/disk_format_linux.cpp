// Formatting the volume: mkfs.vfat on the disk's descriptor at the volume's
// offset, FAT32 where the volume is large enough for it, else FAT16.
#include "base/text.h"
#include "platform/linux/disk_ops_internal.h"

namespace scour::platform {

using namespace disk_detail;

namespace {

constexpr char kVolumeLabel[] = "SCOURLINE";

}  // namespace

FatChoice ChooseFat(std::uint64_t volumeBytes) {
    constexpr std::uint64_t kMiB = 1024 * 1024;
    constexpr std::uint64_t kGiB = 1024 * kMiB;
    std::uint64_t sectors = volumeBytes / 512;
    int perCluster = volumeBytes < 260 * kMiB  ? 1
                     : volumeBytes < 8 * kGiB  ? 8
                     : volumeBytes < 16 * kGiB ? 16
                     : volumeBytes < 32 * kGiB ? 32
                                               : 64;
    // FAT32: 32 reserved sectors and two FATs of 4 bytes per cluster; the FAT
    // size is taken from the cluster count before the FATs are subtracted, so
    // the estimate errs low.
    std::uint64_t fatSectors = ((sectors / perCluster + 2) * 4 + 511) / 512;
    std::uint64_t overhead = 32 + 2 * fatSectors;
    std::uint64_t clusters = sectors > overhead ? (sectors - overhead) / perCluster : 0;
    constexpr std::uint64_t kFat32MinClusters = 65525;
    constexpr std::uint64_t kMargin = 64;
    if (clusters >= kFat32MinClusters + kMargin) {
        return {32, perCluster};
    }
    return {16, 0};
}

bool LinuxDiskPreparer::Format(const DiskTarget& target) {
    auto disk = Open(target);
    if (!disk || !UnmountAll(*disk)) {
        return false;
    }
    auto span = Locate(*disk);
    if (!span) {
        return false;
    }
    std::string mkfs = FindTool("mkfs.vfat");
    if (mkfs.empty()) {
        mkfs = FindTool("mkfs.fat");
    }
    FatChoice fat = ChooseFat(span->length);
    if (fileSystem_ == FormatFileSystem::Fat) {
        fat = FatChoice{16, 0};
    } else if (fileSystem_ == FormatFileSystem::Fat32 && fat.fatBits != 32) {
        // mtools and syslinux refuse a FAT32 with too few clusters.
        NoteFailure("the volume (" + std::to_string(span->length >> 20) +
                    " MiB) is too small for FAT32, which needs about 33 MiB: choose FAT");
        return false;
    }
    // -I: the file system goes into the whole disk at an offset, on purpose.
    std::vector<std::string> argv = {"mkfs.vfat", "-I",        "-F", std::to_string(fat.fatBits),
                                     "-n",        kVolumeLabel};
    if (fat.sectorsPerCluster != 0) {
        argv.insert(argv.end(), {"-s", std::to_string(fat.sectorsPerCluster)});
    }
    if (span->offset != 0) {
        std::string first = std::to_string(span->offset / 512);
        argv.insert(argv.end(), {"--offset", first, "-h", first});
    }
    argv.insert(argv.end(), {DiskForTools(), std::to_string(span->length / 1024)});
    if (!SameMedium(*disk)) {
        return false;
    }
    ToolLaunch launch{mkfs.empty() ? "/usr/sbin/mkfs.vfat" : mkfs, argv, {disk->fd.Get()}, Home()};
    auto r = RunTool(launch);
    if (!r.exitKnown || r.status != 0) {
        NoteFailure(DescribeRun(launch, r));
        return false;
    }
    return true;
}

}  // namespace scour::platform
