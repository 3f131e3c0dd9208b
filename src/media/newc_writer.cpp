#include "media/newc_writer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include "base/file.h"
#include "base/text.h"

#ifdef _WIN32
#include <share.h>  // C runtime sharing flags for _wfsopen
#endif

namespace scour {

namespace {

constexpr char kTrailerName[] = "TRAILER!!!";

// The archive and its sources are opened without sharing where the C runtime
// can ask for it (Windows); elsewhere the temporary file is private by its mode.
std::FILE* OpenUnshared(std::wstring_view path, const wchar_t* wideMode, const char* mode) {
#ifdef _WIN32
    (void)mode;
    return _wfsopen(std::wstring(path).c_str(), wideMode, _SH_DENYRW);
#else
    (void)wideMode;
    return OpenFile(path, mode).release();
#endif
}

bool SeekTo(std::FILE* file, std::int64_t offset, int origin) {
#ifdef _WIN32
    return _fseeki64(file, offset, origin) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), origin) == 0;
#endif
}

std::int64_t Tell(std::FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return static_cast<std::int64_t>(ftello(file));
#endif
}

void PutHex8(char* out, std::uint32_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int i = 7; i >= 0; --i) {
        out[i] = kDigits[value & 0xF];
        value >>= 4;
    }
}

std::uint32_t PaddingFor(std::uint64_t size) {
    return static_cast<std::uint32_t>((4 - size % 4) % 4);
}

// A member name must be non-empty and must not hold a NUL, which would end it early.
bool ValidName(std::string_view name) {
    return !name.empty() && name.find('\0') == std::string_view::npos;
}

std::unique_ptr<char[]> AllocateChunk() {
    return std::unique_ptr<char[]>(new (std::nothrow) char[NewcArchiveWriter::kChunkSize]);
}

}  // namespace

NewcArchiveWriter::~NewcArchiveWriter() {
    Close();
}

bool NewcArchiveWriter::Open(platform::ITempFiles& tempFiles) {
    if (file_ != nullptr || !tempPath_.empty()) {
        return false;
    }
    auto path = tempFiles.CreateTempFile(L"SCR");
    if (!path) {
        return false;
    }
    tempPath_ = *path;
    written_ = 0;
    nextInode_ = kFirstInode;
    committed_ = false;
    // The file is new and empty. Opening it without truncation spares ext4 the
    // flush it starts on closing a truncated-and-rewritten file.
    file_ = OpenUnshared(tempPath_, L"r+b", "r+b");
    if (file_ == nullptr) {
        Close();  // removes the empty file the name was reserved with
        return false;
    }
    return true;
}

std::size_t NewcArchiveWriter::FormatHeader(std::span<char> buffer, std::string_view name,
                                            std::uint32_t size, std::uint32_t mode,
                                            std::uint32_t linkCount) {
    const std::size_t unpadded = kHeaderSize + name.size() + 1;
    const std::size_t total = unpadded + PaddingFor(unpadded);
    if (total > buffer.size()) {
        return 0;
    }
    const auto mtime =
        static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count());
    const std::uint32_t fields[13] = {
        nextInode_++,
        mode,
        0,  // uid
        0,  // gid
        linkCount,
        mtime,
        size,
        0x11,  // devmajor
        0,     // devminor
        0x11,  // rdevmajor
        0,     // rdevminor
        static_cast<std::uint32_t>(name.size() + 1),
        0,  // check
    };
    char* out = buffer.data();
    std::memcpy(out, "070701", 6);
    for (std::size_t i = 0; i < 13; ++i) {
        PutHex8(out + 6 + 8 * i, fields[i]);
    }
    std::memcpy(out + kHeaderSize, name.data(), name.size());
    std::memset(out + kHeaderSize + name.size(), 0, total - kHeaderSize - name.size());
    return total;
}

bool NewcArchiveWriter::Write(const void* data, std::size_t size) {
    if (file_ == nullptr) {
        return false;
    }
    if (size == 0) {
        return true;
    }
    const std::size_t n = std::fwrite(data, 1, size, file_);
    written_ += n;
    return n == size;
}

bool NewcArchiveWriter::WritePadding(std::uint64_t size) {
    static constexpr char kZeros[4] = {};
    return Write(kZeros, PaddingFor(size));
}

bool NewcArchiveWriter::FinishRecord(std::uint64_t recordStart, std::uint32_t inode) {
    // Flushing per record means a write error that stdio reports late is charged
    // to the record it belongs to.
    if (file_ != nullptr && std::fflush(file_) == 0) {
        return true;
    }
    CutBack(recordStart, inode);
    return false;
}

bool NewcArchiveWriter::ReopenForAppend() {
    file_ = OpenUnshared(tempPath_, L"ab", "ab");
    return file_ != nullptr;
}

void NewcArchiveWriter::CutBack(std::uint64_t recordStart, std::uint32_t inode) {
    // The number goes back too: the archive reads as if the member had never been added.
    nextInode_ = inode;
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    std::error_code ec;
    std::filesystem::resize_file(ToFsPath(tempPath_), recordStart, ec);
    if (ec || !ReopenForAppend()) {
        // Without the cut the archive would be malformed: the writer is then unusable,
        // and WriteTrailer and CommitTo fail.
        if (file_ != nullptr) {
            std::fclose(file_);
            file_ = nullptr;
        }
        return;
    }
    written_ = recordStart;
}

bool NewcArchiveWriter::AddFile(std::wstring_view source, std::string_view name) {
    if (source.empty() || !ValidName(name) || file_ == nullptr) {
        return false;
    }
    FilePtr in(OpenUnshared(source, L"rb", "rb"));
    if (!in) {
        return false;
    }
    return AddFileHandle(in.get(), name);
}

bool NewcArchiveWriter::AddFileHandle(std::FILE* file, std::string_view name) {
    if (file == nullptr || !SeekTo(file, 0, SEEK_END)) {
        return false;
    }
    const std::int64_t size = Tell(file);
    if (size < 0) {
        return false;
    }
    return AddFileHandle(file, static_cast<std::uint64_t>(size), name);
}

bool NewcArchiveWriter::AddFileHandle(std::FILE* file, std::uint64_t size, std::string_view name) {
    // The format has eight hex digits for the size; a larger file cannot be described.
    if (file == nullptr || file_ == nullptr || !ValidName(name) || size > kMaxMemberSize) {
        return false;
    }
    auto chunk = AllocateChunk();
    if (!chunk || !SeekTo(file, 0, SEEK_SET)) {
        return false;
    }
    const std::uint64_t recordStart = written_;
    const std::uint32_t inode = nextInode_;
    const std::size_t headerSize = FormatHeader(std::span<char>(chunk.get(), kChunkSize), name,
                                                static_cast<std::uint32_t>(size), kModeFile, 1);
    if (headerSize == 0) {
        return false;
    }
    bool ok = Write(chunk.get(), headerSize);
    std::uint64_t remaining = size;
    while (ok && remaining > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kChunkSize));
        ok = std::fread(chunk.get(), 1, want, file) == want && Write(chunk.get(), want);
        remaining -= want;
    }
    ok = ok && WritePadding(size);
    if (!ok) {
        CutBack(recordStart, inode);
        return false;
    }
    return FinishRecord(recordStart, inode);
}

bool NewcArchiveWriter::AddBuffer(const void* data, std::size_t size, std::string_view name) {
    if (file_ == nullptr || !ValidName(name) || (data == nullptr && size > 0) ||
        static_cast<std::uint64_t>(size) > kMaxMemberSize) {
        return false;
    }
    const std::uint64_t recordStart = written_;
    const std::uint32_t inode = nextInode_;
    std::unique_ptr<char[]> header(new (std::nothrow) char[kHeaderSize + name.size() + 4]);
    if (!header) {
        return false;
    }
    const std::size_t headerSize =
        FormatHeader(std::span<char>(header.get(), kHeaderSize + name.size() + 4), name,
                     static_cast<std::uint32_t>(size), kModeMemory, 1);
    if (!(Write(header.get(), headerSize) && Write(data, size) && WritePadding(size))) {
        CutBack(recordStart, inode);
        return false;
    }
    return FinishRecord(recordStart, inode);
}

bool NewcArchiveWriter::WriteTrailer() {
    if (file_ == nullptr) {
        return false;
    }
    const std::uint64_t recordStart = written_;
    const std::uint32_t inode = nextInode_;
    char header[kHeaderSize + sizeof kTrailerName + 4];
    const std::size_t headerSize = FormatHeader(header, kTrailerName, 0, 0, 1);
    if (!Write(header, headerSize)) {
        CutBack(recordStart, inode);
        return false;
    }
    return FinishRecord(recordStart, inode);
}

bool NewcArchiveWriter::CommitTo(std::wstring_view destination) {
    if (destination.empty() || tempPath_.empty() || committed_) {
        return false;
    }
    if (file_ != nullptr) {
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!closed) {
            return false;
        }
    }
    auto chunk = AllocateChunk();
    if (!chunk) {
        return false;
    }
    // The copy goes to a name beside the destination and is renamed over it, so an
    // interrupted or failed copy never leaves a half-written file under the final name.
    std::wstring partial = std::wstring(destination) + L".new";
    const bool viaPartial = FitsPathBuffer(partial);
    if (!viaPartial) {
        partial = std::wstring(destination);
    }
    FilePtr in = OpenFile(tempPath_, "rb");
    FilePtr out = OpenFile(partial, "wb");
    const bool created = static_cast<bool>(out);
    bool ok = in && out;
    while (ok) {
        const std::size_t n = std::fread(chunk.get(), 1, kChunkSize, in.get());
        if (n > 0 && std::fwrite(chunk.get(), 1, n, out.get()) != n) {
            ok = false;
        }
        if (n < kChunkSize) {
            ok = ok && std::ferror(in.get()) == 0;
            break;
        }
    }
    in.reset();
    if (out) {
        ok = std::fclose(out.release()) == 0 && ok;
    }
    std::error_code ec;
    if (ok && viaPartial) {
        std::filesystem::rename(ToFsPath(partial), ToFsPath(destination), ec);
        ok = !ec;
    }
    if (!ok) {
        // Without the side name this is the destination itself: half an archive
        // there would be worse than none.
        if (created) {
            std::filesystem::remove(ToFsPath(partial), ec);
        }
        return false;
    }
    committed_ = true;
    std::filesystem::remove(ToFsPath(tempPath_), ec);
    return true;
}

void NewcArchiveWriter::Close() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    // An archive that never reached its destination is of no use to anyone.
    if (!tempPath_.empty() && !committed_) {
        std::error_code ec;
        std::filesystem::remove(ToFsPath(tempPath_), ec);
    }
    tempPath_.clear();
}

}  // namespace scour
