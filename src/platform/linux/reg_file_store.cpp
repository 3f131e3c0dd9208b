#include "platform/linux/reg_file_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text.h"

namespace scour::platform {

namespace {

constexpr std::string_view kKeyPath = "HKEY_CURRENT_USER\\SOFTWARE\\Valdane\\Scourline\\Data";
constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// A settings file is a few hundred bytes; anything this big is not ours to load or rewrite.
constexpr std::size_t kMaxFileBytes = 16u << 20;
// regedit wraps hex data so that no line passes this column.
constexpr std::size_t kWrapColumn = 80;

// ---- text helpers ----

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r' || s.back() == '\n')) {
        s.remove_suffix(1);
    }
    return s;
}

std::string_view Trim(std::string_view s) {
    return TrimLeft(TrimRight(s));
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = s[i];
        char b = prefix[i];
        if (a >= 'A' && a <= 'Z') {
            a = static_cast<char>(a - 'A' + 'a');
        }
        if (b >= 'A' && b <= 'Z') {
            b = static_cast<char>(b - 'A' + 'a');
        }
        if (a != b) {
            return false;
        }
    }
    return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

// 1 to maxDigits hexadecimal digits and nothing else.
std::optional<std::uint32_t> ParseHexNumber(std::string_view s, std::size_t maxDigits) {
    if (s.empty() || s.size() > maxDigits) {
        return std::nullopt;
    }
    std::uint32_t v = 0;
    for (char c : s) {
        int d = HexDigitValue(c);
        if (d < 0) {
            return std::nullopt;
        }
        v = (v << 4) | static_cast<std::uint32_t>(d);
    }
    return v;
}

// Well-formed UTF-8 without zero bytes only: a stored text has to come back exactly as it
// was written, so nothing is guessed or replaced. Malformed input would not survive the
// round trip, as it decodes to U+FFFD.
bool IsStrictUtf8(std::string_view s) {
    return s.find('\0') == std::string_view::npos && ToUtf8(FromUtf8(s)) == s;
}

// Wide text that converts to UTF-8 and back unchanged, without zero characters.
bool IsWritableText(std::wstring_view text) {
    for (wchar_t w : text) {
        auto c = static_cast<char32_t>(w);
        if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            return false;
        }
    }
    return true;
}

// The body of a quoted regedit string: \\ and \" are the only escapes.
std::optional<std::string> Unescape(std::string_view s, std::size_t& pos) {
    std::string out;
    std::size_t i = pos;
    while (i < s.size()) {
        char c = s[i];
        if (c == '"') {
            pos = i + 1;
            return out;
        }
        if (c == '\\') {
            if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) {
                return std::nullopt;
            }
            out += s[i + 1];
            i += 2;
            continue;
        }
        out += c;
        ++i;
    }
    return std::nullopt;  // no closing quote
}

std::string Escape(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 2);
    for (char c : s) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

// ---- value lines ----

// `"name"=` or `@=`; the position of the data after '=' and the name.
std::optional<std::size_t> ParseName(std::string_view line, std::wstring& name) {
    std::size_t pos = 0;
    if (line.empty()) {
        return std::nullopt;
    }
    if (line[0] == '@') {
        name.clear();
        pos = 1;
    } else if (line[0] == '"') {
        pos = 1;
        auto raw = Unescape(line, pos);
        if (!raw || !IsStrictUtf8(*raw)) {
            return std::nullopt;
        }
        name = FromUtf8(*raw);
    } else {
        return std::nullopt;
    }
    while (pos < line.size() && IsBlank(line[pos])) {
        ++pos;
    }
    if (pos >= line.size() || line[pos] != '=') {
        return std::nullopt;
    }
    ++pos;
    while (pos < line.size() && IsBlank(line[pos])) {
        ++pos;
    }
    return pos;
}

bool IsHexData(std::string_view data) {
    return StartsWithNoCase(data, "hex");
}

// "aa,bb,..." with one or two digits a byte; empty for no bytes.
std::optional<std::vector<std::uint8_t>> ParseHexList(std::string_view s) {
    std::vector<std::uint8_t> out;
    if (Trim(s).empty()) {
        return out;
    }
    std::size_t start = 0;
    while (start <= s.size()) {
        std::size_t comma = s.find(',', start);
        std::size_t end = comma == std::string_view::npos ? s.size() : comma;
        auto byte = ParseHexNumber(Trim(s.substr(start, end - start)), 2);
        if (!byte) {
            return std::nullopt;
        }
        out.push_back(static_cast<std::uint8_t>(*byte));
        start = end + 1;
    }
    return out;
}

std::optional<RegValue> ParseData(std::string_view data) {
    data = Trim(data);
    RegValue value;
    if (!data.empty() && data[0] == '"') {
        std::size_t pos = 1;
        auto raw = Unescape(data, pos);
        if (!raw || pos != data.size() || !IsStrictUtf8(*raw)) {
            return std::nullopt;
        }
        value.type = kRegSz;
        value.data = ToUtf16Le(FromUtf8(*raw));
        value.data.push_back(0);
        value.data.push_back(0);
        return value;
    }
    if (StartsWithNoCase(data, "dword:")) {
        auto v = ParseHexNumber(data.substr(6), 8);
        if (!v) {
            return std::nullopt;
        }
        value.type = kRegDword;
        value.data = {static_cast<std::uint8_t>(*v), static_cast<std::uint8_t>(*v >> 8),
                      static_cast<std::uint8_t>(*v >> 16), static_cast<std::uint8_t>(*v >> 24)};
        return value;
    }
    if (StartsWithNoCase(data, "hex:")) {
        value.type = kRegBinary;
        data.remove_prefix(4);
    } else if (StartsWithNoCase(data, "hex(")) {
        std::size_t close = data.find(')');
        if (close == std::string_view::npos || close + 1 >= data.size() || data[close + 1] != ':') {
            return std::nullopt;
        }
        auto type = ParseHexNumber(data.substr(4, close - 4), 8);
        if (!type) {
            return std::nullopt;
        }
        value.type = *type;
        data.remove_prefix(close + 2);
    } else {
        return std::nullopt;
    }
    auto bytes = ParseHexList(data);
    if (!bytes) {
        return std::nullopt;
    }
    value.data = std::move(*bytes);
    return value;
}

// The text of a REG_SZ that the quoted form keeps exactly: zero-terminated, no other zero,
// no line break, well-formed UTF-16.
std::optional<std::wstring> QuotableText(const RegValue& value) {
    const auto& d = value.data;
    if (value.type != kRegSz || d.size() < 2 || d.size() % 2 != 0 || d[d.size() - 2] != 0 ||
        d[d.size() - 1] != 0) {
        return std::nullopt;
    }
    std::size_t units = d.size() / 2 - 1;
    for (std::size_t i = 0; i < units; ++i) {
        unsigned u = d[2 * i] | (d[2 * i + 1] << 8);
        if (u == 0 || u == '\r' || u == '\n') {
            return std::nullopt;
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
            unsigned low = i + 1 < units ? (d[2 * i + 2] | (d[2 * i + 3] << 8)) : 0;
            if (low < 0xDC00 || low > 0xDFFF) {
                return std::nullopt;
            }
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return std::nullopt;
        }
    }
    return FromUtf16Le(d.data(), units * 2);
}

std::string FormatValue(std::wstring_view name, const RegValue& value, std::string_view eol) {
    std::string line = name.empty() ? std::string("@") : "\"" + Escape(ToUtf8(name)) + "\"";
    line += '=';
    if (auto text = QuotableText(value)) {
        return line + "\"" + Escape(ToUtf8(*text)) + "\"" + std::string(eol);
    }
    char buf[32];
    if (value.type == kRegDword && value.data.size() == 4) {
        const auto& d = value.data;
        std::uint32_t v =
            d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<std::uint32_t>(d[3]) << 24);
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(v));
        return line + buf + std::string(eol);
    }
    if (value.type == kRegBinary) {
        line += "hex:";
    } else {
        std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(value.type));
        line += buf;
    }
    // Wrapped as regedit wraps it: each continued line ends in ",\", the next is indented.
    std::string out;
    bool tokenOnLine = false;
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x%s", value.data[i],
                      i + 1 < value.data.size() ? "," : "");
        std::size_t width = std::string_view(buf).size();
        if (tokenOnLine && line.size() + width + 1 > kWrapColumn) {
            out += line + "\\" + std::string(eol);
            line = "  ";
        }
        line += buf;
        tokenOnLine = true;
    }
    return out + line + std::string(eol);
}

// ---- the file as a list of logical lines ----

struct Entry {
    enum class Kind { Other, Section, Value };
    std::string raw;  // the exact bytes, line ends included
    Kind kind = Kind::Other;
    bool ours = false;  // our key's section header, or a value inside our key's section
    std::wstring name;
    bool usable = false;  // the value's data could be read
    RegValue value;
};

bool IsBlankLine(std::string_view raw) {
    return Trim(raw).empty();
}

class Document {
  public:
    static Document Parse(std::string_view bytes) {
        Document doc;
        std::vector<std::string_view> lines;
        for (std::size_t start = 0; start < bytes.size();) {
            std::size_t nl = bytes.find('\n', start);
            std::size_t end = nl == std::string_view::npos ? bytes.size() : nl + 1;
            lines.push_back(bytes.substr(start, end - start));
            start = end;
        }
        if (!lines.empty() && lines[0].size() >= 2 &&
            lines[0].substr(lines[0].size() - 2) == "\r\n") {
            doc.eol_ = "\r\n";
        }
        bool inOurs = false;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            Entry e;
            e.raw = lines[i];
            std::string_view content = Trim(lines[i]);
            if (!content.empty() && content[0] == '[') {
                std::size_t close = content.rfind(']');
                e.kind = Entry::Kind::Section;
                e.ours = close != std::string_view::npos &&
                         EqualsNoCase(content.substr(1, close - 1), kKeyPath);
                inOurs = e.ours;
            } else if (!content.empty() && (content[0] == '"' || content[0] == '@')) {
                std::string logical(content);
                std::wstring name;
                auto dataPos = ParseName(logical, name);
                // Continuation lines belong to hex data only and are indented, as regedit
                // writes them; so a cut-off value cannot swallow the section or value after it.
                while (dataPos && IsHexData(std::string_view(logical).substr(*dataPos)) &&
                       logical.size() >= 2 && logical.substr(logical.size() - 2) == ",\\" &&
                       i + 1 < lines.size() && !lines[i + 1].empty() && IsBlank(lines[i + 1][0])) {
                    logical.pop_back();
                    ++i;
                    e.raw += lines[i];
                    logical += Trim(lines[i]);
                }
                if (dataPos) {
                    e.kind = Entry::Kind::Value;
                    e.ours = inOurs;
                    e.name = std::move(name);
                    if (auto v = ParseData(std::string_view(logical).substr(*dataPos))) {
                        e.usable = true;
                        e.value = std::move(*v);
                    }
                }
            }
            doc.entries_.push_back(std::move(e));
        }
        return doc;
    }

    bool HasKey() const {
        for (const auto& e : entries_) {
            if (e.kind == Entry::Kind::Section && e.ours) {
                return true;
            }
        }
        return false;
    }

    // The value as regedit would leave it: the last line of that name in our key wins.
    const Entry* Find(std::wstring_view name) const {
        for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
            if (it->kind == Entry::Kind::Value && it->ours && EqualsAsciiNoCase(it->name, name)) {
                return &*it;
            }
        }
        return nullptr;
    }

    std::vector<std::wstring> Names() const {
        std::vector<std::wstring> names;
        for (const auto& e : entries_) {
            if (e.kind == Entry::Kind::Value && e.ours) {
                names.push_back(e.name);
            }
        }
        return names;
    }

    void EnsureKey() {
        if (HasKey()) {
            return;
        }
        if (entries_.empty()) {
            Append(std::string(kHeader4) + eol_);
        }
        if (!IsBlankLine(entries_.back().raw)) {
            Append(eol_);
        }
        Entry section;
        section.raw = "[" + std::string(kKeyPath) + "]" + eol_;
        section.kind = Entry::Kind::Section;
        section.ours = true;
        entries_.push_back(std::move(section));
    }

    void Set(std::wstring_view name, const RegValue& value) {
        EnsureKey();
        Entry e;
        e.raw = FormatValue(name, value, eol_);
        e.kind = Entry::Kind::Value;
        e.ours = true;
        e.name = name;
        e.usable = true;
        e.value = value;
        // In place of the line that decides the value now, else in our last section.
        for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
            if (it->kind == Entry::Kind::Value && it->ours && EqualsAsciiNoCase(it->name, name)) {
                std::string oldEnd = LineEnd(it->raw);
                if (!oldEnd.empty()) {
                    e.raw = FormatValue(name, value, oldEnd);
                }
                *it = std::move(e);
                return;
            }
        }
        std::size_t section = 0;
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i].kind == Entry::Kind::Section && entries_[i].ours) {
                section = i;
            }
        }
        // After the section's last value, so that unknown lines after it stay together.
        std::size_t insertAt = section + 1;
        for (std::size_t i = section + 1;
             i < entries_.size() && entries_[i].kind != Entry::Kind::Section; ++i) {
            if (entries_[i].kind == Entry::Kind::Value) {
                insertAt = i + 1;
            }
        }
        entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(e));
    }

    std::string Serialize() const {
        std::string out;
        if (entries_.empty() || !IsHeaderLine(entries_.front().raw)) {
            out += std::string(kHeader4) + eol_ + eol_;
        }
        for (const auto& e : entries_) {
            // Only the file's last line can lack its line end; lines added after it need one.
            if (!out.empty() && out.back() != '\n') {
                out += eol_;
            }
            out += e.raw;
        }
        return out;
    }

  private:
    static bool IsHeaderLine(std::string_view raw) {
        if (raw.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
            raw.remove_prefix(kUtf8Bom.size());
        }
        raw = Trim(raw);
        return raw == kHeader4 || raw == kHeader5;
    }

    static std::string LineEnd(std::string_view raw) {
        if (raw.size() >= 2 && raw.substr(raw.size() - 2) == "\r\n") {
            return "\r\n";
        }
        return !raw.empty() && raw.back() == '\n' ? "\n" : "";
    }

    void Append(std::string raw) {
        Entry e;
        e.raw = std::move(raw);
        entries_.push_back(std::move(e));
    }

    std::vector<Entry> entries_;
    std::string eol_ = "\n";
};

// What a commit does to the document: the key made when missing, then each value set.
void Apply(Document& doc, const std::vector<std::pair<std::wstring, RegValue>>& values) {
    doc.EnsureKey();
    for (const auto& [name, value] : values) {
        doc.Set(name, value);
    }
}

// ---- the file on disk ----

enum class ReadStatus { Ok, Missing, Failed };

ReadStatus ReadWholeFile(const std::filesystem::path& path, std::string& bytes, long& error) {
    bytes.clear();
    // Non-blocking, so that a pipe in the file's place cannot hang the wizard.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            return ReadStatus::Missing;
        }
        error = errno;
        return ReadStatus::Failed;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::size_t>(st.st_size) > kMaxFileBytes) {
        error = S_ISDIR(st.st_mode) ? EISDIR : (S_ISREG(st.st_mode) ? EFBIG : EINVAL);
        close(fd);
        return ReadStatus::Failed;
    }
    char buf[16384];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = errno;
            close(fd);
            return ReadStatus::Failed;
        }
        if (n == 0) {
            break;
        }
        bytes.append(buf, static_cast<std::size_t>(n));
        if (bytes.size() > kMaxFileBytes) {
            error = EFBIG;
            close(fd);
            return ReadStatus::Failed;
        }
    }
    close(fd);
    return ReadStatus::Ok;
}

long MakeFolders(const std::filesystem::path& folder) {
    if (folder.empty()) {
        return 0;
    }
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    }
    if (folder.has_parent_path() && folder.parent_path() != folder) {
        if (long rc = MakeFolders(folder.parent_path()); rc != 0) {
            return rc;
        }
    }
    // Settings folders are private, as the XDG base directory rules ask.
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return errno;
    }
    return 0;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Replaces the file in one step: a reader sees the old file or the new one, never a part.
long WriteAtomically(std::filesystem::path target, std::string_view bytes) {
    // A settings file kept as a link (to a dotfiles folder, say) stays a link.
    std::error_code ec;
    if (std::filesystem::is_symlink(target, ec)) {
        auto real = std::filesystem::canonical(target, ec);
        if (!ec) {
            target = real;
        }
    }
    std::filesystem::path folder = target.parent_path();
    if (long rc = MakeFolders(folder); rc != 0) {
        return rc;
    }
    std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    struct stat st {};
    mode_t mode = stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0600;
    long rc = 0;
    errno = 0;
    if (fchmod(fd, mode) != 0 || !WriteAll(fd, bytes) || fsync(fd) != 0) {
        rc = errno != 0 ? errno : EIO;
    }
    if (close(fd) != 0 && rc == 0) {
        rc = errno;
    }
    if (rc == 0 && rename(temp.c_str(), target.c_str()) != 0) {
        rc = errno;
    }
    if (rc != 0) {
        unlink(temp.c_str());
        return rc;
    }
    // The rename itself is made durable by syncing the folder.
    int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return 0;
}

// The document in the file, or an empty one when there is no file; a non-zero
// status when the file exists but cannot be read.
long ReadDocument(const std::filesystem::path& file, Document& doc) {
    std::string bytes;
    long error = 0;
    switch (ReadWholeFile(file, bytes, error)) {
        case ReadStatus::Ok:
            doc = Document::Parse(bytes);
            return 0;
        case ReadStatus::Missing:
            doc = Document();
            return 0;
        case ReadStatus::Failed:
            break;
    }
    return error != 0 ? error : EIO;
}

// ---- the key ----

class RegFileKey final : public ISettingsKey {
  public:
    RegFileKey(std::filesystem::path file, Document snapshot, bool create)
        : file_(std::move(file)), snapshot_(std::move(snapshot)), create_(create) {}

    bool Query(std::wstring_view name, RegValue& out) override {
        for (auto it = pending_.rbegin(); it != pending_.rend(); ++it) {
            if (EqualsAsciiNoCase(it->first, name)) {
                out = it->second;
                return true;
            }
        }
        const Entry* e = snapshot_.Find(name);
        if (e == nullptr || !e->usable) {
            return false;
        }
        out = e->value;
        return true;
    }

    bool Set(std::wstring_view name, std::uint32_t type,
             const std::vector<std::uint8_t>& data) override {
        // A name that the file cannot hold exactly is refused rather than changed.
        if (!regtext::IsStorableName(name)) {
            return false;
        }
        pending_.emplace_back(std::wstring(name), RegValue{type, data});
        return true;
    }

    long Commit() override {
        if (pending_.empty() && !create_) {
            return 0;
        }
        // The file is read again, so that whatever changed in it since the key was opened is
        // kept; a file that cannot be read now is left alone.
        Document doc;
        if (long rc = ReadDocument(file_, doc); rc != 0) {
            return rc;
        }
        Apply(doc, pending_);
        if (long rc = WriteAtomically(file_, doc.Serialize()); rc != 0) {
            return rc;
        }
        pending_.clear();
        create_ = false;
        snapshot_ = std::move(doc);
        return 0;
    }

  private:
    std::filesystem::path file_;
    Document snapshot_;
    bool create_;
    regtext::Values pending_;
};

}  // namespace

namespace regtext {

bool HasKey(std::string_view text) {
    return Document::Parse(text).HasKey();
}

std::vector<std::wstring> ValueNames(std::string_view text) {
    return Document::Parse(text).Names();
}

std::optional<RegValue> Query(std::string_view text, std::wstring_view name) {
    const Document doc = Document::Parse(text);
    const Entry* e = doc.HasKey() ? doc.Find(name) : nullptr;
    if (e == nullptr || !e->usable) {
        return std::nullopt;
    }
    return e->value;
}

bool IsStorableName(std::wstring_view name) {
    return IsWritableText(name) && name.find_first_of(L"\r\n") == std::wstring_view::npos;
}

std::string Update(std::string_view text, const Values& values) {
    Document doc = Document::Parse(text);
    Apply(doc, values);
    return doc.Serialize();
}

}  // namespace regtext

RegFileStore::RegFileStore(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path RegFileStore::DefaultPath() {
    std::filesystem::path base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    // Relative XDG paths are to be ignored.
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else if (home != nullptr && home[0] != '\0') {
        base = std::filesystem::path(home) / ".config";
    } else {
        struct passwd pw {};
        struct passwd* found = nullptr;
        std::vector<char> buf(16384);
        if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
            found->pw_dir != nullptr) {
            base = std::filesystem::path(found->pw_dir) / ".config";
        } else {
            base = ".config";
        }
    }
    return base / "Valdane" / "Scourline" / "Data.reg";
}

std::unique_ptr<ISettingsKey> RegFileStore::OpenKey() {
    std::string bytes;
    long error = 0;
    if (ReadWholeFile(file_, bytes, error) != ReadStatus::Ok) {
        return nullptr;
    }
    Document doc = Document::Parse(bytes);
    if (!doc.HasKey()) {
        return nullptr;
    }
    return std::make_unique<RegFileKey>(file_, std::move(doc), false);
}

std::unique_ptr<ISettingsKey> RegFileStore::CreateKey(long& status) {
    Document doc;
    // Never replace a file whose content could not be read.
    if (status = ReadDocument(file_, doc); status != 0) {
        return nullptr;
    }
    status = 0;
    bool create = !doc.HasKey();
    return std::make_unique<RegFileKey>(file_, std::move(doc), create);
}

}  // namespace scour::platform
