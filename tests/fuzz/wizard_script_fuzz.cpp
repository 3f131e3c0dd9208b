// A wizard script as the frames read it (UTF-8 bytes), parsed and then run
// against a frame stand-in that answers from the actions themselves.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/script.h"
#include "base/text.h"
#include "fuzz.h"

namespace {

// Accepts or refuses by the id's low bits and shows a message box on some
// clicks, as a page's button may; every answer is a fixed function of the input.
class StandIn final : public scour::IScriptTarget {
  public:
    explicit StandIn(scour::ScriptRunner& runner) : runner_(runner) {}

    bool Press(scour::WizardButton button) override {
        page_ = 203 + static_cast<int>(button);
        return Box(static_cast<int>(button));
    }
    bool Click(int id) override { return Box(id) && (id & 1) == 0; }
    bool Type(int id, const std::wstring& text) override {
        text_ = text;
        return (id & 2) == 0;
    }
    bool Select(int id, int index) override { return index <= id; }
    void DeviceChange() override {
        std::wstring password;
        (void)runner_.AnswerPasswordDialog(password);
    }
    bool Screenshot(const std::wstring& file) override { return file.size() % 2 == 0; }
    int CurrentPage() override { return page_; }
    std::optional<bool> IsChecked(int id) override { return State(id, 4); }
    std::optional<bool> IsEnabled(int id) override { return State(id, 8); }
    std::optional<bool> IsVisible(int id) override { return State(id, 16); }
    std::optional<std::wstring> Text(int id) override {
        return (id & 32) != 0 ? std::nullopt : std::optional(text_);
    }
    unsigned Buttons() override { return static_cast<unsigned>(page_) & 7u; }

  private:
    std::optional<bool> State(int id, int bit) {
        return id > 1000 ? std::nullopt : std::optional((id & bit) != 0);
    }
    bool Box(int id) {
        if ((id & 3) != 3) {
            return true;
        }
        std::wstring line;
        auto answer = runner_.AnswerBox(L"Caption", text_, line);
        FUZZ_CHECK(line.find(L'\n') == std::wstring::npos);
        return answer.has_value();
    }

    scour::ScriptRunner& runner_;
    int page_ = 203;
    std::wstring text_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring text =
        scour::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    std::wstring error = L"not cleared";
    auto actions = scour::ParseScript(text, error);
    if (!actions) {
        FUZZ_CHECK(error.starts_with(L"script: line "));
        return 0;
    }
    FUZZ_CHECK(error.empty());  // the parser's rules are unit-tested

    scour::ScriptRunner runner(*actions);
    StandIn frame(runner);
    std::size_t steps = 0;
    while (runner.Step(frame)) {
        ++steps;
    }
    FUZZ_CHECK(steps <= actions->size() && runner.Finished());
    FUZZ_CHECK(runner.Failed() == !runner.FailureText().empty());
    FUZZ_CHECK(!runner.Failed() || runner.FailureText().starts_with(L"script: line "));
    return 0;
}
