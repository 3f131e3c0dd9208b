// A cpio archive writer in the newc format ("070701", no checksum), as the
// Linux boot environment unpacks it. The archive is built in a temporary file
// and reaches its destination only when complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "platform/system.h"

namespace scour {

class NewcArchiveWriter {
  public:
    static constexpr std::uint32_t kFirstInode = 0x10000;
    static constexpr std::uint32_t kModeFile = 0100755;    // members copied from files
    static constexpr std::uint32_t kModeMemory = 0100644;  // members from memory
    static constexpr std::size_t kHeaderSize = 110;
    // Files are copied through one buffer of this size, whatever their size.
    static constexpr std::size_t kChunkSize = 65535;
    static constexpr std::uint64_t kMaxMemberSize = 0xFFFFFFFFu;

    NewcArchiveWriter() = default;
    ~NewcArchiveWriter();
    NewcArchiveWriter(const NewcArchiveWriter&) = delete;
    NewcArchiveWriter& operator=(const NewcArchiveWriter&) = delete;

    // Creates the temporary archive file (prefix "SCR") and opens it for writing.
    bool Open(platform::ITempFiles& tempFiles);

    // Adds a member copied from the file at source. False when the source cannot be
    // opened, is 4 GiB or larger, or cannot be copied in full; no record is left then.
    bool AddFile(std::wstring_view source, std::string_view name);
    // Adds a member copied from an open file, from its start, its size taken from it.
    bool AddFileHandle(std::FILE* file, std::string_view name);
    // The same with the size given: exactly size bytes from the start of the file.
    // A file that delivers fewer fails the member, and the archive is cut back.
    bool AddFileHandle(std::FILE* file, std::uint64_t size, std::string_view name);
    // Adds a member whose data are the given bytes.
    bool AddBuffer(const void* data, std::size_t size, std::string_view name);
    bool WriteTrailer();

    // Closes the archive file and copies it to destination, replacing any file there;
    // the temporary file is deleted only after a good copy.
    bool CommitTo(std::wstring_view destination);
    // Closes the file if open and deletes the temporary file unless it was committed.
    // Harmless when called again.
    void Close();

    // Forms header, name, NUL and padding (a multiple of 4 bytes) into buffer and takes
    // the next inode. Returns their length, or 0 when they do not fit (no inode taken).
    std::size_t FormatHeader(std::span<char> buffer, std::string_view name, std::uint32_t size,
                             std::uint32_t mode, std::uint32_t linkCount);

    // Full path of the temporary archive file; empty before Open.
    const std::wstring& TempPath() const { return tempPath_; }
    std::uint32_t NextInode() const { return nextInode_; }

  private:
    bool Write(const void* data, std::size_t size);
    bool WritePadding(std::uint64_t size);
    // Ends a record: its bytes must reach the file before it counts as written.
    bool FinishRecord(std::uint64_t recordStart, std::uint32_t inode);
    // Removes a failed record, so the archive stays well-formed without it.
    void CutBack(std::uint64_t recordStart, std::uint32_t inode);
    bool ReopenForAppend();

    std::wstring tempPath_;
    std::FILE* file_ = nullptr;
    std::uint64_t written_ = 0;  // bytes in the archive file
    std::uint32_t nextInode_ = kFirstInode;
    bool committed_ = false;
};

}  // namespace scour
