// The scripts `varnel serve` runs: each line a step of our script language,
// run at once against testers that stay from one script to the next until
// the tester disconnects; stored values and --define values answer
// "variable:" requests as JSON.
#pragma once

#include "varnel/LogPrinter.h"
#include "varnel/ProxyServer.h"
#include "varnel/Runner.h"
#include "varnel/Script.h"

#include <filesystem>
#include <mutex>

class ProxyService final : public ScriptService {
public:
    // Scripts run in `directory`, which testers see as their script folder.
    ProxyService(Runner& runner, LogPrinter& printer, Definitions definitions, std::filesystem::path directory);

    std::string runScript(const std::string& text, const LogSink& log) override;
    void abortScript() override;
    std::string variable(const std::string& name) override;
    void forget() override;

private:
    Runner& runner_;
    LogPrinter& printer_;
    const Definitions definitions_;
    const std::filesystem::path directory_;
    std::mutex storedLock_;      // guards typed_ and the runner's stored values against "variable:"
    TypedLines typed_;
};
