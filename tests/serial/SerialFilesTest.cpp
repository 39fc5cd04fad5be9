// The serial tester's file actions and received-data log file, with real
// files in a temporary folder, over a scripted link and the loop-back link.
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
    TempFolder folder;
};

TEST_F(SerialFiles, SendFileStreamsBlocksAndFailsWhenTheLinkRefusesOne) {
    folder.write("part3.bin", patterned(2500));
    folder.write("empty.bin", "");
    EXPECT_EQ(h.execute(SendFile, {Value(2), Value(folder.name("part%d.bin")), Value(3)}).state, Passed);
    std::vector<std::size_t> blocks;
    for (const Bytes& block : h.link().written) blocks.push_back(block.size());
    EXPECT_EQ(blocks, (std::vector<std::size_t>{1024, 1024, 452}));
    EXPECT_EQ(h.link().writtenText(), patterned(2500));

    EXPECT_EQ(h.execute(SendFile, {Value(folder.name("empty.bin"))}).state, Passed);
    EXPECT_EQ(h.link().written.size(), 3u);
    h.link().acceptWrites = false;
    EXPECT_EQ(h.run(SendFile, {Value(folder.name("part%d.bin")), Value(3)}), Failed);
    EXPECT_EQ(h.lines(LogLevel::Error), Lines{"Failed to send to serial line"});
}

TEST_F(SerialFiles, MissingFilesAreNamedWhereTheyWereLookedFor) {
    const Bstr directory(platform::bstrFromNarrow(folder.path().string()));
    ASSERT_EQ(h.tester->SetScriptDirectory(directory.get()), S_OK);
    const std::string missing = folder.joined("missing.bin");
    for (const ULONG action : {SendFile, CompareFile}) {
        EXPECT_EQ(h.run(action, {Value(1), Value("missing.bin")}), Error);
        EXPECT_EQ(h.lines(LogLevel::Error), Lines{"Could not file file " + missing});
        // No name at all names the script directory, which is no file.
        EXPECT_EQ(h.execute(action, {Value(1)}).state, Error);
    }
}

TEST_F(SerialFiles, CompareFileConsumesExactlyTheBytesItCompared) {
    folder.write("abc.txt", "abc");
    h.link().receive("ab");
    h.link().receive("cd");
    EXPECT_EQ(h.execute(CompareFile, {Value(2), Value(folder.name("abc.txt"))}).state, Passed);
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
        EXPECT_EQ(h.run(CompareFile, {Value(2), Value(folder.name("big.bin"))}), Failed);
        EXPECT_EQ(h.lines(LogLevel::Error), Lines{"Unexpected char received at file position " + std::to_string(badAt)});
        EXPECT_EQ(h.peekWithin(1), static_cast<std::uint8_t>(big[badAt + 1]));
    }

    // Nothing received: the empty wait reads as 0, which differs from 'a'.
    ASSERT_EQ(h.execute(ClearReceiveQueue).state, Passed);
    EXPECT_EQ(h.run(CompareFile, {Value(1), Value(folder.name("abc.txt"))}), Failed);
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

// Text mode: the bool follows the format's values. (Binary mode: examples/files.varnel.)
TEST_F(SerialFiles, TextModeWritesOneLineEndPerLineBreak) {
    EXPECT_EQ(h.execute(StartLoggingToFile, {Value(folder.name("text%d.log")), Value(2), Value::boolean(true)}).state, Passed);
    EXPECT_TRUE(h.host.contains("Input will be logged to " + folder.name("text2.log") + " in Text mode"));
    for (const char* chunk : {"OK\r\n", "A<B", "\nX\r", "\n", "\a\xff\n\r\r\n"}) h.link().receive(chunk);
    // Each line end is flushed, and the file can be read while it is attached.
    const std::string end(platform::lineEnd);
    const std::string expected = "OK" + end + "A<3c>B" + end + "X" + end + end + "<07><ff>" + end + end;
    EXPECT_EQ(folder.read("text2.log"), expected);
    EXPECT_EQ(h.execute(StopLoggingToFile).state, Passed);
    EXPECT_EQ(folder.read("text2.log"), expected);
}

TEST_F(SerialFiles, StartingAgainEndsThePreviousFileAndBadStartsLeaveLoggingOff) {
    EXPECT_EQ(h.execute(StopLoggingToFile).state, Passed); // nothing attached
    ASSERT_EQ(h.execute(StartLoggingToFile, {Value(folder.name("first.bin"))}).state, Passed);
    h.link().receive("1\0<\xff"s); // copied unchanged
    ASSERT_EQ(h.execute(StartLoggingToFile, {Value(folder.name("second.bin"))}).state, Passed);
    // Sunk data is still logged.
    ASSERT_EQ(h.execute(SinkData, {Value::boolean(true)}).state, Passed);
    h.link().receive("2");
    EXPECT_EQ(h.run(StartLoggingToFile, {Value(7)}), Error);
    EXPECT_EQ(h.lines(LogLevel::Error), Lines{"Parameters to StartLoggingToFile incorrect"});
    h.link().receive("3");
    EXPECT_EQ(folder.read("first.bin"), "1\0<\xff"s);
    EXPECT_EQ(folder.read("second.bin"), "2");

    const std::string nowhere = folder.name("no-such-folder/x.log");
    EXPECT_EQ(h.run(StartLoggingToFile, {Value(nowhere)}), Failed);
    EXPECT_EQ(h.lines(LogLevel::Error), Lines{"Error creating logfile" + nowhere});
    EXPECT_EQ(h.execute(StartLoggingToFile).state, Error);
    EXPECT_EQ(h.execute(Send, {Value("still usable")}).state, Passed);
}

TEST_F(SerialFiles, DetachingPausesAtItsRealLength) {
    ASSERT_EQ(h.execute(StartLoggingToFile, {Value(folder.name("paused.bin"))}).state, Passed);
    const FullPauses fullPauses;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(h.execute(StopLoggingToFile).state, Passed);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(95));
}

} // namespace
