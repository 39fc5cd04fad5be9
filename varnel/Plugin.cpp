#include "varnel/Plugin.h"

#include "varnel/Values.h"
#include "platform/text.h"
#include "com/ServerEntryPoints.h"

#include <cstdio>

namespace {

// The class a plug-in file is asked for: the Varnel creator (Morvane.VarnelCreator).
constexpr CLSID varnelCreatorClass = {0xFA7CD81B, 0xD2EA, 0x4134, {0x94, 0x81, 0xB0, 0x9E, 0x99, 0x8F, 0x2B, 0x34}};

std::string text(BSTR value) { return platform::narrowFromBstr(value); }

TesterInfo describeTester(ITester* tester) {
    TesterInfo info;
    Bstr name, version, description;
    tester->GetName(name.put());
    tester->GetVersion(version.put());
    tester->GetDescription(description.put());
    info.name = text(name.get());
    info.version = text(version.get());
    info.description = text(description.get());
    ComPtr<ITester1> withNewHelp;
    if (SUCCEEDED(tester->QueryInterface(IID_ITester1, withNewHelp.putVoid())) && withNewHelp) {
        Bstr newDescription;
        SafeArray lines;
        if (SUCCEEDED(withNewHelp->GetNewActionInfo(newDescription.put(), lines.put()))) {
            info.newDescription = text(newDescription.get());
            info.newParameterLines = textLines(lines.get());
        }
    }
    ULONG count = 0;
    tester->GetActionCount(&count);
    for (ULONG i = 0; i < count; ++i) {
        ActionHelp action;
        Bstr actionName, actionDescription;
        SafeArray parameterLines, resultLines;
        tester->GetActionName(i, actionName.put());
        tester->GetActionInfo(i, actionDescription.put(), parameterLines.put(), resultLines.put());
        action.name = text(actionName.get());
        action.description = text(actionDescription.get());
        action.parameterLines = textLines(parameterLines.get());
        action.resultLines = textLines(resultLines.get());
        info.actions.push_back(std::move(action));
    }
    return info;
}

} // namespace

int TesterInfo::actionIndex(const std::string& action) const {
    for (std::size_t i = 0; i < actions.size(); ++i)
        if (actions[i].name == action) return static_cast<int>(i);
    return -1;
}

std::string hresultText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

Plugin Plugin::loadFile(const std::filesystem::path& file) {
    const std::string name = file.string();
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) throw PluginError("plug-in file not found: " + name);
    Plugin plugin;
    std::string reason;
    if (!plugin.library_.open(file, reason)) throw PluginError("cannot load the plug-in " + name + ": " + reason);
    const auto getClassObject =
        reinterpret_cast<DllGetClassObjectFunction>(plugin.library_.symbol("DllGetClassObject"));
    if (!getClassObject) throw PluginError(name + " is not a plug-in: it exports no DllGetClassObject");
    ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject(varnelCreatorClass, IID_IClassFactory, factory.putVoid());
    if (FAILED(hr) || !factory)
        throw PluginError("the plug-in " + name + " has no class object for the creator (" + hresultText(hr) + ")");
    ComPtr<ITesterCreator> creator;
    hr = factory->CreateInstance(nullptr, IID_ITesterCreator, creator.putVoid());
    if (FAILED(hr) || !creator)
        throw PluginError("the plug-in " + name + " cannot make its creator (" + hresultText(hr) + ")");
    plugin.addCreator(std::move(creator), name);
    return plugin;
}

Plugin::~Plugin() {
    testers_.clear();
    creators_.clear();
    if (!library_.isOpen()) return;
    // Unloaded only when nothing made by it is alive any more; otherwise it
    // stays until the process ends.
    const auto canUnloadNow = reinterpret_cast<DllEntryFunction>(library_.symbol("DllCanUnloadNow"));
    if (canUnloadNow && canUnloadNow() == S_OK)
        library_.close();
    else
        library_.keep();
}

void Plugin::addCreator(ComPtr<ITesterCreator> creator, const std::string& origin) {
    const std::size_t creatorIndex = creators_.size();
    std::string version;
    ComPtr<ITesterCreator1> versioned;
    if (SUCCEEDED(creator->QueryInterface(IID_ITesterCreator1, versioned.putVoid())) && versioned) {
        Bstr text;
        if (SUCCEEDED(versioned->GetCreatorVersion(text.put()))) version = platform::narrowFromBstr(text.get());
    }
    origin_ += (origin_.empty() ? "" : ", ") + origin + (version.empty() ? "" : " (creator version " + version + ")");
    ULONG count = 0;
    HRESULT hr = creator->GetTesterCount(&count);
    if (FAILED(hr)) throw PluginError("the creator of " + origin + " cannot count its testers (" + hresultText(hr) + ")");
    for (ULONG i = 0; i < count; ++i) {
        ComPtr<ITester> tester;
        hr = creator->CreateTester(static_cast<LONG>(i), tester.put());
        if (FAILED(hr) || !tester) {
            unavailable_.push_back(origin + ": index " + std::to_string(i) + " makes no tester (" + hresultText(hr) +
                                   ")");
            continue;
        }
        TesterInfo info = describeTester(tester.get());
        info.creator = creatorIndex;
        info.index = static_cast<LONG>(i);
        testers_.push_back(std::move(info));
    }
    creators_.push_back(std::move(creator));
}

const TesterInfo* Plugin::find(const std::string& name) const {
    for (const auto& tester : testers_)
        if (tester.name == name) return &tester;
    return nullptr;
}

ComPtr<ITester> Plugin::create(const TesterInfo& tester, HRESULT& failure) const {
    ComPtr<ITester> made;
    failure = creators_.at(tester.creator)->CreateTester(tester.index, made.put());
    if (FAILED(failure)) made.reset();
    else if (!made) failure = E_NOINTERFACE;
    return made;
}
