// For the archive tests: a strict newc reader of our own (upper-case hex, zero
// padding, nothing after the trailer) and temporary files in a test's folder.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/text.h"
#include "platform/system.h"

namespace scour::test {

// Indexes of the header fields (thirteen in all) that the tests look at.
enum NewcField { kIno = 0, kMode = 1, kMtime = 5, kFileSize = 6, kNameSize = 11 };

struct NewcRecord {
    std::size_t offset = 0;
    std::string header, name, data;
    std::uint32_t field[13] = {};
};

struct NewcArchive {
    std::vector<NewcRecord> records;  // the trailer included
    std::string error;                // empty when well-formed
    const NewcRecord* Find(std::string_view name) const {
        for (const auto& r : records) {
            if (r.name == name) {
                return &r;
            }
        }
        return nullptr;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& r : records) {
            names.push_back(r.name);
        }
        return names;
    }
};

inline NewcArchive ParseNewc(std::string_view b) {
    NewcArchive out;
    std::size_t pos = 0;
    auto zeros = [&](std::size_t from, std::size_t to) {
        return to <= b.size() && b.substr(from, to - from).find_first_not_of('\0') == b.npos;
    };
    for (;;) {
        NewcRecord r;
        r.offset = pos;
        out.error = "bad record at " + std::to_string(pos);
        if (b.size() - pos < 110 || b.substr(pos, 6) != "070701") {
            return out;
        }
        r.header = b.substr(pos, 110);
        for (int i = 0; i < 13; ++i) {
            const std::string hex = r.header.substr(6 + 8 * i, 8);
            if (hex.find_first_not_of("0123456789ABCDEF") != hex.npos) {
                return out;
            }
            r.field[i] = static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16));
        }
        const std::size_t nameEnd = pos + 110 + r.field[kNameSize];
        const std::size_t dataStart = (nameEnd + 3) / 4 * 4;
        const std::size_t dataEnd = dataStart + r.field[kFileSize];
        if (r.field[kNameSize] == 0 || !zeros(nameEnd - 1, dataStart) ||
            !zeros(dataEnd, (dataEnd + 3) / 4 * 4)) {
            return out;
        }
        r.name = b.substr(pos + 110, r.field[kNameSize] - 1);
        r.data = b.substr(dataStart, r.field[kFileSize]);
        pos = (dataEnd + 3) / 4 * 4;
        out.records.push_back(r);
        if (r.name == "TRAILER!!!") {
            out.error = pos == b.size() ? "" : "bytes after the trailer";
            return out;
        }
    }
}

// Temporary files in a folder of the test's choice, so a test sees what is left over.
class FolderTempFiles final : public platform::ITempFiles {
  public:
    explicit FolderTempFiles(std::wstring folder) : folder_(std::move(folder)) {}
    bool fail = false;
    std::wstring lastPrefix;
    std::optional<std::wstring> TempFolder() override { return folder_; }
    std::optional<std::wstring> CreateTempFile(std::wstring_view prefix) override {
        lastPrefix = prefix;
        std::wstring path = JoinPath(folder_, lastPrefix + std::to_wstring(++made_) + L".tmp");
        if (fail || !OpenFile(path, "wb")) {
            return std::nullopt;
        }
        return path;
    }
    std::optional<std::wstring> CreateTempFolder(std::wstring_view) override {
        return std::nullopt;
    }

  private:
    std::wstring folder_;
    int made_ = 0;
};

}  // namespace scour::test
