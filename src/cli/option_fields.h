// The options record's fields by name, for --set and for show.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "options/wizard_options.h"

namespace scour::cli {

enum class FieldKind { Boolean, Integer, Text, OptionalText };

struct OptionField {
    const wchar_t* name;
    FieldKind kind;
    std::int32_t WizardOptions::*number;
    std::wstring WizardOptions::*text;
    std::optional<std::wstring> WizardOptions::*optionalText;
};

// Every settable field in the record's declared order (Schemes is not settable).
const std::vector<OptionField>& OptionFields();
const OptionField* FindOptionField(std::wstring_view name);

struct Assignment {
    const OptionField* field = nullptr;
    std::int32_t number = 0;
    std::wstring text;
};

// Parses NAME=VALUE; on failure returns nothing and sets error to a message.
std::optional<Assignment> ParseAssignment(std::wstring_view argument, std::wstring& error);
void Apply(const Assignment& assignment, WizardOptions& options);

// "NAME=value" lines for every field, then the scheme catalogue.
std::wstring DescribeOptions(const WizardOptions& options);

}  // namespace scour::cli
