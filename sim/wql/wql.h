// The one reader of WQL and WMI object paths for the stand-ins' WMI classes
// in firmwmi.dll: the firmware's classes in root\wmi and the disk classes of
// root\cimv2. It reads the syntax only; which classes and properties exist,
// and what a statement means, is for the classes' owners to say. Text is
// UTF-8 (the syntax is ASCII; names and literals pass through). Free of
// <windows.h>, so it also builds natively.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace obrin::wql {

// A literal between single or double quotes. A backslash escapes a
// backslash or a quote; before anything else it stands for itself, so a
// Windows path pasted between the quotes as it reads keeps its backslashes.
struct QuotedText {
    std::string value;  // unescaped
    std::string asWritten;  // what stood between the quotes
    // Every backslash escaped a backslash or the enclosing quote, as WMI
    // writes paths.
    bool strict = true;
};

// How far a statement could be read: Invalid for what is not WQL, Unsupported
// for WQL these readers do not take (OR, LIKE, comparisons, qualifiers, ...).
enum class Problem { None, Invalid, Unsupported };

// `property = literal` in a SELECT's WHERE clause; the literal as text:
// strings unescaped, numbers in decimal, TRUE or FALSE.
struct Condition {
    std::string property;
    std::string literal;
};

struct Statement {
    enum class Kind {
        Other,  // no SELECT, ASSOCIATORS OF or REFERENCES OF this reader can place
        Select,  // SELECT * | p1, p2 FROM class [WHERE p = literal [AND ...]]
        Associators,  // ASSOCIATORS OF {path} [WHERE AssocClass = c ResultClass = c Role = r ResultRole = r]
        References,  // REFERENCES OF {path} [WHERE ...]
    };
    Kind kind = Kind::Other;
    // What follows the part read: a Select or Associators statement holds
    // what was read before it.
    Problem problem = Problem::None;

    // Select.
    std::string className;
    std::vector<std::string> properties;  // empty for *
    std::vector<Condition> conditions;  // all must hold

    // Associators and References: the object path between the braces as it
    // stands, and the WHERE clause's filters (empty: any).
    std::string sourcePath;
    std::string assocClass;
    std::string resultClass;
    std::string role;
    std::string resultRole;
};

[[nodiscard]] Statement ReadStatement(std::string_view wql);

// The class of "SELECT * FROM class" without a WHERE clause; nullopt for any
// other statement.
[[nodiscard]] std::optional<std::string> SelectAllClass(std::string_view wql);

// [\\server\namespace:]Class[.Key=value | =value], the value in single or
// double quotes or a number (decimal or 0x hexadecimal). Read as far as it
// goes: `complete` tells whether all of the text is such a path.
struct ObjectPath {
    std::string server;  // empty: none given
    std::string nameSpace;  // empty: none given
    std::string className;
    bool instance = false;  // a key follows the class
    std::string keyName;  // empty when the class's only key is not named
    bool keyQuoted = false;  // a string rather than a number
    char quote = 0;
    QuotedText key;  // a number as it stands, in value and asWritten
    bool complete = false;
};
[[nodiscard]] ObjectPath ReadObjectPath(std::string_view path);

// A complete path as WMI itself writes them (__PATH, __RELPATH): the key
// named, a string in double quotes with only \ and " escaped, or a number.
[[nodiscard]] bool IsWrittenAsWmiWritesIt(const ObjectPath& path) noexcept;

// A namespace as given to IWbemLocator::ConnectServer, reduced to "root\..."
// form: slashes become backslashes and a local server prefix ("\\.\",
// "\\localhost\" or "\\<computer>\") is dropped. Case is kept.
[[nodiscard]] std::string LocalNamespace(std::string_view networkResource, std::string_view computerName);

// The value as it stands between the double quotes of a path WMI writes,
// with backslashes and double quotes escaped. Wide, as the stand-in writes
// paths into COM objects.
[[nodiscard]] std::wstring EscapeKeyValue(std::wstring_view value);

}  // namespace obrin::wql
