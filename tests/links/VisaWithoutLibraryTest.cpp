// The VISA link where no VISA library can be found: open fails quietly.
#include "LinkTestSupport.h"
#include "links/SerialCreator.h"

#include "../support/Variants.h"

#include <gtest/gtest.h>

TEST(VisaWithoutLibrary, OpenFailsAndReportsNothing) {
    RecordingClient client;
    const std::unique_ptr<ISerial> link = SerialCreator::instance()->create(&client, "visa");
    ASSERT_TRUE(link);
    const Value resource("GPIB0::22::INSTR");
    for (int attempt = 0; attempt < 2; ++attempt) EXPECT_FALSE(link->open(1, &resource.get()));
    EXPECT_FALSE(link->isOpen());
    EXPECT_FALSE(link->close());
    EXPECT_TRUE(client.lines().empty());
}
