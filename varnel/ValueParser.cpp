#include "varnel/ValueParser.h"

#include "com/UntypedDispatch.h"
#include "quillon/quillon.h"
#include "platform/text.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

ResultValue fromJson(const nlohmann::json& value) {
    if (value.is_boolean()) return value.get<bool>();
    if (value.is_number_integer()) {
        if (value.is_number_unsigned()) {
            const auto number = value.get<std::uint64_t>();
            if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
                return static_cast<std::int32_t>(number);
            return static_cast<double>(number);
        }
        const auto number = value.get<std::int64_t>();
        if (number >= std::numeric_limits<std::int32_t>::min() && number <= std::numeric_limits<std::int32_t>::max())
            return static_cast<std::int32_t>(number);
        return static_cast<double>(number);
    }
    if (value.is_number()) return value.get<double>();
    if (value.is_string()) return value.get<std::string>();
    if (value.is_null()) return OtherValue{VT_EMPTY};
    return value.dump(); // objects and nested arrays keep their JSON text
}

// A decimal number as people write it: an optional sign, digits with an
// optional point, an optional exponent. Not hexadecimal, "inf" or "nan",
// which the C library would read too.
bool isDecimalNumber(std::string_view text) {
    std::size_t i = 0;
    const auto sign = [&] {
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    };
    const auto digits = [&] {
        const std::size_t start = i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
        return i - start;
    };
    sign();
    std::size_t mantissa = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        sign();
        if (digits() == 0) return false;
    }
    return i == text.size();
}

ResultValue bareItem(std::string_view item) {
    const std::string text(item);
    if (text == "true" || text == "True" || text == "TRUE") return true;
    if (text == "false" || text == "False" || text == "FALSE") return false;
    if (!isDecimalNumber(text)) return text;
    std::int32_t integer = 0;
    const char* begin = text.data() + (text[0] == '+' ? 1 : 0);
    const auto [end, error] = std::from_chars(begin, text.data() + text.size(), integer);
    if (error == std::errc() && end == text.data() + text.size()) return integer;
    const double real = std::strtod(text.c_str(), nullptr);
    if (std::isfinite(real)) return real; // whole numbers beyond 32 bits too
    return text;
}

// A comma-separated list, optionally in brackets.
std::vector<ResultValue> parseList(std::string_view text) {
    text = trim(text);
    if (!text.empty() && (text.front() == '[' || text.front() == '{' || text.front() == '(')) {
        const char close = text.front() == '[' ? ']' : text.front() == '{' ? '}' : ')';
        if (text.back() != close) throw ValueParseError(std::string("missing '") + close + "' at the end");
        text = trim(text.substr(1, text.size() - 2));
    }
    std::vector<ResultValue> values;
    if (text.empty()) return values;
    std::size_t i = 0;
    for (;;) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
            const char quote = text[i++];
            std::string item;
            for (;;) {
                if (i >= text.size()) throw ValueParseError("unclosed quoted text");
                const char c = text[i++];
                if (c == quote) break;
                if (c == '\\' && i < text.size()) {
                    const char next = text[i++];
                    item += next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
                } else {
                    item += c;
                }
            }
            values.emplace_back(std::move(item));
            while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
            if (i < text.size() && text[i] != ',') throw ValueParseError("text after a quoted item");
        } else {
            const std::size_t end = std::min(text.find(',', i), text.size());
            values.push_back(bareItem(trim(text.substr(i, end - i))));
            i = end;
        }
        if (i >= text.size()) break;
        ++i; // the comma
    }
    return values;
}

class ValueParserObject final : public UntypedDispatch<IValueParser, IID_IValueParser> {
public:
    HRESULT STDMETHODCALLTYPE GetSyntax(BSTR* syntax) override {
        if (!syntax) return E_POINTER;
        *syntax = nullptr;
        try {
            *syntax = platform::bstrFromNarrow("JSON, or a comma-separated list of numbers, quoted or bare texts "
                                               "and true/false, optionally in brackets");
        } catch (...) {
        }
        return *syntax ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT STDMETHODCALLTYPE parse(BSTR text, SAFEARRAY** values) override {
        if (!values) return E_POINTER;
        *values = nullptr;
        try {
            *values = variantArray(parseValues(platform::narrowFromBstr(text))).release();
            return S_OK;
        } catch (const ValueParseError&) {
            return E_INVALIDARG;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
};

// The class object, registered for the life of a ValueParserRegistration.
class ValueParserClass final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK; // lives as long as the program; not counted
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        const auto parser = ComPtr<IValueParser>::adopt(new (std::nothrow) ValueParserObject);
        if (!parser) return E_OUTOFMEMORY;
        return parser->QueryInterface(iid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

ValueParserClass valueParserClass;

} // namespace

std::vector<ResultValue> parseValues(std::string_view text) {
    const std::string_view trimmed = trim(text);
    auto json = nlohmann::json::parse(trimmed.begin(), trimmed.end(), nullptr, false);
    if (!json.is_discarded()) {
        std::vector<ResultValue> values;
        if (json.is_array())
            for (const auto& element : json) values.push_back(fromJson(element));
        else
            values.push_back(fromJson(json));
        return values;
    }
    return parseList(trimmed);
}

ValueParserRegistration::ValueParserRegistration()
    : result_(CoRegisterClassObject(CLSID_ValueParser, &valueParserClass, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                    &cookie_)) {}

ValueParserRegistration::~ValueParserRegistration() {
    if (SUCCEEDED(result_)) CoRevokeClassObject(cookie_);
}
