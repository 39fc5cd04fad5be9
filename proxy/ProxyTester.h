// The "ScriptProxy" tester: runs script lines on a remote script proxy and
// reads its variables over one link, relaying what the proxy logs. The
// host's "new" makes the link through the link factory, optionally with an
// encryption key; the actions open and close it, send script text (from
// formatted parameters or a script file) and fetch variable values.
//
// Two kinds of thread meet here: the host's thread runs the actions and
// takes the proxy's messages; the link's threads cut received chunks into
// messages and queue them, and report the link going online and offline.
#pragma once

#include "links/ISerial.h"
#include "links/ISerialClient.h"
#include "links/LinkSlot.h"
#include "tester/Tester.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

class ProxyTester : public Tester, public ISerialClient {
public:
    ProxyTester();
    ~ProxyTester() override;

    // ISerialClient; called on the link's threads.
    void onDataReceived(ISerial* link, const std::uint8_t* data, std::uint32_t length) override;
    void onDataTransmitted(ISerial*, const std::uint8_t*, std::uint32_t) override {}
    void onOnline() override;
    void onOffline() override;
    void onCommEvent(ISerial*, CommEvent) override {}
    void onStatusChanged(ISerial*) override {}

protected:
    ActionResult executeAction(std::uint32_t actionId, std::uint32_t count, const VARIANT* parameters) override;
    bool onNew(std::uint32_t count, const VARIANT* parameters) override;
    bool onDelete() override;
    std::string statusText() override;

    // Makes the link that "new" names; a seam for tests.
    virtual std::unique_ptr<ISerial> createLink(const std::string& typeName);

private:
    enum class Connection { Connected, TimedOut, Aborted };
    // How a wait for the proxy ended: with a reply, or without one.
    enum class Wait { Replied, TimedOut, Aborted };

    // Holds the link for the running action, so that a "delete" on another
    // thread cannot take it away meanwhile.
    class LinkInUse : public LinkSlot::Lease {
    public:
        explicit LinkInUse(ProxyTester& tester) : Lease(tester.linkSlot_, tester.actionLink_) {}
    };

    ActionResult open(std::uint32_t count, const VARIANT* parameters);
    ActionResult close();
    ActionResult executeScript(bool fromFile, std::uint32_t count, const VARIANT* parameters);
    ActionResult variableValue(std::uint32_t count, const VARIANT* parameters);
    // The script text a script file holds; none (and logged) when the file
    // cannot be opened.
    std::optional<std::string> readScriptFile(const std::string& name);
    // Hands each value the host's parser makes of `reply` to addResult;
    // false when the reply was not turned into values.
    bool addParsedValues(const std::string& reply);

    // The exchanges with the proxy, under the deadline the action armed.
    Connection connectToProxy();
    // None once connected; otherwise the action's result, logged.
    std::optional<ActionResult> connectOrFail();
    bool sendAndWaitForOk(std::string_view message);
    Wait scriptExchange(const std::string& script, ActionResult& result);
    Wait variableExchange(const std::string& name, std::string& reply);
    // Sends "disconnect" when the proxy is connected, and pauses.
    void disconnect(ISerial& link);
    void send(ISerial& link, std::string_view message);
    // A connect, script or variable wait that ends without a reply: an
    // abort is passed on to the proxy.
    Wait endWithoutReply();

    // The oldest queued message that is not a log line; log lines met on
    // the way go to the host's log at their remote level.
    std::optional<std::string> nextMessage();
    // Takes every queued message, logging the log lines among them.
    void drainMessages();
    // Waits at most one poll interval (and no longer than the deadline) for
    // a message to be queued, or for the link to come online.
    void awaitMessage();
    void awaitOnline();
    void awaitSignal(const std::function<bool()>& ready); // `ready` is read under lock_

    void reportCallbackFailure(const char* callback) noexcept;

    std::atomic<bool> linkOnline_{false};
    std::atomic<bool> proxyConnected_{false}; // written on the action thread only
    LinkSlot linkSlot_;
    std::shared_ptr<ISerial> actionLink_;     // the running action's own reference; action thread only
    std::mutex lock_;                         // guards messageQueue_
    std::condition_variable queued_;          // notified when a message is queued or the link comes online
    std::deque<std::string> messageQueue_;    // oldest first
};
