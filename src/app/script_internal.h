// What the script parser and the script runner share: the keywords of
// buttons and answers, and how a script's text is shown in its messages.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "app/script.h"
#include "base/text.h"

namespace scour::script_detail {

template <typename T>
struct Keyword {
    const wchar_t* word;
    T value;
};

constexpr Keyword<WizardButton> kButtons[] = {
    {L"next", WizardButton::Next},     {L"back", WizardButton::Back},
    {L"finish", WizardButton::Finish}, {L"cancel", WizardButton::Cancel},
    {L"help", WizardButton::Help},
};

constexpr Keyword<BoxAnswer> kAnswers[] = {
    {L"yes", BoxAnswer::Yes},
    {L"no", BoxAnswer::No},
    {L"ok", BoxAnswer::Ok},
    {L"cancel", BoxAnswer::Cancel},
};

constexpr Keyword<unsigned> kButtonFlags[] = {
    {L"back", 1},
    {L"next", 2},
    {L"finish", 4},
};

template <typename T, std::size_t N>
std::optional<T> Lookup(const Keyword<T> (&table)[N], std::wstring_view word) {
    for (const auto& entry : table) {
        if (EqualsAsciiNoCase(word, entry.word)) {
            return entry.value;
        }
    }
    return std::nullopt;
}

template <typename T, std::size_t N>
std::wstring NameOf(const Keyword<T> (&table)[N], T value) {
    for (const auto& entry : table) {
        if (entry.value == value) {
            return entry.word;
        }
    }
    return L"?";
}

// Line breaks shown as \n, so that a text stays on one line of output.
std::wstring OneLine(std::wstring_view text);
std::wstring Quoted(std::wstring_view text);
std::wstring LineError(int line, const std::wstring& what);

}  // namespace scour::script_detail
