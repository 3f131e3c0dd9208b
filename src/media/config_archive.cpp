#include "media/config_archive.h"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "base/file.h"
#include "base/text.h"
#include "media/newc_writer.h"
#include "media/shell_quote.h"

namespace scour {

namespace {

// Lines of addons.txt are read in pieces of at most this many bytes.
constexpr std::size_t kMaxListLine = 65535;
constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

const char* YesNo(std::int32_t flag) {
    return flag != 0 ? "y" : "n";
}

std::wstring SlashesForBackslashes(std::wstring text) {
    for (auto& c : text) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    return text;
}

// A text value as the script carries it. A NUL cannot live in a shell variable,
// so it is dropped rather than allowed to cut the script short.
std::string ShellValue(platform::ITextCodec& codec, std::wstring_view text) {
    std::string bytes = codec.ToSystem8Bit(text);
    std::erase(bytes, '\0');
    return ShellQuote(bytes);
}

void AddLine(std::string& out, std::string_view name, std::string_view value) {
    out += "export ";
    out += name;
    out += '=';
    out += value;
    out += '\n';
}

// The name of one addons.txt line: what follows the first run of white space,
// without the white space at its end. Empty when the line yields no name.
std::string_view AddOnName(std::string_view line) {
    const std::size_t run = line.find_first_of(kWhiteSpace);
    if (run == std::string_view::npos) {
        return {};
    }
    const std::size_t start = line.find_first_not_of(kWhiteSpace, run);
    if (start == std::string_view::npos) {
        return {};
    }
    const std::size_t end = line.find_last_not_of(kWhiteSpace);
    return line.substr(start, end - start + 1);
}

// Add-ons come from the program folder and go below the boot environment's root:
// a name that leaves either (absolute, a drive, a ".." step) is refused.
bool StaysInside(std::string_view name) {
    if (name.front() == '/' || name.front() == '\\') {
        return false;
    }
    if (name.size() >= 2 && name[1] == ':') {
        return false;
    }
    std::size_t pos = 0;
    while (pos <= name.size()) {
        std::size_t next = name.find_first_of("/\\", pos);
        if (next == std::string_view::npos) {
            next = name.size();
        }
        if (name.substr(pos, next - pos) == "..") {
            return false;
        }
        pos = next + 1;
    }
    return true;
}

// Adds the add-on file of that name below the program folder.
void AddOn(NewcArchiveWriter& writer, const std::wstring& programFolder, std::string_view name,
           platform::ITextCodec& codec) {
#ifdef _WIN32
    // The name is 8-bit text of this system; the path is made from it as the
    // same system reads it back.
    const std::wstring source = JoinPath(programFolder, codec.FromSystem8Bit(name));
    if (!FitsPathBuffer(source)) {
        return;
    }
    writer.AddFile(source, name);
#else
    // File names are bytes here: the name's own bytes find the file whatever the
    // locale's character set (under "C" a converted non-ASCII name would not).
    (void)codec;
    if (!FitsPathBuffer(JoinPath(programFolder, FromUtf8(name)))) {
        return;
    }
    std::string source = ToUtf8(JoinPath(programFolder, L""));
    source += name;
    FilePtr file(std::fopen(source.c_str(), "rb"));
    if (file) {
        writer.AddFileHandle(file.get(), name);
    }
#endif
}

void AddOnList(NewcArchiveWriter& writer, const std::wstring& programFolder,
               platform::ITextCodec& codec) {
    // Without a program folder the names would resolve against the working folder.
    if (programFolder.empty()) {
        return;
    }
    FilePtr list = OpenFile(JoinPath(programFolder, L"addons.txt"), "r");
    if (!list) {
        return;
    }
    ReadAddOnList(list.get(),
                  [&](std::string_view name) { AddOn(writer, programFolder, name, codec); });
}

}  // namespace

void ReadAddOnList(std::FILE* list, const std::function<void(std::string_view)>& take) {
    std::vector<char> line(kMaxListLine + 1);
    while (std::fgets(line.data(), static_cast<int>(line.size()), list) != nullptr) {
        const std::string_view name = AddOnName(std::string_view(line.data()));
        if (name.empty() || !StaysInside(name)) {
            continue;
        }
        take(name);
    }
}

std::string BuildConfigText(WizardOptions& options, platform::ITextCodec& codec) {
    std::string out;
    if (options.TestMode != 0) {
        out += "export TEST_MODE=y\nexport USE_SHELL=y\n";
    } else {
        AddLine(out, "USE_SHELL", options.AutoStart != 0 ? "n" : "y");
    }
    AddLine(out, "WIPE_ALL_DISKS", options.SelectDisks != 0 ? "n" : "y");
    AddLine(out, "USE_NODELAY", YesNo(options.NoDelay));
    AddLine(out, "USE_LOGFILE", YesNo(options.WriteLog));
    options.ClampScheme();
    char scheme[32];
    std::snprintf(scheme, sizeof scheme, "sch%07d.sch", static_cast<int>(options.Scheme));
    AddLine(out, "SCHEME", scheme);
    AddLine(out, "RESET_HPA", YesNo(options.ResetHPA));
    AddLine(out, "RESET_DCO", YesNo(options.ResetDCO));
    AddLine(out, "ATA_ERASE", YesNo(options.AtaErase));
    AddLine(out, "VERIFY_LAST_PASS", YesNo(options.Verify));
    if (options.NetLog == 0) {
        AddLine(out, "USE_LOGSHARE", "n");
        return out;
    }
    AddLine(out, "USE_LOGSHARE", "y");
    AddLine(out, "NET_SHARE", ShellValue(codec, SlashesForBackslashes(options.NetShare)));
    if (options.NetShareIp.size() > 2) {
        AddLine(out, "NET_SHAREIP", ShellValue(codec, SlashesForBackslashes(options.NetShareIp)));
    }
    AddLine(out, "NET_USER", ShellValue(codec, SlashesForBackslashes(options.NetUser)));
    AddLine(out, "NET_PASS", ShellValue(codec, options.NetPassword));
    AddLine(out, "NET_ASKPASS", YesNo(options.NetAskPassword));
    return out;
}

bool WriteConfigArchive(WizardOptions& options, const std::wstring& destination,
                        const platform::Services& services) {
    const std::wstring programFolder = services.environment->ProgramFolder();
    NewcArchiveWriter writer;
    if (!writer.Open(*services.tempFiles)) {
        return false;
    }
    for (std::size_t i = 0; i < options.Schemes.size(); ++i) {
        char name[48];
        std::snprintf(name, sizeof name, "tmp/scheme/sch%07d.sch", static_cast<int>(i));
        // A scheme file that went missing is left out; the others keep their numbers.
        writer.AddFile(options.Schemes[i].Path, name);
    }
    const std::string text = BuildConfigText(options, *services.text);
    // The terminating NUL is part of the member.
    if (!writer.AddBuffer(text.c_str(), text.size() + 1, "wipe_config")) {
        writer.Close();
        return false;
    }
    AddOnList(writer, programFolder, *services.text);
    if (!writer.WriteTrailer()) {
        writer.Close();
        return false;
    }
    const bool committed = writer.CommitTo(destination);
    writer.Close();
    return committed;
}

}  // namespace scour
