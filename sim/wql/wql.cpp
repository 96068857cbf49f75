#include "sim/wql/wql.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "common/case_fold.h"

namespace obrin::wql {
namespace {

bool IsBlank(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsWordChar(char c) noexcept
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsDigit(char c) noexcept
{
    return c >= '0' && c <= '9';
}

// Decimal or 0x hexadecimal, unsigned 64 bits, the whole text.
std::optional<uint64_t> ReadNumber(std::string_view text) noexcept
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// The literal in quotes starting at text[pos]; pos ends past its closing quote.
bool ReadQuoted(std::string_view text, size_t& pos, QuotedText& quoted)
{
    const char quote = text[pos++];
    const size_t start = pos;
    while (pos < text.size()) {
        const char c = text[pos++];
        if (c == quote) {
            quoted.asWritten = std::string(text.substr(start, pos - 1 - start));
            return true;
        }
        if (c == '\\' && pos < text.size() && (text[pos] == '\\' || text[pos] == '\'' || text[pos] == '"')) {
            if (text[pos] != '\\' && text[pos] != quote)
                quoted.strict = false;
            quoted.value.push_back(text[pos++]);
            continue;
        }
        if (c == '\\')
            quoted.strict = false;
        quoted.value.push_back(c);
    }
    return false;
}

struct Token {
    enum class Kind { Word, String, Number, Symbol };
    Kind kind = Kind::Word;
    std::string text;  // a string unescaped, a number in decimal

    [[nodiscard]] bool IsWord(std::string_view word) const noexcept
    {
        return kind == Kind::Word && EqualsNoCase(text, word);
    }
    [[nodiscard]] bool IsSymbol(char symbol) const noexcept
    {
        return kind == Kind::Symbol && text.size() == 1 && text[0] == symbol;
    }
};

// nullopt for an unterminated string or a word that starts with a digit but
// is no number.
std::optional<std::vector<Token>> Tokenize(std::string_view text)
{
    std::vector<Token> tokens;
    size_t pos = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        if (IsBlank(c)) {
            ++pos;
            continue;
        }
        Token token;
        if (c == '\'' || c == '"') {
            QuotedText quoted;
            if (!ReadQuoted(text, pos, quoted))
                return std::nullopt;
            token.kind = Token::Kind::String;
            token.text = std::move(quoted.value);
        } else if (IsWordChar(c)) {
            const size_t start = pos;
            while (pos < text.size() && IsWordChar(text[pos]))
                ++pos;
            const std::string_view word = text.substr(start, pos - start);
            if (IsDigit(c)) {
                const auto number = ReadNumber(word);
                if (!number)
                    return std::nullopt;
                token.kind = Token::Kind::Number;
                token.text = std::to_string(*number);
            } else {
                token.text = std::string(word);
            }
        } else {
            token.kind = Token::Kind::Symbol;
            token.text = std::string(1, c);
            ++pos;
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

Statement WithProblem(Statement statement, Problem problem)
{
    statement.problem = problem;
    return statement;
}

// The text a literal compares by.
std::optional<std::string> LiteralText(const Token& token)
{
    if (token.kind == Token::Kind::String || token.kind == Token::Kind::Number)
        return token.text;
    if (token.IsWord("TRUE") || token.IsWord("FALSE"))
        return token.IsWord("TRUE") ? "TRUE" : "FALSE";
    return std::nullopt;
}

Statement ReadSelect(const std::vector<Token>& tokens)
{
    Statement statement;
    size_t from = 1;
    while (from < tokens.size() && !tokens[from].IsWord("FROM"))
        ++from;
    if (from + 1 >= tokens.size() || tokens[from + 1].kind != Token::Kind::Word)
        return statement;
    statement.kind = Statement::Kind::Select;
    statement.className = tokens[from + 1].text;
    if (from != 2 || !tokens[1].IsSymbol('*')) {
        // p1, p2, ...: names at odd positions, commas between them.
        if (from < 2 || from % 2 != 0)
            return WithProblem(std::move(statement), Problem::Invalid);
        for (size_t i = 1; i < from; ++i) {
            const bool nameSlot = i % 2 == 1;
            if (nameSlot ? tokens[i].kind != Token::Kind::Word : !tokens[i].IsSymbol(','))
                return WithProblem(std::move(statement), Problem::Invalid);
            if (nameSlot)
                statement.properties.push_back(tokens[i].text);
        }
    }

    size_t pos = from + 2;
    if (pos == tokens.size())
        return statement;
    if (!tokens[pos].IsWord("WHERE") || pos + 1 == tokens.size())
        return WithProblem(std::move(statement), Problem::Invalid);
    ++pos;
    for (;;) {
        // Only "property = literal" joined by AND; OR, NOT, LIKE, ISA,
        // comparisons and parentheses are WQL too, but not read here.
        if (pos + 3 > tokens.size() || tokens[pos].kind != Token::Kind::Word || !tokens[pos + 1].IsSymbol('='))
            return WithProblem(std::move(statement), Problem::Unsupported);
        auto literal = LiteralText(tokens[pos + 2]);
        if (!literal)
            return WithProblem(std::move(statement), Problem::Unsupported);
        statement.conditions.push_back({tokens[pos].text, std::move(*literal)});
        pos += 3;
        if (pos == tokens.size())
            return statement;
        if (!tokens[pos].IsWord("AND") || pos + 1 == tokens.size())
            return WithProblem(std::move(statement), Problem::Unsupported);
        ++pos;
    }
}

size_t SkipBlanks(std::string_view text, size_t pos) noexcept
{
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
    return pos;
}

// Whether the word at pos (whole, any case) is `word`; moves past it.
bool TakeWord(std::string_view text, size_t& pos, std::string_view word) noexcept
{
    if (text.size() - pos < word.size() || !EqualsNoCase(text.substr(pos, word.size()), word))
        return false;
    if (pos + word.size() < text.size() && IsWordChar(text[pos + word.size()]))
        return false;
    pos += word.size();
    return true;
}

// The object path between "{" at pos and its "}", quotes respected; pos ends
// past the "}".
std::optional<std::string_view> BracedPath(std::string_view text, size_t& pos)
{
    if (pos >= text.size() || text[pos] != '{')
        return std::nullopt;
    const size_t start = ++pos;
    while (pos < text.size()) {
        const char c = text[pos];
        if (c == '}') {
            ++pos;
            return text.substr(start, pos - 1 - start);
        }
        if (c == '\'' || c == '"') {
            QuotedText ignored;
            if (!ReadQuoted(text, pos, ignored))
                return std::nullopt;
            continue;
        }
        ++pos;
    }
    return std::nullopt;
}

Statement ReadAssociators(std::string_view wql, size_t pos, Statement::Kind kind)
{
    Statement statement;
    pos = SkipBlanks(wql, pos);
    if (!TakeWord(wql, pos, "OF"))
        return statement;
    pos = SkipBlanks(wql, pos);
    const auto path = BracedPath(wql, pos);
    if (!path)
        return statement;
    statement.kind = kind;
    statement.sourcePath = std::string(*path);

    const auto tokens = Tokenize(wql.substr(pos));
    if (!tokens)
        return WithProblem(std::move(statement), Problem::Invalid);
    if (tokens->empty())
        return statement;
    if (!(*tokens)[0].IsWord("WHERE") || tokens->size() == 1)
        return WithProblem(std::move(statement), Problem::Invalid);
    for (size_t i = 1; i < tokens->size(); i += 3) {
        const Token& keyword = (*tokens)[i];
        std::string* target = keyword.IsWord("AssocClass")    ? &statement.assocClass
                              : keyword.IsWord("ResultClass") ? &statement.resultClass
                              : keyword.IsWord("Role")        ? &statement.role
                              : keyword.IsWord("ResultRole")  ? &statement.resultRole
                                                              : nullptr;
        if (!target) {
            const bool known = keyword.IsWord("ClassDefsOnly") || keyword.IsWord("KeysOnly") ||
                               keyword.IsWord("SchemaOnly") || keyword.IsWord("RequiredQualifier") ||
                               keyword.IsWord("RequiredAssocQualifier");
            return WithProblem(std::move(statement), known ? Problem::Unsupported : Problem::Invalid);
        }
        if (i + 2 >= tokens->size() || !(*tokens)[i + 1].IsSymbol('=') ||
            (*tokens)[i + 2].kind != Token::Kind::Word)
            return WithProblem(std::move(statement), Problem::Invalid);
        *target = (*tokens)[i + 2].text;
    }
    return statement;
}

}  // namespace

Statement ReadStatement(std::string_view wql)
{
    size_t pos = SkipBlanks(wql, 0);
    if (TakeWord(wql, pos, "ASSOCIATORS"))
        return ReadAssociators(wql, pos, Statement::Kind::Associators);
    if (TakeWord(wql, pos, "REFERENCES"))
        return ReadAssociators(wql, pos, Statement::Kind::References);
    const auto tokens = Tokenize(wql);
    if (!tokens || tokens->empty() || !(*tokens)[0].IsWord("SELECT"))
        return {};
    return ReadSelect(*tokens);
}

std::optional<std::string> SelectAllClass(std::string_view wql)
{
    Statement statement = ReadStatement(wql);
    if (statement.kind != Statement::Kind::Select || statement.problem != Problem::None ||
        !statement.properties.empty() || !statement.conditions.empty())
        return std::nullopt;
    return std::move(statement.className);
}

ObjectPath ReadObjectPath(std::string_view path)
{
    ObjectPath result;
    if (path.size() > 2 && path[0] == '\\' && path[1] == '\\') {
        const size_t serverEnd = path.find('\\', 2);
        const size_t colon = path.find(':');
        if (serverEnd == std::string_view::npos || colon == std::string_view::npos || colon < serverEnd ||
            serverEnd == 2 || colon == serverEnd + 1)
            return result;
        result.server = path.substr(2, serverEnd - 2);
        result.nameSpace = path.substr(serverEnd + 1, colon - serverEnd - 1);
        path.remove_prefix(colon + 1);
    } else if (const size_t colon = path.find(':'); colon < path.find_first_of(".=")) {
        // A namespace prefix ends at the first colon before the key ("C:" has one too).
        if (colon == 0)
            return result;
        result.nameSpace = path.substr(0, colon);
        path.remove_prefix(colon + 1);
    }

    size_t pos = 0;
    while (pos < path.size() && IsWordChar(path[pos]))
        ++pos;
    if (pos == 0)
        return result;
    result.className = path.substr(0, pos);
    if (pos == path.size()) {
        result.complete = true;
        return result;
    }
    if (path[pos] == '.') {
        const size_t keyStart = ++pos;
        while (pos < path.size() && IsWordChar(path[pos]))
            ++pos;
        if (pos == keyStart)
            return result;
        result.keyName = path.substr(keyStart, pos - keyStart);
    }
    if (pos >= path.size() || path[pos] != '=')
        return result;
    ++pos;
    result.instance = true;
    if (pos < path.size() && (path[pos] == '"' || path[pos] == '\'')) {
        result.keyQuoted = true;
        result.quote = path[pos];
        result.complete = ReadQuoted(path, pos, result.key) && pos == path.size();
        return result;
    }
    const std::string_view number = path.substr(pos);
    if (!ReadNumber(number))
        return result;
    result.key.value = number;
    result.key.asWritten = number;
    result.complete = true;
    return result;
}

bool IsWrittenAsWmiWritesIt(const ObjectPath& path) noexcept
{
    if (!path.complete || !path.instance)
        return path.complete;
    return !path.keyName.empty() && (!path.keyQuoted || (path.quote == '"' && path.key.strict));
}

std::string LocalNamespace(std::string_view networkResource, std::string_view computerName)
{
    std::string path(networkResource);
    std::replace(path.begin(), path.end(), '/', '\\');
    if (path.size() > 2 && path[0] == '\\' && path[1] == '\\') {
        const size_t serverEnd = path.find('\\', 2);
        if (serverEnd == std::string::npos)
            return path;
        const std::string_view server = std::string_view(path).substr(2, serverEnd - 2);
        if (server == "." || EqualsNoCase(server, "localhost") || EqualsNoCase(server, computerName))
            path.erase(0, serverEnd + 1);
    }
    return path;
}

std::wstring EscapeKeyValue(std::wstring_view value)
{
    std::wstring escaped;
    for (wchar_t c : value) {
        if (c == L'\\' || c == L'"')
            escaped.push_back(L'\\');
        escaped.push_back(c);
    }
    return escaped;
}

}  // namespace obrin::wql
