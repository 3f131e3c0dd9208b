#include "cli/option_fields.h"

#include <cerrno>
#include <climits>
#include <cwchar>

namespace scour::cli {

namespace {

using W = WizardOptions;

OptionField Bool(const wchar_t* name, std::int32_t W::*member) {
    return {name, FieldKind::Boolean, member, nullptr, nullptr};
}
OptionField Text(const wchar_t* name, std::wstring W::*member) {
    return {name, FieldKind::Text, nullptr, member, nullptr};
}

}  // namespace

const std::vector<OptionField>& OptionFields() {
    static const std::vector<OptionField> fields = {
        Bool(L"AllowTestMode", &W::AllowTestMode),
        Bool(L"AutoStart", &W::AutoStart),
        Bool(L"SelectDisks", &W::SelectDisks),
        Bool(L"NoDelay", &W::NoDelay),
        Bool(L"TestMode", &W::TestMode),
        Bool(L"WriteLog", &W::WriteLog),
        Bool(L"NetLog", &W::NetLog),
        Text(L"NetShare", &W::NetShare),
        Text(L"NetUser", &W::NetUser),
        Text(L"NetPassword", &W::NetPassword),
        Text(L"NetShareIp", &W::NetShareIp),
        Bool(L"NetAskPassword", &W::NetAskPassword),
        {L"Scheme", FieldKind::Integer, &W::Scheme, nullptr, nullptr},
        Bool(L"Verify", &W::Verify),
        Bool(L"ResetHPA", &W::ResetHPA),
        Bool(L"ResetDCO", &W::ResetDCO),
        Bool(L"AtaErase", &W::AtaErase),
        Bool(L"IsoUsb", &W::IsoUsb),
        {L"IsoPath", FieldKind::OptionalText, nullptr, nullptr, &W::IsoPath},
        Bool(L"IsoShowFolder", &W::IsoShowFolder),
    };
    return fields;
}

const OptionField* FindOptionField(std::wstring_view name) {
    for (const auto& f : OptionFields()) {
        if (name == f.name) {
            return &f;
        }
    }
    return nullptr;
}

std::optional<Assignment> ParseAssignment(std::wstring_view argument, std::wstring& error) {
    auto eq = argument.find(L'=');
    if (eq == std::wstring_view::npos) {
        error = L"--set takes NAME=VALUE, not \"" + std::wstring(argument) + L"\"";
        return std::nullopt;
    }
    std::wstring_view name = argument.substr(0, eq);
    std::wstring value(argument.substr(eq + 1));
    Assignment a;
    a.field = FindOptionField(name);
    if (a.field == nullptr) {
        error = L"unknown option name \"" + std::wstring(name) + L"\"";
        return std::nullopt;
    }
    switch (a.field->kind) {
        case FieldKind::Boolean:
            if (value != L"0" && value != L"1") {
                error = std::wstring(name) + L" takes 0 or 1, not \"" + value + L"\"";
                return std::nullopt;
            }
            a.number = value == L"1" ? 1 : 0;
            break;
        case FieldKind::Integer: {
            wchar_t* end = nullptr;
            errno = 0;
            long long n = value.empty() ? 0 : std::wcstoll(value.c_str(), &end, 10);
            bool whole = !value.empty() && end != nullptr && *end == L'\0' && errno == 0 &&
                         value.find_first_of(L" \t\n") == std::wstring::npos;
            if (!whole || n < INT32_MIN || n > INT32_MAX) {
                error = std::wstring(name) + L" takes a whole number, not \"" + value + L"\"";
                return std::nullopt;
            }
            a.number = static_cast<std::int32_t>(n);
            break;
        }
        case FieldKind::Text:
        case FieldKind::OptionalText:
            a.text = std::move(value);
            break;
    }
    return a;
}

void Apply(const Assignment& a, WizardOptions& options) {
    switch (a.field->kind) {
        case FieldKind::Boolean:
        case FieldKind::Integer:
            options.*(a.field->number) = a.number;
            break;
        case FieldKind::Text:
            options.*(a.field->text) = a.text;
            break;
        case FieldKind::OptionalText:
            options.*(a.field->optionalText) = a.text;
            break;
    }
}

std::wstring DescribeOptions(const WizardOptions& options) {
    std::wstring out;
    for (const auto& f : OptionFields()) {
        out += f.name;
        out += L'=';
        switch (f.kind) {
            case FieldKind::Boolean:
            case FieldKind::Integer:
                out += std::to_wstring(options.*(f.number));
                break;
            case FieldKind::Text:
                // The password is the user's secret: say whether one is set, never what it is.
                if (f.text == &W::NetPassword && !options.NetPassword.empty()) {
                    out += L"(" + std::to_wstring(options.NetPassword.size()) + L" characters)";
                } else {
                    out += options.*(f.text);
                }
                break;
            case FieldKind::OptionalText:
                if (const auto& v = options.*(f.optionalText)) {
                    out += *v;
                } else {
                    out += L"(absent)";
                }
                break;
        }
        out += L'\n';
        if (f.number == &W::Scheme) {
            out += L"Schemes=" + std::to_wstring(options.Schemes.size()) + L" installed\n";
            for (std::size_t i = 0; i < options.Schemes.size(); ++i) {
                const auto& s = options.Schemes[i];
                out += L"  " + std::to_wstring(i) + L": " + s.Name + L" (passes " +
                       std::to_wstring(s.PassCount) + L", weight " + std::to_wstring(s.Weight) +
                       L") " + s.Path + L"\n";
            }
        }
    }
    return out;
}

}  // namespace scour::cli
