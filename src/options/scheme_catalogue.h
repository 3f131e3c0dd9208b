// How the catalogue reads a scheme file and its lines. The rest of the catalogue is
// WizardOptions::BuildSchemeCatalogue and ReadSchemeFile.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace scour {

// Longest line piece a scheme file is read in; longer lines are cut into pieces of this size.
inline constexpr std::size_t kSchemeLineBytes = 2047;
// Upper bound of a pattern's length.
inline constexpr std::int64_t kMaxPatternLength = 65536;

// The length of the pattern that a pass line describes after its first '.': tokens
// "+<count> <byte>" add count, "<byte>" adds one, and the sum is cut at kMaxPatternLength.
// Zero or less means the line is no pattern.
std::int64_t PatternLength(std::string_view line);

struct PassLine {
    bool recognised = false;
    std::int64_t weight = 0;
    bool verify = false;
};

// Examines one line as a pass line. currentWeight is the weight of the pass line recognised
// before it (1 at the start of a file): a complement pass weighs one more.
PassLine ExaminePassLine(std::string_view line, std::int64_t currentWeight);

// What a scheme file's bytes say of the scheme, before its name is converted.
struct SchemeFileScan {
    bool nameKnown = false;
    // No "[name]" line came before the first line that starts with a number.
    bool userDefined = false;
    // The bytes between the first '[' and the last ']' of the name line.
    std::string nameBytes;
    std::int64_t passCount = 0;
    std::int64_t weight = 0;
};

// Reads the file from where it stands to its end, in pieces of kSchemeLineBytes.
SchemeFileScan ScanSchemeFile(std::FILE* file);

}  // namespace scour
