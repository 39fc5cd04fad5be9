// The plug-in as our host sees it: the creators it was given, the testers
// they offer with all their help texts, and a way to make more of them.
#pragma once

#include "com/ComPtr.h"
#include "quillon/quillon.h"
#include "platform/library.h"

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

class PluginError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ActionHelp {
    std::string name;
    std::string description;
    std::vector<std::string> parameterLines;
    std::vector<std::string> resultLines;
};

struct TesterInfo {
    std::string name;
    std::string version;
    std::string description;
    std::string newDescription;
    std::vector<std::string> newParameterLines;
    std::vector<ActionHelp> actions;
    std::size_t creator = 0; // which creator makes it
    LONG index = 0;          // and at which index

    // The table position of the first action of this name, or -1.
    int actionIndex(const std::string& action) const;
};

// "0x80070057" for an HRESULT.
std::string hresultText(HRESULT hr);

// COM for the whole program: initialised for free threading where the
// platform needs it.
class ComRuntime {
public:
    ComRuntime();
    ~ComRuntime();
    ComRuntime(const ComRuntime&) = delete;
    ComRuntime& operator=(const ComRuntime&) = delete;
};

class Plugin {
public:
    // The plug-in in this file, asked for its class object directly.
    static Plugin loadFile(const std::filesystem::path& file);
    // Every creator in the registry's list of tester creators, made through
    // its program identifier (Windows only).
    static Plugin loadRegistered();

    Plugin(Plugin&&) = default;
    Plugin& operator=(Plugin&&) = default;
    ~Plugin();

    const std::string& origin() const { return origin_; }
    const std::vector<TesterInfo>& testers() const { return testers_; }
    // Indices a creator counts but makes no tester for, with the reason.
    const std::vector<std::string>& unavailable() const { return unavailable_; }
    const TesterInfo* find(const std::string& name) const;

    // A new tester; null with `failure` set when the creator refuses.
    ComPtr<ITester> create(const TesterInfo& tester, HRESULT& failure) const;

private:
    Plugin() = default;
    void addCreator(ComPtr<ITesterCreator> creator, const std::string& origin);

    platform::SharedLibrary library_; // first in, last out: unloaded after the creators are released
    std::vector<ComPtr<ITesterCreator>> creators_;
    std::vector<TesterInfo> testers_;
    std::vector<std::string> unavailable_;
    std::string origin_;
};
