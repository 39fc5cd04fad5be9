// The registration scripts the plug-in carries, read the way registration
// reads them, and the script parser's answers to bad scripts.
#include "plugin/RegistryScript.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::string fileText(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const RegistryKey& subkey(const std::vector<RegistryKey>& keys, const std::string& name) {
    for (const auto& key : keys)
        if (key.name == name) return key;
    throw std::runtime_error("no key " + name);
}

std::string valueOf(const RegistryKey& key, const std::string& name) {
    for (const auto& value : key.values)
        if (value.name == name && !value.isNumber) return value.text;
    return "<none>";
}

constexpr const char* clsid = "{FA7CD81B-D2EA-4134-9481-B09E998F2B34}";

} // namespace

TEST(ClassScript, WritesTheProgramIdentifiers) {
    const auto roots = parseRegistryScript(expandRegistryScript(fileText(VARNEL_CLASS_SCRIPT), {{"MODULE", "C:\\p\\V.dll"}}));
    ASSERT_EQ(roots.size(), 2u);
    EXPECT_EQ(roots[0].hive, "HKCR");
    const auto& versioned = subkey(roots[0].keys, "Morvane.VarnelCreator.1");
    EXPECT_EQ(versioned.rule, KeyRule::Normal);
    EXPECT_EQ(valueOf(versioned, ""), "VarnelCreator Class");
    EXPECT_EQ(valueOf(subkey(versioned.subkeys, "CLSID"), ""), clsid);
    const auto& independent = subkey(roots[0].keys, "Morvane.VarnelCreator");
    EXPECT_EQ(valueOf(independent, ""), "VarnelCreator Class");
    EXPECT_EQ(valueOf(subkey(independent.subkeys, "CLSID"), ""), clsid);
    EXPECT_EQ(valueOf(subkey(independent.subkeys, "CurVer"), ""), "Morvane.VarnelCreator.1");
}

TEST(ClassScript, WritesTheClassKeyWithTheModulePath) {
    const auto roots = parseRegistryScript(expandRegistryScript(fileText(VARNEL_CLASS_SCRIPT), {{"MODULE", "C:\\p\\V.dll"}}));
    const auto& classes = subkey(roots[0].keys, "CLSID");
    EXPECT_EQ(classes.rule, KeyRule::NoRemove);
    const auto& ours = subkey(classes.subkeys, clsid);
    EXPECT_EQ(ours.rule, KeyRule::ForceRemove);
    EXPECT_EQ(valueOf(ours, ""), "VarnelCreator Class");
    EXPECT_EQ(valueOf(subkey(ours.subkeys, "ProgID"), ""), "Morvane.VarnelCreator.1");
    EXPECT_EQ(valueOf(subkey(ours.subkeys, "VersionIndependentProgID"), ""), "Morvane.VarnelCreator");
    const auto& programmable = subkey(ours.subkeys, "Programmable");
    EXPECT_EQ(programmable.rule, KeyRule::ForceRemove);
    EXPECT_TRUE(programmable.values.empty());
    const auto& server = subkey(ours.subkeys, "InprocServer32");
    EXPECT_EQ(valueOf(server, ""), "C:\\p\\V.dll");
    EXPECT_EQ(valueOf(server, "ThreadingModel"), "Free");
    EXPECT_EQ(valueOf(subkey(ours.subkeys, "TypeLib"), ""), "{253B1681-1ADF-42A9-8CDD-8A21529B5F00}");
}

TEST(ClassScript, EntersTheCreatorInTheHostsList) {
    const auto roots = parseRegistryScript(expandRegistryScript(fileText(VARNEL_CLASS_SCRIPT), {{"MODULE", "x"}}));
    EXPECT_EQ(roots[1].hive, "HKLM");
    const RegistryKey* key = &subkey(roots[1].keys, "SOFTWARE");
    for (const char* name : {"Morvane", "Quillon", "TesterCreators"}) {
        EXPECT_EQ(key->rule, KeyRule::NoRemove) << key->name;
        key = &subkey(key->subkeys, name);
    }
    EXPECT_EQ(key->rule, KeyRule::NoRemove);
    const auto& entry = subkey(key->subkeys, "Morvane.VarnelCreator");
    EXPECT_EQ(entry.rule, KeyRule::ForceRemove);
    EXPECT_TRUE(entry.values.empty());
    EXPECT_TRUE(entry.subkeys.empty());
}

TEST(ApplicationScript, NamesTheApplicationIdentifier) {
    const auto roots =
        parseRegistryScript(expandRegistryScript(fileText(VARNEL_APPLICATION_SCRIPT), {{"APPID", "{X}"}}));
    ASSERT_EQ(roots.size(), 1u);
    const auto& ids = subkey(roots[0].keys, "AppID");
    EXPECT_EQ(valueOf(subkey(ids.subkeys, "{X}"), ""), "VarnelPlugin");
    EXPECT_EQ(valueOf(subkey(ids.subkeys, "VarnelPlugin.DLL"), "AppID"), "{X}");
}

TEST(RegistryScript, ReadsNumbersQuotesAndLongHiveNames) {
    const auto roots = parseRegistryScript("HKEY_CURRENT_USER { 'a b' = s 'it''s' { val N = d '42' } }");
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(roots[0].hive, "HKCU");
    const auto& key = roots[0].keys.at(0);
    EXPECT_EQ(key.name, "a b");
    EXPECT_EQ(valueOf(key, ""), "it's");
    ASSERT_EQ(key.values.size(), 2u);
    EXPECT_TRUE(key.values[1].isNumber);
    EXPECT_EQ(key.values[1].number, 42u);
}

TEST(RegistryScript, ExpandsPercentSigns) {
    EXPECT_EQ(expandRegistryScript("a %M% b %% c", {{"M", "m"}}), "a m b % c");
}

struct BadScript {
    const char* script;
    int line;
    const char* message;
};

class BadScripts : public testing::TestWithParam<BadScript> {};

TEST_P(BadScripts, AreRefusedWithTheLine) {
    try {
        parseRegistryScript(expandRegistryScript(GetParam().script, {{"M", "m"}}));
        FAIL() << "accepted: " << GetParam().script;
    } catch (const RegistryScriptError& error) {
        EXPECT_EQ(error.line(), GetParam().line);
        EXPECT_NE(std::string(error.what()).find(GetParam().message), std::string::npos) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Registry, BadScripts, testing::Values(
    BadScript{"HKXX { }", 1, "unknown registry hive 'HKXX'"},
    BadScript{"HKCR {\n a = s 'x", 2, "unterminated text"},
    BadScript{"HKCR {\n a = q 'x' }", 2, "unknown value type 'q'"},
    BadScript{"HKCR {\n a = d 'x' }", 2, "expected a number"},
    BadScript{"HKCR {\n a {\n val b 'x' } }", 3, "expected '='"},
    BadScript{"HKCR {\n a {\n", 3, "missing '}'"},
    BadScript{"HKCR { %Q% }", 1, "unknown replacement %Q%"},
    BadScript{"HKCR { 50% }", 1, "a lone '%'"}));
