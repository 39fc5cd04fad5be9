// The "ScriptProxy" tester over a scripted link whose peer answers each
// message with fixed chunks. Its own header first: the test support's
// result-state names would otherwise shadow its enumerators.
#include "proxy/ProxyTester.h"
#include "ProxyWire.h"
#include "../support/ScriptedLink.h"
#include "../support/TempFolder.h"
#include "../support/TesterDriver.h"
#include "varnel/Plugin.h"
#include "varnel/ValueParser.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>

namespace {

// The tester with a scripted link (type name "scripted") and its peer.
class TestProxy : public ProxyTester {
public:
    ScriptedLink* scripted = nullptr; // while the tester owns it
    std::map<std::string, std::vector<std::string>> replies; // message -> chunks sent back
    std::function<void(const std::string&)> onMessage;        // told of each message after its replies
    std::vector<std::string> sent; // every message, all sent on the test's thread

    // The peer: a message transmitted is answered at once, on the sending thread.
    void onDataTransmitted(ISerial*, const std::uint8_t* data, std::uint32_t length) override {
        const std::string message(reinterpret_cast<const char*>(data), length);
        sent.push_back(message);
        if (const auto reply = replies.find(message); reply != replies.end())
            for (const std::string& chunk : reply->second) scripted->receive(chunk);
        if (onMessage) onMessage(message);
    }

protected:
    std::unique_ptr<ISerial> createLink(const std::string& typeName) override {
        if (typeName != "scripted") return ProxyTester::createLink(typeName);
        auto link = std::make_unique<ScriptedLink>(this);
        scripted = link.get();
        return link;
    }
};

enum Position : ULONG { Open, Close, Execute, VariableValue, ExecuteScriptFile };

using Sent = std::vector<std::string>;

// The runtime first: the tester is made inside it.
class ProxyHarness : public testing::Test, public ComRuntime, public TesterDriver<TestProxy> {
protected:
    TestProxy& proxy() { return object(); }
    ScriptedLink& link() { return *proxy().scripted; }

    // A scripted link, open, whose peer accepts "connect".
    void openLink() {
        ASSERT_TRUE(create({Value("scripted")}));
        proxy().replies["connect"] = {unit("OK")};
        ASSERT_EQ(execute(Open).state, Passed);
    }
    Outcome execute(ULONG position, const std::vector<Value>& parameters = {}) {
        const Outcome outcome = TesterDriver::execute(position, parameters);
        EXPECT_EQ(outcome.hr, S_OK);
        return outcome;
    }
};

} // namespace

TEST_F(ProxyHarness, EveryActionNeedsALinkAndNewChecksItsParameters) {
    for (const ULONG position : {Open, Close, Execute, VariableValue, ExecuteScriptFile})
        EXPECT_EQ(execute(position, {Value("x")}).state, Error) << position;
    EXPECT_FALSE(create({Value(3)}));
    EXPECT_FALSE(create({Value("no-such-link")}));
    ASSERT_TRUE(create({Value("scripted"), Value("")}));
    EXPECT_FALSE(create({Value("scripted")}));
    EXPECT_EQ(lines(LogLevel::Error), (Lines{"ProxyTester: Invalid parameters to open\n",
                                              "ProxyTester: Failed to open serial interface\n",
                                              "ProxyTester: already open\n"}));
}

// Parameter errors and a script file missing from the script directory are
// refused before anything is sent.
TEST_F(ProxyHarness, RefusesActionParametersOfTheWrongTypesAndMissingScriptFiles) {
    openLink();
    TempFolder folder;
    const Bstr directory(platform::bstrFromPath(folder.path()));
    tester->SetScriptDirectory(directory.get());
    const std::string script = "Invalid paramters expected a string,int";
    const std::string variable = "Invalid paramters expected a string,int=5";
    const std::tuple<Position, std::vector<Value>, std::string> cases[] = {
        {Execute, {Value(10)}, script},
        {Execute, {Value(10), Value(3)}, script},
        {ExecuteScriptFile, {Value::boolean(true), Value("file")}, script},
        {ExecuteScriptFile, {Value(5), Value("%s.txt"), Value("missing")}, "Failed to open file " + folder.joined("missing.txt")},
        {VariableValue, {}, variable},
        {VariableValue, {Value(5), Value("name")}, variable},
    };
    for (const auto& [position, parameters, message] : cases) {
        host.clear();
        EXPECT_EQ(execute(position, parameters).state, Error) << message;
        EXPECT_EQ(lines(LogLevel::Error), Lines{message});
    }
    EXPECT_TRUE(proxy().sent.empty());
}

// The script text is the formatted text, then each text left over on a line of its own.
TEST_F(ProxyHarness, ConnectsOnceAndRunsScriptsToTheirResultWord) {
    openLink();
    const std::tuple<std::vector<Value>, const char*, const char*, ActionResult> cases[] = {
        {{Value(10), Value("set %d"), Value(3), Value("run")}, "script:set 3\nrun", "passed", Passed},
        {{Value("x"), Value(7), Value("y")}, "script:x", "FAILED", Failed},
        {{Value("%s-%s"), Value("a"), Value("b"), Value("c")}, "script:a-b\nc", "Warning", Warning},
    };
    for (const auto& [parameters, sent, word, state] : cases) {
        proxy().replies[sent] = {unit(word)};
        EXPECT_EQ(execute(Execute, parameters).state, state) << word;
    }
    EXPECT_EQ(proxy().sent, (Sent{"connect", "script:set 3\nrun", "script:x", "script:a-b\nc"}));
}

TEST_F(ProxyHarness, OpenFollowsTheLinkAndConnectTimesOutWithoutOkAndIsTriedAgain) {
    ASSERT_TRUE(create({Value("scripted")}));
    EXPECT_EQ(execute(Execute, {Value(0), Value("x")}).state, Failed); // the link is not online
    link().openResult = false;
    EXPECT_EQ(execute(Open).state, Error);
    link().openResult = true;
    ASSERT_EQ(execute(Open).state, Passed);
    link().closeResult = false;
    EXPECT_EQ(execute(Close).state, Failed);
    EXPECT_TRUE(proxy().sent.empty()); // never connected: no "disconnect"
    ASSERT_EQ(execute(Open).state, Passed);
    proxy().replies["connect"] = {unit("ok") + unit("log:3not yet")};
    EXPECT_EQ(execute(Execute, {Value(1), Value("x")}).state, Failed);
    EXPECT_EQ(lines(LogLevel::Error), (Lines{"timeout connecting to proxy", "timeout connecting to proxy"}));
    EXPECT_TRUE(host.contains("not yet")); // drained with its log line
    proxy().replies["connect"] = {unit("OK")};
    proxy().replies["script:x"] = {unit("passed")};
    EXPECT_EQ(execute(Execute, {Value(1), Value("x")}).state, Passed);
    EXPECT_EQ(proxy().sent, (Sent{"connect", "connect", "script:x"}));
}

// A proxy gone offline mid-script is not connected again: the next script
// goes out at once, and the word that came after the wait ended ends it.
TEST_F(ProxyHarness, AScriptThatTimesOutKeepsTheConnectionAndItsLateWord) {
    openLink();
    proxy().onMessage = [this](const std::string& message) {
        if (message == "script:slow") link().setOnline(false);
    };
    EXPECT_EQ(execute(Execute, {Value(1), Value("slow")}).state, Failed);
    EXPECT_EQ(lines(LogLevel::Error), Lines{"Timeout waiting for proxy script completion"});
    link().receive(unit("failed")); // the first script's word, after its wait
    proxy().replies["script:next"] = {unit("passed")};
    EXPECT_EQ(execute(Execute, {Value(1), Value("next")}).state, Failed);
    EXPECT_EQ(proxy().sent, (Sent{"connect", "script:slow", "script:next"}));
}

TEST_F(ProxyHarness, CloseDisconnectsOnceAndDeleteDrainsTheQueue) {
    openLink();
    proxy().replies["script:x"] = {unit("passed")};
    ASSERT_EQ(execute(Execute, {Value("x")}).state, Passed);
    EXPECT_EQ(execute(Close).state, Passed);
    ASSERT_EQ(execute(Open).state, Passed);
    ASSERT_EQ(execute(Execute, {Value("x")}).state, Passed); // connects again
    link().receive(unit("log:3left behind"));
    EXPECT_TRUE(destroyLink());
    EXPECT_TRUE(host.contains("left behind"));
    EXPECT_EQ(proxy().sent, (Sent{"connect", "script:x", "disconnect", "connect", "script:x", "disconnect"}));
    EXPECT_EQ(execute(Execute, {Value("x")}).state, Error);
}

TEST_F(ProxyHarness, VariableValuesNeedTheHostsParserAndAnAnswerItReads) {
    openLink();
    proxy().replies["variable:answer"] = {unit("log:3looking") + unit("[7]")};
    proxy().replies["variable:broken"] = {unit("'unclosed")};
    EXPECT_EQ(execute(VariableValue, {Value("answer")}).state, Failed); // no parser yet
    EXPECT_TRUE(host.contains("looking"));
    const ValueParserRegistration parser;
    ASSERT_EQ(parser.result(), S_OK);
    host.clear();
    EXPECT_EQ(execute(VariableValue, {Value("broken"), Value(5)}).state, Failed);
    EXPECT_TRUE(lines(LogLevel::Error).empty());
}

// An Abort during any wait is passed on to the proxy, and what the proxy sent
// meanwhile is drained with its log lines.
TEST_F(ProxyHarness, AbortDuringAWaitSendsAbortAndEmptiesTheQueue) {
    const struct {
        const char* abortAfter; // the message sent just before the host aborts
        Position position;
        std::vector<Value> parameters;
        const char* warning;
    } cases[] = {
        {"connect", VariableValue, {Value("v"), Value(60)}, "aborted while connecting to proxy"},
        {"script:long", Execute, {Value(60), Value("long")}, "aborted while waiting for proxy script completion"},
        {"variable:v", VariableValue, {Value("v"), Value(60)}, "aborted while waiting for proxy variable"},
    };
    for (const auto& c : cases) {
        openLink();
        if (c.abortAfter == std::string("connect")) proxy().replies["connect"] = {unit("log:3hello")};
        proxy().replies["abort"] = {unit("log:3stale")};
        proxy().onMessage = [this, &c](const std::string& message) {
            if (message == c.abortAfter) tester->Abort();
        };
        host.clear();
        EXPECT_EQ(execute(c.position, c.parameters).state, Aborted) << c.abortAfter;
        EXPECT_EQ(lines(LogLevel::Warning), Lines{c.warning});
        EXPECT_TRUE(host.contains("stale")) << c.abortAfter;
        ASSERT_GE(proxy().sent.size(), 2u);
        EXPECT_EQ(Sent(proxy().sent.end() - 2, proxy().sent.end()), (Sent{c.abortAfter, "abort"}));
        EXPECT_TRUE(destroyLink());
    }
}
