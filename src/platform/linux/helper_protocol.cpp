#include "platform/linux/helper_protocol.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>

#include "base/text.h"

namespace scour::platform::helper {

namespace {

// Decimal digits only, no sign, no blanks, no leading zeros beyond "0".
std::optional<std::uint64_t> ParseDecimal(std::string_view text) {
    if (text.empty() || text.size() > 20 || (text.size() > 1 && text.front() == '0')) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The same format from a string that holds exactly one message.
std::optional<Message> DecodeMessage(std::string_view text) {
    auto line = [&](std::string_view& out) {
        auto nl = text.find('\n');
        if (nl == std::string_view::npos || nl > 20) {
            return false;
        }
        out = text.substr(0, nl);
        text.remove_prefix(nl + 1);
        return true;
    };
    std::string_view head;
    auto count = line(head) ? ParseDecimal(head) : std::nullopt;
    if (!count || *count > kMaxFields) {
        return std::nullopt;
    }
    Message m;
    for (std::uint64_t i = 0; i < *count; ++i) {
        std::string_view lengthText;
        auto length = line(lengthText) ? ParseDecimal(lengthText) : std::nullopt;
        if (!length || *length > text.size()) {
            return std::nullopt;
        }
        m.emplace_back(text.substr(0, *length));
        text.remove_prefix(*length);
    }
    if (!text.empty()) {
        return std::nullopt;
    }
    return m;
}

std::optional<std::vector<std::uint64_t>> Numbers(const std::string& text, std::size_t count) {
    auto m = DecodeMessage(text);
    if (!m || m->size() != count) {
        return std::nullopt;
    }
    std::vector<std::uint64_t> out;
    for (const auto& f : *m) {
        auto v = ParseDecimal(f);
        if (!v) {
            return std::nullopt;
        }
        out.push_back(*v);
    }
    return out;
}

}  // namespace

std::string EncodeMessage(const Message& message) {
    std::string out = std::to_string(message.size()) + "\n";
    for (const auto& field : message) {
        out += std::to_string(field.size()) + "\n";
        out += field;
    }
    return out;
}

bool MessageReader::Fill() {
    // Bytes handed out already go first: a peer that never pauses between
    // messages would otherwise grow the buffer with everything it ever sent.
    buffer_.erase(0, at_);
    at_ = 0;
    char chunk[65536];
    for (;;) {
        ssize_t n = read(fd_, chunk, sizeof chunk);
        if (n > 0) {
            buffer_.append(chunk, static_cast<std::size_t>(n));
            return true;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return false;
    }
}

std::optional<std::string> MessageReader::Line(std::string& error) {
    for (;;) {
        auto nl = buffer_.find('\n', at_);
        if (nl != std::string::npos) {
            if (nl - at_ > 20) {
                error = "a length line is too long";
                return std::nullopt;
            }
            std::string line = buffer_.substr(at_, nl - at_);
            at_ = nl + 1;
            return line;
        }
        if (buffer_.size() - at_ > 20) {
            error = "a length line is too long";
            return std::nullopt;
        }
        if (!Fill()) {
            error = buffer_.size() == at_ ? "" : "the input ended inside a message";
            return std::nullopt;
        }
    }
}

bool MessageReader::Take(std::size_t n, std::string& out) {
    while (buffer_.size() - at_ < n) {
        if (!Fill()) {
            return false;
        }
    }
    out = buffer_.substr(at_, n);
    at_ += n;
    if (at_ == buffer_.size()) {
        buffer_.clear();
        at_ = 0;
    }
    return true;
}

std::optional<Message> MessageReader::Read(std::string& error) {
    error.clear();
    auto head = Line(error);
    if (!head) {
        return std::nullopt;
    }
    auto count = ParseDecimal(*head);
    if (!count || *count > kMaxFields) {
        error = "a message does not start with a field count";
        return std::nullopt;
    }
    Message m;
    std::size_t total = 0;
    for (std::uint64_t i = 0; i < *count; ++i) {
        auto lengthLine = Line(error);
        if (!lengthLine) {
            if (error.empty()) {
                error = "the input ended inside a message";
            }
            return std::nullopt;
        }
        auto length = ParseDecimal(*lengthLine);
        if (!length || *length > kMaxMessageBytes - total) {
            error = "a field length is malformed or too large";
            return std::nullopt;
        }
        total += *length;
        std::string field;
        if (!Take(*length, field)) {
            error = "the input ended inside a message";
            return std::nullopt;
        }
        m.push_back(std::move(field));
    }
    return m;
}

bool WriteMessage(int fd, const Message& message) {
    std::string bytes = EncodeMessage(message);
    struct stat st {};
    bool socket = fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = socket ? send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)
                           : write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool IsKernelName(std::string_view name) {
    if (name.empty() || name.size() > 32 || name.front() < 'a' || name.front() > 'z') {
        return false;
    }
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

bool IsPlainName(std::string_view name) {
    if (name.empty() || name.size() > 64 || name.front() == '.' || name.front() == '-') {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '-';
    });
}

std::string TargetName(const std::wstring& path) {
    std::string text = ToUtf8(path);
    auto slash = text.rfind('/');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

void PutTarget(Message& m, const DiskTarget& target) {
    m.push_back(TargetName(target.diskPath));
    m.push_back(target.volumePath == target.diskPath ? std::string()
                                                     : TargetName(target.volumePath));
}

namespace {

struct VerbForm {
    const char* word;
    Verb verb;
    bool onTarget;       // else on a handle
    std::size_t fields;  // after the verb and the target or handle
};

constexpr VerbForm kVerbs[] = {
    {"identity", Verb::Identity, true, 0},
    {"lock", Verb::Lock, true, 0},
    {"open", Verb::Open, true, 0},
    {"release", Verb::Release, true, 0},
    {"format", Verb::Format, true, 1},
    {"copy-folder", Verb::CopyFolder, true, 1},
    {"copy-file", Verb::CopyFile, true, 2},
    {"start-installer", Verb::StartInstaller, true, 0},
    {"root-file-exists", Verb::RootFileExists, true, 1},
    {"describe", Verb::Describe, true, 0},
    {"close", Verb::Close, false, 0},
    {"disk-identity", Verb::DiskIdentity, false, 0},
    {"geometry", Verb::Geometry, false, 0},
    {"layout", Verb::Layout, false, 0},
    {"clear-first-sector", Verb::ClearFirstSector, false, 0},
    {"create-mbr", Verb::CreateMbr, false, 0},
    {"set-layout", Verb::SetLayout, false, 2},
    {"wait", Verb::Wait, false, 0},
};

// A caller's text in a refusal: short, and nothing that could pass for a line of ours.
std::string Shown(const std::string& text) {
    std::string out;
    for (char c : text.substr(0, 40)) {
        out += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
    }
    return "\"" + out + (text.size() > 40 ? "...\"" : "\"");
}

}  // namespace

std::optional<Request> ParseRequest(const Message& m, std::string& refusal) {
    refusal.clear();
    if (m.empty()) {
        refusal = "an empty request";
        return std::nullopt;
    }
    const VerbForm* form = nullptr;
    for (const auto& v : kVerbs) {
        if (m[0] == v.word) {
            form = &v;
        }
    }
    if (form == nullptr) {
        refusal = "unknown request " + Shown(m[0]);
        return std::nullopt;
    }
    const std::size_t head = form->onTarget ? 3 : 2;
    if (m.size() != head + form->fields) {
        refusal = std::string(form->word) + ": malformed request (wrong number of fields)";
        return std::nullopt;
    }
    Request r;
    r.verb = form->verb;
    if (form->onTarget) {
        r.disk = m[1];
        r.volume = m[2];
        if (!IsPlainName(r.disk) || (!r.volume.empty() && !IsPlainName(r.volume))) {
            refusal = Shown(!IsPlainName(r.disk) ? r.disk : r.volume) +
                      " is not the name of a disk: the disk helper takes the kernel's names "
                      "of disks (such as sdb and sdb1), never paths";
            return std::nullopt;
        }
    } else {
        auto handle = ParseDecimal(m[1]);
        if (!handle) {
            refusal = std::string(form->word) + " needs a handle";
            return std::nullopt;
        }
        r.handle = *handle;
    }
    switch (r.verb) {
        case Verb::Format: {
            auto fs = DecodeFileSystem(m[3]);
            if (!fs) {
                refusal = "format needs a file system choice";
                return std::nullopt;
            }
            r.fileSystem = *fs;
            break;
        }
        case Verb::CopyFolder: {
            r.name = m[3];
            bool known = std::any_of(std::begin(kCopyableFolders), std::end(kCopyableFolders),
                                     [&](const char* f) { return r.name == f; });
            if (!known) {
                refusal = Shown(r.name) +
                          " is not a folder of the program folder that the disk helper copies";
                return std::nullopt;
            }
            break;
        }
        case Verb::CopyFile:
        case Verb::RootFileExists:
            r.name = m[3];
            if (!IsPlainName(r.name)) {
                refusal = Shown(r.name) +
                          " is not a plain file name: the disk helper writes only into the root "
                          "folder of the disk";
                return std::nullopt;
            }
            if (r.verb == Verb::CopyFile) {
                if (m[4].size() > kMaxContentsBytes) {
                    refusal = "copy-file: the contents are larger than the disk helper takes";
                    return std::nullopt;
                }
                r.contents = m[4];
            }
            break;
        case Verb::SetLayout: {
            auto layout = DecodeLayout(m[2]);
            auto geometry = DecodeGeometry(m[3]);
            if (!layout || !geometry) {
                refusal = "set-layout needs a layout and a geometry";
                return std::nullopt;
            }
            r.layout = *layout;
            r.geometry = *geometry;
            break;
        }
        default:
            break;
    }
    return r;
}

std::string EncodeNumber(std::uint64_t value) {
    return std::to_string(value);
}

std::optional<std::uint64_t> DecodeNumber(const std::string& text) {
    return ParseDecimal(text);
}

std::string EncodeIdentity(const DiskIdentity& id) {
    return EncodeMessage({std::to_string(id.deviceNumber), std::to_string(id.sizeBytes),
                          ToUtf8(id.serial), std::to_string(id.sequence)});
}

std::optional<DiskIdentity> DecodeIdentity(const std::string& text) {
    auto m = DecodeMessage(text);
    if (!m || m->size() != 4) {
        return std::nullopt;
    }
    auto device = ParseDecimal((*m)[0]);
    auto size = ParseDecimal((*m)[1]);
    auto sequence = ParseDecimal((*m)[3]);
    if (!device || !size || !sequence) {
        return std::nullopt;
    }
    DiskIdentity id;
    id.deviceNumber = *device;
    id.sizeBytes = *size;
    id.serial = FromUtf8((*m)[2]);
    id.sequence = *sequence;
    return id;
}

std::string EncodeGeometry(const DiskGeometry& g) {
    return EncodeMessage({std::to_string(g.cylinders), std::to_string(g.tracksPerCylinder),
                          std::to_string(g.sectorsPerTrack), std::to_string(g.bytesPerSector)});
}

std::optional<DiskGeometry> DecodeGeometry(const std::string& text) {
    auto n = Numbers(text, 4);
    if (!n || (*n)[1] > UINT32_MAX || (*n)[2] > UINT32_MAX || (*n)[3] > UINT32_MAX) {
        return std::nullopt;
    }
    DiskGeometry g;
    g.cylinders = (*n)[0];
    g.tracksPerCylinder = static_cast<std::uint32_t>((*n)[1]);
    g.sectorsPerTrack = static_cast<std::uint32_t>((*n)[2]);
    g.bytesPerSector = static_cast<std::uint32_t>((*n)[3]);
    return g;
}

namespace {

std::string EncodeEntry(const PartitionEntry& e) {
    // Offsets and lengths travel as unsigned text; negative ones are not valid.
    return EncodeMessage(
        {std::to_string(static_cast<std::uint64_t>(std::max<std::int64_t>(e.startingOffset, 0))),
         std::to_string(static_cast<std::uint64_t>(std::max<std::int64_t>(e.partitionLength, 0))),
         std::to_string(e.hiddenSectors), std::to_string(e.partitionNumber),
         std::to_string(e.partitionType), e.bootIndicator ? "1" : "0",
         e.recognizedPartition ? "1" : "0", e.rewritePartition ? "1" : "0"});
}

std::optional<PartitionEntry> DecodeEntry(const std::string& text) {
    auto n = Numbers(text, 8);
    constexpr auto kMax = static_cast<std::uint64_t>(INT64_MAX);
    if (!n || (*n)[0] > kMax || (*n)[1] > kMax || (*n)[2] > UINT32_MAX || (*n)[3] > UINT32_MAX ||
        (*n)[4] > 255 || (*n)[5] > 1 || (*n)[6] > 1 || (*n)[7] > 1) {
        return std::nullopt;
    }
    PartitionEntry e;
    e.startingOffset = static_cast<std::int64_t>((*n)[0]);
    e.partitionLength = static_cast<std::int64_t>((*n)[1]);
    e.hiddenSectors = static_cast<std::uint32_t>((*n)[2]);
    e.partitionNumber = static_cast<std::uint32_t>((*n)[3]);
    e.partitionType = static_cast<std::uint8_t>((*n)[4]);
    e.bootIndicator = (*n)[5] == 1;
    e.recognizedPartition = (*n)[6] == 1;
    e.rewritePartition = (*n)[7] == 1;
    return e;
}

}  // namespace

std::string EncodeLayout(const DiskLayout& layout) {
    Message m = {std::to_string(layout.signature)};
    for (const auto& e : layout.partitions) {
        m.push_back(EncodeEntry(e));
    }
    return EncodeMessage(m);
}

std::optional<DiskLayout> DecodeLayout(const std::string& text) {
    auto m = DecodeMessage(text);
    if (!m || m->empty() || m->size() > 1 + 128) {
        return std::nullopt;
    }
    auto signature = ParseDecimal((*m)[0]);
    if (!signature || *signature > UINT32_MAX) {
        return std::nullopt;
    }
    DiskLayout layout;
    layout.signature = static_cast<std::uint32_t>(*signature);
    for (std::size_t i = 1; i < m->size(); ++i) {
        auto e = DecodeEntry((*m)[i]);
        if (!e) {
            return std::nullopt;
        }
        layout.partitions.push_back(*e);
    }
    return layout;
}

std::string EncodeFacts(const VolumeFacts& f) {
    return EncodeMessage({f.hasPartitionTable ? "1" : "0", ToUtf8(f.fileSystem), ToUtf8(f.label),
                          std::to_string(f.capacityBytes), std::to_string(f.freeBytes),
                          f.bootLoaderPresent ? "1" : "0"});
}

std::optional<VolumeFacts> DecodeFacts(const std::string& text) {
    auto m = DecodeMessage(text);
    if (!m || m->size() != 6) {
        return std::nullopt;
    }
    auto capacity = ParseDecimal((*m)[3]);
    auto free = ParseDecimal((*m)[4]);
    if (!capacity || !free) {
        return std::nullopt;
    }
    VolumeFacts f;
    f.hasPartitionTable = (*m)[0] == "1";
    f.fileSystem = FromUtf8((*m)[1]);
    f.label = FromUtf8((*m)[2]);
    f.capacityBytes = *capacity;
    f.freeBytes = *free;
    f.bootLoaderPresent = (*m)[5] == "1";
    return f;
}

std::string EncodeFileSystem(FormatFileSystem fs) {
    switch (fs) {
        case FormatFileSystem::Fat:
            return "fat";
        case FormatFileSystem::Fat32:
            return "fat32";
        case FormatFileSystem::Automatic:
            break;
    }
    return "automatic";
}

std::optional<FormatFileSystem> DecodeFileSystem(const std::string& text) {
    if (text == "automatic") {
        return FormatFileSystem::Automatic;
    }
    if (text == "fat") {
        return FormatFileSystem::Fat;
    }
    if (text == "fat32") {
        return FormatFileSystem::Fat32;
    }
    return std::nullopt;
}

}  // namespace scour::platform::helper
