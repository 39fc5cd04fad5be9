// The host's value parser: a text, such as a remote variable's value, made
// into a list of values. JSON is read as JSON (an array gives one value per
// element); other text is a list of items separated by commas, optionally
// in brackets: whole numbers, other numbers, quoted texts ("..." or '...'
// with backslash escapes), true/false, and bare texts (trimmed).
//
//   [1, 2.5, "a", true]   ->  Integer 1, Double 2.5, String "a", Bool true
//   {"x": 1}              ->  String "{\"x\":1}"
//   3, 'two', one         ->  Integer 3, String "two", String "one"
#pragma once

#include "varnel/Values.h"

#include <stdexcept>
#include <string_view>
#include <vector>

class ValueParseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws ValueParseError for text that is neither (an unclosed quote or bracket).
std::vector<ResultValue> parseValues(std::string_view text);

// Supplies the parser to the process's testers under CLSID_ValueParser
// (the IValueParser interface) for as long as it lives.
class ValueParserRegistration {
public:
    ValueParserRegistration();
    ~ValueParserRegistration();
    ValueParserRegistration(const ValueParserRegistration&) = delete;
    ValueParserRegistration& operator=(const ValueParserRegistration&) = delete;

    HRESULT result() const { return result_; }

private:
    DWORD cookie_ = 0;
    HRESULT result_;
};
