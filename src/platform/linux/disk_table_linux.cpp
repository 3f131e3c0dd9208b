// Writing a disk's partition table: the first sector, read, changed and
// written on the exclusive descriptor, then the kernel told of the new table.
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "platform/linux/block_sysfs.h"
#include "platform/linux/disk_ops_internal.h"

namespace scour::platform::disk_detail {

namespace {

class LinuxRawDisk final : public IRawDisk {
  public:
    LinuxRawDisk(LinuxDiskPreparer& owner, Fd fd, const OpenedDisk& disk)
        : owner_(owner),
          fd_(std::move(fd)),
          label_(disk.label),
          block_(disk.block),
          rdev_(disk.rdev),
          sequence_(disk.sequence) {}

    std::optional<DiskIdentity> Identity() override { return IdentityOf(fd_.Get()); }

    std::optional<DiskGeometry> Geometry() override {
        auto size = SizeOf(fd_.Get());
        if (!size) {
            return std::nullopt;
        }
        DiskGeometry g;
        g.tracksPerCylinder = 255;
        g.sectorsPerTrack = 63;
        g.bytesPerSector = SectorSizeOf(fd_.Get());
        struct hd_geometry geo {};
        if (block_ && ioctl(fd_.Get(), HDIO_GETGEO, &geo) == 0 && geo.heads != 0 &&
            geo.sectors != 0) {
            g.tracksPerCylinder = geo.heads;
            g.sectorsPerTrack = geo.sectors;
        }
        // The ioctl's own cylinder count is 16 bits wide: derive it from the size.
        g.cylinders = *size / (static_cast<std::uint64_t>(g.tracksPerCylinder) * g.sectorsPerTrack *
                               g.bytesPerSector);
        return g;
    }

    std::optional<DiskLayout> Layout() override {
        MbrSector sector{};
        auto size = SizeOf(fd_.Get());
        if (!size || !ReadSector0(fd_.Get(), sector)) {
            owner_.NoteFailure(ErrnoText("cannot read the first sector of " + label_));
            return std::nullopt;
        }
        return DecodeMbr(sector, *size, SectorSizeOf(fd_.Get()));
    }

    bool ClearFirstSector() override {
        MbrSector zero{};
        return StillSameMedium() && WriteSector0(fd_.Get(), zero);
    }

    bool CreateMbrDisk() override {
        MbrSector sector{};
        if (!ReadSector0(fd_.Get(), sector)) {
            owner_.NoteFailure(ErrnoText("cannot read the first sector of " + label_));
            return false;
        }
        std::random_device random;
        std::uint32_t signature = 0;
        while (signature == 0) {
            signature = random();
        }
        DiskLayout empty;
        empty.signature = signature;
        EncodeMbr(sector, empty, DiskGeometry{});
        if (!StillSameMedium() || !WriteSector0(fd_.Get(), sector)) {
            owner_.NoteFailure(ErrnoText("cannot write the first sector of " + label_));
            return false;
        }
        return true;
    }

    bool SetLayout(const DiskLayout& layout, const DiskGeometry& geometry) override {
        if (!FitsTheDisk(layout, geometry)) {
            owner_.NoteFailure("the partition table does not fit " + label_ +
                               ": nothing was written");
            return false;
        }
        MbrSector sector{};
        if (!ReadSector0(fd_.Get(), sector)) {
            owner_.NoteFailure(ErrnoText("cannot read the first sector of " + label_));
            return false;
        }
        EncodeMbr(sector, layout, geometry);
        if (!StillSameMedium() || !WriteSector0(fd_.Get(), sector)) {
            owner_.NoteFailure(ErrnoText("cannot write the partition table of " + label_));
            return false;
        }
        if (block_) {
            TellKernel(layout);
        }
        return true;
    }

  private:
    // Every used entry lies inside the disk, in whole sectors an MBR can count.
    bool FitsTheDisk(const DiskLayout& layout, const DiskGeometry& g) {
        auto size = SizeOf(fd_.Get());
        if (!size || g.bytesPerSector == 0 || layout.partitions.size() > kMbrEntries) {
            return false;
        }
        for (const auto& p : layout.partitions) {
            if (p.partitionType == 0 || p.partitionLength <= 0) {
                continue;
            }
            auto start = static_cast<std::uint64_t>(p.startingOffset);
            auto length = static_cast<std::uint64_t>(p.partitionLength);
            if (p.startingOffset <= 0 || start % g.bytesPerSector != 0 ||
                length % g.bytesPerSector != 0 || start > *size || length > *size - start ||
                (start + length) / g.bytesPerSector > 0xFFFFFFFFull) {
                return false;
            }
        }
        return true;
    }

    bool StillSameMedium() {
        if (block_ && !SameSequence(fd_.Get(), rdev_, sequence_)) {
            owner_.NoteFailure("the medium in " + label_ + " has changed: nothing was written");
            errno = ENODEV;
            return false;
        }
        return true;
    }

    // The new table is on the disk either way; the system merely learns of it.
    void TellKernel(const DiskLayout& layout) {
        ioctl(fd_.Get(), BLKRRPART);
        if (layout.partitions.empty() || layout.partitions[0].partitionLength <= 0) {
            return;
        }
        auto start = static_cast<std::uint64_t>(layout.partitions[0].startingOffset);
        auto length = static_cast<std::uint64_t>(layout.partitions[0].partitionLength);
        if (KernelKnowsPartition(rdev_, start, length)) {
            return;
        }
        // Kernels without MS-DOS partition support: partx adds what the table holds.
        ToolLaunch partx{FindTool("partx"), {"partx", "-u", DiskForTools()}, {fd_.Get()}, {}};
        auto r = RunTool(partx);
        if (!KernelKnowsPartition(rdev_, start, length)) {
            owner_.NoteFailure("the system has not taken up the new partition of " + label_ + " (" +
                               DescribeRun(partx, r) + ")");
        }
    }

    LinuxDiskPreparer& owner_;
    Fd fd_;
    std::string label_;
    bool block_;
    dev_t rdev_;
    std::uint64_t sequence_;
};

}  // namespace

std::unique_ptr<IRawDisk> MakeRawDisk(LinuxDiskPreparer& owner, Fd fd, const OpenedDisk& disk) {
    return std::make_unique<LinuxRawDisk>(owner, std::move(fd), disk);
}

}  // namespace scour::platform::disk_detail
