#include "varnel/Values.h"

#include "platform/text.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iterator>
#include <new>
#include <string_view>
#include <type_traits>

namespace {

std::string quoted(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    // Built by appending: GCC 12 warns falsely (-Wrestrict) about "literal" + temporary.
    std::string shown = "\"";
    shown.append(utf8OrEscaped(out)).append("\"");
    return shown;
}

// The shortest text that reads back as the same double, laid out as "%g"
// lays out that many significant digits (1e+05, 0.0001, 1.2345e+06).
std::string number(double value) {
    char text[32];
    char* end = std::to_chars(std::begin(text), std::end(text), value, std::chars_format::scientific).ptr;
    const std::string_view shortest(text, static_cast<std::size_t>(end - text));
    const std::string_view mantissa = shortest.substr(0, shortest.find('e'));
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    const int digits = static_cast<int>(std::count_if(mantissa.begin(), mantissa.end(), isDigit));
    end = std::to_chars(std::begin(text), std::end(text), value, std::chars_format::general, digits).ptr;
    return std::string(text, end);
}

// The value a literal stands for; '*' stands for none.
ResultValue asResult(const Literal& value) {
    return std::visit(
        [](const auto& item) -> ResultValue {
            if constexpr (std::is_same_v<std::decay_t<decltype(item)>, AnyValue>)
                return OtherValue{VT_EMPTY};
            else
                return item;
        },
        value);
}

// Each element of a one-dimensional SAFEARRAY, converted; none for a null array.
template <class Element, class Convert>
auto elementsOf(SAFEARRAY* array, Convert convert) {
    std::vector<decltype(convert(std::declval<Element&>()))> out;
    LONG lower = 0;
    LONG upper = -1;
    if (!array || FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper)))
        return out;
    Element* items = nullptr;
    if (FAILED(SafeArrayAccessData(array, reinterpret_cast<void**>(&items)))) return out;
    for (LONG i = 0; i <= upper - lower; ++i) out.push_back(convert(items[i]));
    SafeArrayUnaccessData(array);
    return out;
}

} // namespace

SafeArray variantArray(const std::vector<ResultValue>& values) {
    SafeArray array(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(values.size())));
    if (!array.get()) throw std::bad_alloc();
    VARIANT* items = nullptr;
    if (FAILED(SafeArrayAccessData(array.get(), reinterpret_cast<void**>(&items)))) throw std::bad_alloc();
    bool complete = true;
    for (std::size_t i = 0; i < values.size(); ++i) {
        VARIANT& item = items[i];
        if (const auto* integer = std::get_if<std::int32_t>(&values[i])) {
            item.vt = VT_I4;
            item.lVal = *integer;
        } else if (const auto* real = std::get_if<double>(&values[i])) {
            item.vt = VT_R8;
            item.dblVal = *real;
        } else if (const auto* text = std::get_if<std::string>(&values[i])) {
            item.vt = VT_BSTR;
            item.bstrVal = platform::bstrFromNarrow(*text);
            complete = complete && item.bstrVal;
        } else if (const auto* flag = std::get_if<bool>(&values[i])) {
            item.vt = VT_BOOL;
            item.boolVal = *flag ? VARIANT_TRUE : VARIANT_FALSE;
        }
    }
    SafeArrayUnaccessData(array.get());
    if (!complete) throw std::bad_alloc();
    return array;
}

SafeArray variantArray(const std::vector<Literal>& values) {
    std::vector<ResultValue> converted;
    converted.reserve(values.size());
    for (const auto& value : values) converted.push_back(asResult(value));
    return variantArray(converted);
}

ResultValue resultValue(const VARIANT& value) {
    switch (value.vt) {
    case VT_I4: return static_cast<std::int32_t>(value.lVal);
    case VT_I2: return static_cast<std::int32_t>(value.iVal);
    case VT_R8: return value.dblVal;
    case VT_BSTR: return platform::narrowFromBstr(value.bstrVal);
    case VT_BOOL: return value.boolVal == VARIANT_TRUE;
    default: return OtherValue{value.vt};
    }
}

std::vector<ResultValue> resultValues(SAFEARRAY* array) {
    return elementsOf<VARIANT>(array, [](const VARIANT& item) { return resultValue(item); });
}

std::vector<std::string> textLines(SAFEARRAY* array) {
    return elementsOf<BSTR>(array, [](BSTR item) { return platform::narrowFromBstr(item); });
}

bool matches(const Literal& expected, const ResultValue& actual) {
    return std::holds_alternative<AnyValue>(expected) || asResult(expected) == actual;
}

bool matches(const std::vector<Literal>& expected, const std::vector<ResultValue>& actual) {
    if (expected.size() != actual.size()) return false;
    for (std::size_t i = 0; i < expected.size(); ++i)
        if (!matches(expected[i], actual[i])) return false;
    return true;
}

std::optional<Literal> literalOf(const ResultValue& value) {
    return std::visit(
        [](const auto& item) -> std::optional<Literal> {
            if constexpr (std::is_same_v<std::decay_t<decltype(item)>, OtherValue>)
                return std::nullopt;
            else
                return Literal(item);
        },
        value);
}

std::string valueText(const ResultValue& value) {
    if (const auto* integer = std::get_if<std::int32_t>(&value)) return std::to_string(*integer);
    if (const auto* real = std::get_if<double>(&value)) return number(*real);
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* flag = std::get_if<bool>(&value)) return *flag ? "true" : "false";
    return {};
}

std::string describe(const Literal& value) {
    return std::holds_alternative<AnyValue>(value) ? "any value" : describe(asResult(value));
}

std::string describe(const ResultValue& value) {
    if (const auto* integer = std::get_if<std::int32_t>(&value)) return "Integer " + std::to_string(*integer);
    if (const auto* real = std::get_if<double>(&value)) return "Double " + number(*real);
    if (const auto* text = std::get_if<std::string>(&value)) return "String " + quoted(*text);
    if (const auto* flag = std::get_if<bool>(&value)) return std::string("Bool ") + (*flag ? "true" : "false");
    return "Value of type " + std::to_string(std::get<OtherValue>(value).type);
}
