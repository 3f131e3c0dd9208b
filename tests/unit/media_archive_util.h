// For the media and page tests: a strict newc reader of our own (upper-case
// hex, zero padding, nothing after the trailer), temporary files in a test's
// folder, and a reporter that records its message boxes.
#pragma once

#include <algorithm>
#include <deque>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/file.h"
#include "base/strings.h"
#include "base/text.h"
#include "platform/reporter.h"
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
        auto it = std::find_if(records.begin(), records.end(),
                               [&](const NewcRecord& r) { return r.name == name; });
        return it == records.end() ? nullptr : &*it;
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
    auto zeros = [&](std::size_t from, std::size_t to) {
        return to <= b.size() && b.substr(from, to - from).find_first_not_of('\0') == b.npos;
    };
    for (std::size_t pos = 0;;) {
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

// An archive with every record's time blanked: two archives of the same
// options made in different seconds compare equal.
inline std::string WithoutTimes(std::optional<std::string> bytes) {
    std::string b = bytes.value_or("");
    for (const NewcRecord& r : ParseNewc(b).records) {
        b.replace(r.offset + 6 + 8 * kMtime, 8, "00000000");
    }
    return b;
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
        return fail || !OpenFile(path, "wb") ? std::nullopt : std::optional(path);
    }
    std::optional<std::wstring> CreateTempFolder(std::wstring_view) override {
        return std::nullopt;
    }

  private:
    std::wstring folder_;
    int made_ = 0;
};

struct Box {
    platform::BoxKind kind;
    std::wstring caption, text;
    friend bool operator==(const Box&, const Box&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Box& b) {
        return out << ToUtf8(b.caption) << ": " << ToUtf8(b.text);
    }
};
using Boxes = std::vector<Box>;
inline Box ErrorBox(const std::wstring& text) {
    return {platform::BoxKind::Error, LoadText(IDS_WIZARD_CAPTION), text};
}

// Records every message box and question; each question takes the next of
// the answers, and one without an answer fails the test.
class RecordingReporter final : public platform::IReporter {
  public:
    Boxes boxes;
    std::deque<bool> answers;
    void ShowMessage(platform::BoxKind kind, const std::wstring& caption,
                     const std::wstring& text) override {
        boxes.push_back({kind, caption, text});
    }
    bool AskYesNo(const std::wstring& caption, const std::wstring& text) override {
        boxes.push_back({platform::BoxKind::Question, caption, text});
        EXPECT_FALSE(answers.empty()) << "unexpected question: " << ToUtf8(text);
        const bool answer = !answers.empty() && answers.front();
        if (!answers.empty()) {
            answers.pop_front();
        }
        return answer;
    }
};
using FakeReporter = RecordingReporter;

// A path written with '/' in the platform's separators.
inline std::wstring Native(std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', kPathSep);
    return path;
}

// The names in a folder, sorted.
inline std::vector<std::wstring> Entries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(ToFsPath(folder), ec)) {
        names.push_back(FromFsPath(e.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace scour::test
