// The serial tester with a scripted link under the type name "scripted":
// tests and benchmarks raise received bytes and line events by hand. Every
// other type name makes the real link.
#pragma once

#include "serial/Serial.h"
#include "tests/support/ScriptedLink.h"

#include <memory>
#include <string>

class ScriptedSerial : public Serial {
public:
    ScriptedLink* scripted = nullptr; // while the tester owns it

protected:
    std::unique_ptr<ISerial> createLink(const std::string& typeName) override {
        if (typeName != "scripted") return Serial::createLink(typeName);
        auto link = std::make_unique<ScriptedLink>(this);
        scripted = link.get();
        return link;
    }
    bool onDelete() override {
        scripted = nullptr;
        return Serial::onDelete();
    }
};
