// Random streams cut at random places, with fixed seeds: whatever the
// chunking, packet reassembly and the encrypted-block splitter deliver
// exactly the messages that were framed, drop malformed input as promised,
// and never read outside a chunk (the sanitizer build checks that).
#include "links/PacketSerial.h"

#include "LinkTestSupport.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <set>

namespace {

class Random {
public:
    explicit Random(std::uint32_t seed) : engine_(seed) {}
    // From lo to hi, both included; the same sequence on every platform.
    std::uint32_t between(std::uint32_t lo, std::uint32_t hi) {
        return lo + static_cast<std::uint32_t>(engine_() % (std::uint64_t{hi} - lo + 1));
    }
    bool chance(std::uint32_t percent) { return between(1, 100) <= percent; }
    Bytes bytes(std::size_t count) {
        Bytes out(count);
        for (auto& value : out) value = static_cast<std::uint8_t>(engine_());
        return out;
    }

private:
    std::mt19937 engine_;
};

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t to) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

std::uint32_t randomPayloadLength(Random& random) {
    const std::uint32_t pick = random.between(1, 100);
    if (pick <= 10) return 0;
    if (pick <= 97) return random.between(1, 64);
    if (pick <= 99) return random.between(1000, 5000);
    return random.between(PacketSerial::maxPayload - 10, PacketSerial::maxPayload);
}

} // namespace

TEST(Property, PacketReassemblyUnderRandomChunking) {
    RecordingClient client;
    ScriptedLink* inner = nullptr;
    PacketSerial packet(&client, [&inner](ISerialClient* innerClient) {
        auto link = std::make_unique<ScriptedLink>(innerClient);
        inner = link.get();
        return link;
    });
    Random random(20240611);

    for (int round = 0; round < 3000; ++round) {
        // Valid frames and, now and then, a length over the limit followed by
        // junk. Such a frame drops the rest of the chunk in which its length
        // field ends, so that chunk must end exactly where the junk ends.
        Bytes stream;
        std::vector<Bytes> expected;
        std::set<std::size_t> cuts;
        std::vector<std::pair<std::size_t, std::size_t>> uncut; // no cut from .. to - 1
        for (std::uint32_t unit = random.between(1, 12); unit > 0; --unit) {
            if (random.chance(8)) {
                const Bytes bad = concat({withLength(random.between(PacketSerial::maxPayload + 1, UINT32_MAX), {}),
                                          random.bytes(random.between(0, 40))});
                uncut.emplace_back(stream.size() + 4, stream.size() + bad.size());
                stream.insert(stream.end(), bad.begin(), bad.end());
                cuts.insert(stream.size());
            } else {
                expected.push_back(random.bytes(randomPayloadLength(random)));
                const Bytes frame = withLength(expected.back());
                stream.insert(stream.end(), frame.begin(), frame.end());
            }
        }
        // Mostly short chunks, so that cuts often fall inside length fields.
        const std::uint32_t longest = random.chance(30) ? 3 : random.chance(50) ? 20 : 3000;
        for (std::size_t at = random.between(1, longest); at < stream.size(); at += random.between(1, longest))
            cuts.insert(at);
        for (const auto& [from, to] : uncut) cuts.erase(cuts.lower_bound(from), cuts.lower_bound(to));
        cuts.insert(stream.size());
        std::size_t start = 0;
        for (const std::size_t cut : cuts) {
            inner->feed(slice(stream, start, cut));
            start = cut;
        }
        ASSERT_EQ(client.received(), expected) << "round " << round;
    }

    // Noise: anything may come out, but never more than went in, and never
    // a payload over the limit.
    std::size_t fed = 0;
    std::size_t used = 0;
    for (int round = 0; round < 2000; ++round) {
        const Bytes noise = random.bytes(random.between(0, 200));
        // A small length field now and then, so that some frames complete.
        const Bytes chunk = random.chance(50) ? concat({withLength(random.between(0, 150), {}), noise}) : noise;
        inner->feed(chunk);
        fed += chunk.size();
        for (const Bytes& payload : client.received()) {
            EXPECT_LE(payload.size(), PacketSerial::maxPayload);
            used += payload.size() + 4;
        }
    }
    EXPECT_LE(used, fed);
}

TEST(Property, EncryptedBlocksUnderRandomChunks) {
    RecordingClient client;
    ScriptedLink link(&client);
    setKey(link, "property");
    Random random(7);
    // A pool of messages and their blocks, so that the time goes into the
    // splitter rather than into making blocks.
    std::vector<Bytes> messages;
    std::vector<Bytes> blocks;
    const Encrypt encryptor = encryptorFor("property");
    for (int i = 0; i < 64; ++i) {
        messages.push_back(random.bytes(i % 9 == 0 ? 0 : random.between(1, 300)));
        blocks.push_back(encryptedBlock(encryptor, messages.back()));
    }
    const auto anyBlock = [&] { return random.between(0, static_cast<std::uint32_t>(blocks.size() - 1)); };

    // Each block costs a full key set-up, which under Wine goes through the
    // registry: a thousand chunks keep the test quick there.
    for (int round = 0; round < 1000; ++round) {
        // Whole blocks, then a tail that is none: nothing, up to 4 bytes, or
        // a block cut short. A block is read while more than 4 bytes remain
        // from its start, and the tail is dropped.
        Bytes chunk;
        std::vector<Bytes> expected;
        std::optional<std::size_t> lastStart; // where the last whole block starts
        for (std::uint32_t count = random.between(0, 5); count > 0; --count) {
            const std::size_t pick = anyBlock();
            lastStart = chunk.size();
            expected.push_back(messages[pick]);
            chunk.insert(chunk.end(), blocks[pick].begin(), blocks[pick].end());
        }
        const std::uint32_t tail = random.between(0, 2);
        const Bytes& cutShort = blocks[anyBlock()];
        const Bytes rest = tail == 1 ? random.bytes(random.between(1, 4))
                           : tail == 2 && cutShort.size() > 4
                               ? slice(cutShort, 0, random.between(4, static_cast<std::uint32_t>(cutShort.size() - 1)))
                               : Bytes{};
        chunk.insert(chunk.end(), rest.begin(), rest.end());
        // Only an empty last block can end up with 4 bytes or fewer left.
        if (lastStart && chunk.size() - *lastStart <= 4) expected.pop_back();
        link.feed(chunk);
        ASSERT_EQ(client.received(), expected) << "round " << round;
    }

    // Noise: every delivered message fits, with its length field, in its chunk.
    for (int round = 0; round < 1500; ++round) {
        Bytes chunk = random.bytes(random.between(0, 64));
        if (chunk.size() >= 4 && random.chance(70)) chunk[0] = chunk[1] = chunk[2] = 0;
        link.feed(chunk);
        std::size_t used = 0;
        for (const Bytes& message : client.received()) used += message.size() + 4;
        EXPECT_LE(used, chunk.size()) << "round " << round;
    }
}
