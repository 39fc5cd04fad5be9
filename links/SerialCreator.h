// The link factory: a type name as scripts write it in "new" becomes a link
// bound to a client. One instance per process; making it starts the sockets
// library, destroying it ends it.
#pragma once

#include "links/ISerial.h"

#include <memory>

class SerialCreator {
public:
    virtual ~SerialCreator();

    // The process-wide instance, made on first use.
    static SerialCreator* instance();
    // Destroys the instance, if any; a later instance() makes a new one.
    static void release();

    // A new closed link of the named kind (case-insensitive), or null for an
    // unknown or null name or any failure while making it. Never throws.
    std::unique_ptr<ISerial> create(ISerialClient* client, const char* typeName);

private:
    SerialCreator();
};
