#include "base/file.h"

#include <string>

#include "base/text.h"

namespace scour {

FilePtr OpenFile(std::wstring_view path, const char* mode) {
#ifdef _WIN32
    std::wstring wmode;
    for (const char* m = mode; *m != '\0'; ++m) {
        wmode += static_cast<wchar_t>(*m);
    }
    return FilePtr(_wfopen(std::wstring(path).c_str(), wmode.c_str()));
#else
    return FilePtr(std::fopen(ToUtf8(path).c_str(), mode));
#endif
}

}  // namespace scour
