// The serial tester's file actions and received-data log file, with real
// files in a temporary folder: over a scripted link, whose writes and
// received chunks the test sees, and over the loop-back link.
#include "SerialHarness.h"
#include "tests/support/Pauses.h"
#include "tests/support/TempFolder.h"

namespace {

using namespace std::string_literals;

// Bytes 1..251 over and over: no 0 (which the byte reader also gives for an
// empty wait), and a period prime to every block size.
std::string patterned(std::size_t length) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(1 + i % 251);
    return bytes;
}

class SerialFiles : public OpenSerial {
protected:
    Outcome sendFile(std::vector<Value> parameters) { return h.execute(SendFile, parameters); }
    Outcome compareFile(std::vector<Value> parameters) { return h.execute(CompareFile, parameters); }
    void setScriptDirectory(const std::string& directory) {
        Bstr text(platform::bstrFromNarrow(directory));
        ASSERT_EQ(h.tester->SetScriptDirectory(text.get()), S_OK);
    }
    TempFolder folder;
};

TEST_F(SerialFiles, SendFileStreamsBlocksAndWaitsForTheirReport) {
    folder.write("part3.bin", patterned(2500));
    folder.write("empty.bin", "");
    EXPECT_EQ(sendFile({Value(2), Value(folder.name("part%d.bin")), Value(3)}).state, Passed);
    std::vector<std::size_t> blocks;
    for (const Bytes& block : h.link().written) blocks.push_back(block.size());
    EXPECT_EQ(blocks, (std::vector<std::size_t>{1024, 1024, 452}));
    EXPECT_EQ(h.link().writtenText(), patterned(2500));

    EXPECT_EQ(sendFile({Value(folder.name("empty.bin"))}).state, Passed);
    EXPECT_EQ(h.link().written.size(), 3u);

    // A name found only in the script directory is opened there, joined
    // with the system's separator.
    setScriptDirectory(folder.path().string());
    h.host.clear();
    EXPECT_EQ(sendFile({Value("empty.bin")}).state, Passed);
    EXPECT_EQ(h.lines(LogLevel::Trace).at(1), "File " + folder.joined("empty.bin") + " opened");

    h.link().acceptWrites = false;
    h.host.clear();
    EXPECT_EQ(sendFile({Value("part%d.bin"), Value(3)}).state, Failed);
    EXPECT_EQ(h.lines(LogLevel::Error), Lines{"Failed to send to serial line"});
    h.link().acceptWrites = true;
    h.link().reportTransmitted = false;
    h.host.clear();
    EXPECT_EQ(sendFile({Value(1), Value("part3.bin")}).state, Failed);
    EXPECT_TRUE(h.lines(LogLevel::Error).empty());
}

TEST_F(SerialFiles, MissingFilesAreNamedWhereTheyWereLookedFor) {
    setScriptDirectory(folder.path().string());
    const std::string missing = folder.joined("missing.bin");
    for (const ULONG action : {SendFile, CompareFile}) {
        h.host.clear();
        EXPECT_EQ(h.execute(action, {Value(1), Value("missing.bin")}).state, Error);
        EXPECT_EQ(h.lines(LogLevel::Error), Lines{"Could not file file " + missing});
        // No name at all names the script directory, which is no file.
        EXPECT_EQ(h.execute(action, {Value(1)}).state, Error);
    }
}

TEST_F(SerialFiles, CompareFileConsumesExactlyTheBytesItCompared) {
    folder.write("abc.txt", "abc");
    h.link().receive("ab");
    h.link().receive("cd");
    EXPECT_EQ(compareFile({Value(2), Value(folder.name("abc.txt"))}).state, Passed);
    EXPECT_EQ(h.peekWithin(1), 'd'); // left for the next action

    // Mismatch positions count from 0 across blocks and chunks; the
    // differing byte is consumed, the rest stays.
    const std::string big = patterned(3000);
    folder.write("big.bin", big);
    for (const auto& [badAt, chunk] : {std::pair<std::size_t, std::size_t>{1, 3000}, {1500, 700}, {2047, 1024}}) {
        ASSERT_EQ(h.execute(ClearReceiveQueue).state, Passed);
        std::string received = big;
        received[badAt] = '\xff';
        for (std::size_t at = 0; at < received.size(); at += chunk) h.link().receive(received.substr(at, chunk));
        h.host.clear();
        EXPECT_EQ(compareFile({Value(2), Value(folder.name("big.bin"))}).state, Failed);
        EXPECT_EQ(h.lines(LogLevel::Error), Lines{"Unexpected char received at file position " + std::to_string(badAt)});
        EXPECT_EQ(h.peekWithin(1), static_cast<std::uint8_t>(big[badAt + 1]));
    }

    // Nothing received: the empty wait reads as 0, which differs from 'a'.
    ASSERT_EQ(h.execute(ClearReceiveQueue).state, Passed);
    h.host.clear();
    EXPECT_EQ(compareFile({Value(1), Value(folder.name("abc.txt"))}).state, Failed);
    EXPECT_EQ(h.lines(LogLevel::Error), Lines{"Unexpected char received at file position 0"});
}

TEST(SerialFilesOverLoopBack, SendFileThenCompareFileRoundTrip) {
    TempFolder folder;
    // Past several reads of the file and long enough for the queued echo to
    // grow into the large blocks of a long backlog.
    folder.write("round.bin", patterned((std::size_t{5} << 20) + 70000));
    SerialHarness h;
    ASSERT_TRUE(h.create({Value("loopback")}));
    ASSERT_EQ(h.execute(Open).state, Passed);
    ASSERT_EQ(h.execute(LogData, {Value::boolean(false)}).state, Passed);
    EXPECT_EQ(h.execute(SendFile, {Value(5), Value(folder.name("round.bin"))}).state, Passed);
    EXPECT_EQ(h.execute(CompareFile, {Value(5), Value(folder.name("round.bin"))}).state, Passed);
}

class SerialLogFile : public SerialFiles {
protected:
    Outcome start(std::vector<Value> parameters) { return h.execute(StartLoggingToFile, parameters); }
    Outcome stop() { return h.execute(StopLoggingToFile); }
};

TEST_F(SerialLogFile, BinaryAndTextModes) {
    EXPECT_EQ(start({Value(folder.name("raw.bin"))}).state, Passed);
    h.link().receive("A\r\nB<\x00\xff"s);
    EXPECT_EQ(stop().state, Passed);
    EXPECT_EQ(folder.read("raw.bin"), "A\r\nB<\x00\xff"s);

    // Text mode: the bool follows the format's values.
    EXPECT_EQ(start({Value(folder.name("text%d.log")), Value(2), Value::boolean(true)}).state, Passed);
    EXPECT_TRUE(h.host.contains("Input will be logged to " + folder.name("text2.log") + " in Text mode"));
    for (const char* chunk : {"OK\r\n", "A<B", "\nX\r", "\n", "\a\xff\n\r\r\n"}) h.link().receive(chunk);
    // Each line end is flushed, and the file can be read while it is attached.
    const std::string end(platform::lineEnd);
    const std::string expected = "OK" + end + "A<3c>B" + end + "X" + end + end + "<07><ff>" + end + end;
    EXPECT_EQ(folder.read("text2.log"), expected);
    EXPECT_EQ(stop().state, Passed);
    EXPECT_EQ(folder.read("text2.log"), expected);

    // Anything but a bool after the values is ignored.
    EXPECT_EQ(start({Value(folder.name("plain.bin")), Value(5)}).state, Passed);
    EXPECT_TRUE(h.host.contains("Input will be logged to " + folder.name("plain.bin") + " in Binary mode"));
}

TEST_F(SerialLogFile, StartingAgainEndsThePreviousFileAndBadStartsLeaveLoggingOff) {
    EXPECT_EQ(stop().state, Passed); // nothing attached
    ASSERT_EQ(start({Value(folder.name("first.bin"))}).state, Passed);
    h.link().receive("1");
    ASSERT_EQ(start({Value(folder.name("second.bin"))}).state, Passed);
    // Sunk data is still logged.
    ASSERT_EQ(h.execute(SinkData, {Value::boolean(true)}).state, Passed);
    h.link().receive("2");
    h.host.clear();
    EXPECT_EQ(start({Value(7)}).state, Error);
    EXPECT_EQ(h.lines(LogLevel::Error), Lines{"Parameters to StartLoggingToFile incorrect"});
    h.link().receive("3");
    EXPECT_EQ(folder.read("first.bin"), "1");
    EXPECT_EQ(folder.read("second.bin"), "2");

    const std::string nowhere = folder.name("no-such-folder/x.log");
    h.host.clear();
    EXPECT_EQ(start({Value(nowhere)}).state, Failed);
    EXPECT_EQ(h.lines(LogLevel::Error), Lines{"Error creating logfile" + nowhere});
    EXPECT_EQ(start({}).state, Error);
    EXPECT_EQ(h.execute(Send, {Value("still usable")}).state, Passed);
}

TEST_F(SerialLogFile, DetachingPausesAtItsRealLength) {
    ASSERT_EQ(start({Value(folder.name("paused.bin"))}).state, Passed);
    const FullPauses fullPauses;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(stop().state, Passed);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(95));
}

} // namespace
