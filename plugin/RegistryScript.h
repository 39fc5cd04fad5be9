// Registration scripts: the registry keys and values a COM server writes
// when it is registered and removes when it is unregistered, as text.
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {...} = s 'Name'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Free'
//               }
//           }
//       }
//   }
//
// A root names a hive (HKCR, HKLM, HKCU, HKU or the long forms). A key may
// carry a default value ("= s 'text'"), named values ("val Name = s 'text'"
// or "= d 123"), and subkeys. NoRemove keys are never deleted; ForceRemove
// keys are deleted with everything below them before they are written, and
// deleted whole when unregistering; other keys are deleted when
// unregistering once no subkeys are left in them. %NAME% is replaced
// before parsing, %% gives one %. Texts are in single quotes; '' is a quote.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

enum class KeyRule { Normal, NoRemove, ForceRemove };

struct RegistryValue {
    std::string name; // empty: the key's default value
    bool isNumber = false;
    std::string text;
    std::uint32_t number = 0;
};

struct RegistryKey {
    std::string name;
    KeyRule rule = KeyRule::Normal;
    std::vector<RegistryValue> values; // the default value, if any, first
    std::vector<RegistryKey> subkeys;
};

struct RegistryRoot {
    std::string hive; // the short form: HKCR, HKLM, HKCU or HKU
    std::vector<RegistryKey> keys;
};

class RegistryScriptError : public std::runtime_error {
public:
    RegistryScriptError(int line, const std::string& message)
        : std::runtime_error("line " + std::to_string(line) + ": " + message), line_(line) {}
    int line() const { return line_; }

private:
    int line_;
};

// Replaces each %NAME% by its text; an unknown name is an error.
std::string expandRegistryScript(std::string_view script, const std::map<std::string, std::string>& replacements);

// Parses an expanded script; throws RegistryScriptError.
std::vector<RegistryRoot> parseRegistryScript(std::string_view script);
