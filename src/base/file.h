// C stdio files opened by wide path, closed by scope.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>

namespace scour {

struct FileCloser {
    void operator()(std::FILE* f) const noexcept {
        if (f != nullptr) {
            std::fclose(f);
        }
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// mode as for fopen ("rb", "wb", ...). Null when the file cannot be opened.
FilePtr OpenFile(std::wstring_view path, const char* mode);

// Removes a folder a run made, with everything in it, however the run ends.
class FolderGuard {
  public:
    explicit FolderGuard(std::filesystem::path path) : path_(std::move(path)) {}
    ~FolderGuard() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    FolderGuard(const FolderGuard&) = delete;
    FolderGuard& operator=(const FolderGuard&) = delete;

  private:
    std::filesystem::path path_;
};

}  // namespace scour
