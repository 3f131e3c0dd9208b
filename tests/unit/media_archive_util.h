// For the media and page tests: a strict newc reader, temporary files in a
// test's folder, and a reporter that records its message boxes.
#pragma once

#include <algorithm>
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

// Well-formed when the records, written again as they must be (upper-case hex,
// zero padding to four bytes, nothing after the trailer), give the same bytes.
inline NewcArchive ParseNewc(std::string_view b) {
    NewcArchive out;
    std::string again;
    auto pad = [&] { again.resize((again.size() + 3) / 4 * 4, '\0'); };
    while (again.size() + 110 <= b.size() && b.substr(again.size(), 6) == "070701" &&
           (out.records.empty() || out.records.back().name != "TRAILER!!!")) {
        NewcRecord r;
        r.offset = again.size();
        r.header = b.substr(r.offset, 110);
        if (r.header.find_first_not_of("0123456789ABCDEF", 6) != std::string::npos) {
            break;
        }
        for (int i = 0; i < 13; ++i) {
            r.field[i] =
                static_cast<std::uint32_t>(std::stoul(r.header.substr(6 + 8 * i, 8), nullptr, 16));
        }
        r.name = b.substr(r.offset + 110, std::max(r.field[kNameSize], 1u) - 1);
        again += r.header + r.name + '\0';
        pad();
        r.data = b.substr(std::min(again.size(), b.size()), r.field[kFileSize]);
        again += r.data;
        pad();
        out.records.push_back(r);
    }
    const bool trailer = !out.records.empty() && out.records.back().name == "TRAILER!!!";
    out.error =
        trailer && again == b ? "" : "not well-formed after " + std::to_string(again.size());
    return out;
}

// Temporary files in a folder of the test's choice, so a test sees what is left over.
class FolderTempFiles final : public platform::ITempFiles {
  public:
    explicit FolderTempFiles(std::wstring folder) : folder_(std::move(folder)) {}
    bool fail = false;
    std::optional<std::wstring> TempFolder() override { return folder_; }
    std::optional<std::wstring> CreateTempFile(std::wstring_view prefix) override {
        std::wstring path =
            JoinPath(folder_, std::wstring(prefix) + std::to_wstring(++made_) + L".tmp");
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

// Records every message box; a question is recorded too, and answered No.
class FakeReporter final : public platform::IReporter {
  public:
    Boxes boxes;
    void ShowMessage(platform::BoxKind kind, const std::wstring& caption,
                     const std::wstring& text) override {
        boxes.push_back({kind, caption, text});
    }
    bool AskYesNo(const std::wstring& caption, const std::wstring& text) override {
        boxes.push_back({platform::BoxKind::Question, caption, text});
        return false;
    }
};

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
