// C stdio files opened by wide path, closed by scope.
#pragma once

#include <cstdio>
#include <memory>
#include <string_view>

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

}  // namespace scour
