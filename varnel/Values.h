// Script values and the automation values the testers take and give.
#pragma once

#include "com/ComPtr.h"
#include "varnel/Script.h"

#include <optional>
#include <string>
#include <variant>
#include <vector>

// A value a tester gave back. Types our scripts cannot write are kept as
// their type number only.
struct OtherValue {
    VARTYPE type;
    bool operator==(const OtherValue&) const = default;
};
using ResultValue = std::variant<std::int32_t, double, std::string, bool, OtherValue>;

// A new SAFEARRAY of VARIANT (lower bound 0) holding the values: integers
// as VT_I4, doubles as VT_R8, texts as VT_BSTR, booleans as VT_BOOL, other
// values empty. Throws std::bad_alloc when memory runs out.
SafeArray variantArray(const std::vector<ResultValue>& values);
SafeArray variantArray(const std::vector<Literal>& values);

// The elements of a SAFEARRAY of VARIANT; a null array gives none.
std::vector<ResultValue> resultValues(SAFEARRAY* array);
ResultValue resultValue(const VARIANT& value);

// The texts of a SAFEARRAY of BSTR; a null array gives none.
std::vector<std::string> textLines(SAFEARRAY* array);

// Whether a result value is what the script expected: the same type and
// value; '*' matches anything.
bool matches(const Literal& expected, const ResultValue& actual);
bool matches(const std::vector<Literal>& expected, const std::vector<ResultValue>& actual);

// A result value as a script value; nullopt for types scripts cannot write.
std::optional<Literal> literalOf(const ResultValue& value);
// A value put into a text: 42, 2.5, the text itself, true.
std::string valueText(const ResultValue& value);

// How values are shown: Integer 42, Double 2.5, String "a\r\n", Bool true.
std::string describe(const Literal& value);
std::string describe(const ResultValue& value);
template <class Value>
std::string describe(const std::vector<Value>& values) {
    std::string text;
    for (const auto& value : values) text += (text.empty() ? "" : ", ") + describe(value);
    return text;
}
