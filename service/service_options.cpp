#include "service/service_options.h"

#include "common/case_fold.h"

#include <climits>
#include <cwctype>

ServiceOptions ParseServiceOptions(int argc, const wchar_t* const* argv) noexcept
{
    ServiceOptions options;
    if (argc < 2 || !argv || !argv[1]) {
        options.command = ServiceCommand::RunService;
        return options;
    }
    const wchar_t* first = argv[1];
    if (obrin::EqualsNoCase(first, L"-install")) {
        options.command = ServiceCommand::Install;
    } else if (obrin::EqualsNoCase(first, L"-uninstall")) {
        options.command = ServiceCommand::Uninstall;
    } else if (obrin::EqualsNoCase(first, L"-showmsg")) {
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
    // The C runtime's white space, as atoi skips it.
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
