#include "service/service_options.h"

#include <climits>
#include <cwctype>

namespace {

bool EqualsIgnoringCase(const wchar_t* text, const wchar_t* word) noexcept
{
    for (; *text && *word; ++text, ++word) {
        if (std::towlower(static_cast<wint_t>(*text)) != std::towlower(static_cast<wint_t>(*word)))
            return false;
    }
    return *text == *word;
}

}  // namespace

ServiceOptions ParseServiceOptions(int argc, const wchar_t* const* argv) noexcept
{
    ServiceOptions options;
    if (argc < 2 || !argv || !argv[1]) {
        options.command = ServiceCommand::RunService;
        return options;
    }
    const wchar_t* first = argv[1];
    if (EqualsIgnoringCase(first, L"-install")) {
        options.command = ServiceCommand::Install;
    } else if (EqualsIgnoringCase(first, L"-uninstall")) {
        options.command = ServiceCommand::Uninstall;
    } else if (EqualsIgnoringCase(first, L"-showmsg")) {
        if (argc < 3 || !argv[2]) {
            options.command = ServiceCommand::ShowMsgWithoutValue;
        } else {
            options.command = ServiceCommand::ShowMsg;
            options.showMsgValue = ReadDecimal(argv[2]);
        }
    }
    return options;
}

int ReadDecimal(const wchar_t* text) noexcept
{
    if (!text)
        return 0;
    while (std::iswspace(static_cast<wint_t>(*text)))
        ++text;
    bool negative = false;
    if (*text == L'+' || *text == L'-') {
        negative = *text == L'-';
        ++text;
    }
    long long value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        value = value * 10 + (*text - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

unsigned ShowMsgControlCode(int value) noexcept
{
    if (value >= 0 && value <= 2)
        return 128u + static_cast<unsigned>(value);
    return 130u;
}
