// The MIDI event queue of the DirectX filter: raw short messages to events, time order, the
// pieces handed out per processing call, note tracking, retiring, flushing, the capacity policy
// and the per-channel track settings.

#include "dx/midi/MidiEventQueue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace pellucer::dx {
namespace {

/// A short message packed as the host hands it: status in the low byte.
constexpr uint32_t pack(uint32_t status, uint32_t data1 = 0, uint32_t data2 = 0) {
    return status | (data1 << 8) | (data2 << 16);
}

MidiEvent parsed(uint32_t message) {
    MidiEvent event;
    EXPECT_TRUE(MidiEventQueue::parseShortMessage(message, 77, event)) << std::hex << message;
    EXPECT_EQ(event.sampleTime, 77);
    return event;
}

MidiEvent controller(int64_t time, uint8_t number, uint8_t value = 0) {
    MidiEvent event;
    event.sampleTime = time;
    event.type = MidiEventType::Controller;
    event.data1 = number;
    event.data2 = value;
    return event;
}

TEST(MidiEventQueue, ParsesEveryChannelMessage) {
    struct Case {
        uint32_t message;
        MidiEventType type;
        uint8_t channel, data1, data2;
    };
    const Case cases[] = {
        {pack(0x80, 60, 64), MidiEventType::NoteOff, 0, 60, 64},
        {pack(0x93, 61, 100), MidiEventType::NoteOn, 3, 61, 100},
        {pack(0x9F, 62, 0), MidiEventType::NoteOff, 15, 62, 0}, // velocity 0 ends the note
        {pack(0xA1, 63, 20), MidiEventType::KeyAftertouch, 1, 63, 20},
        {pack(0xB2, 64, 127), MidiEventType::Controller, 2, 64, 127},
        {pack(0xC4, 5, 99), MidiEventType::ProgramChange, 4, 5, 0}, // one data byte only
        {pack(0xD5, 90, 99), MidiEventType::ChannelAftertouch, 5, 90, 0},
    };
    for (const Case& c : cases) {
        const MidiEvent event = parsed(c.message);
        EXPECT_EQ(event.type, c.type) << std::hex << c.message;
        EXPECT_EQ(event.channel, c.channel) << std::hex << c.message;
        EXPECT_EQ(event.data1, c.data1) << std::hex << c.message;
        EXPECT_EQ(event.data2, c.data2) << std::hex << c.message;
        EXPECT_EQ(event.pitchWheel, 0) << std::hex << c.message;
    }
}

TEST(MidiEventQueue, PitchWheelIsFourteenBitsAroundTheCentre) {
    // 0x2000 (LSB 0, MSB 0x40) is the wheel at rest.
    EXPECT_EQ(parsed(pack(0xE0, 0x00, 0x40)).pitchWheel, 0);
    EXPECT_EQ(parsed(pack(0xE0, 0x00, 0x00)).pitchWheel, -8192);
    EXPECT_EQ(parsed(pack(0xE0, 0x7F, 0x7F)).pitchWheel, 8191);
    // LSB first: 0x41 * 128 + 0x05 = 8325.
    const MidiEvent event = parsed(pack(0xE7, 0x05, 0x41));
    EXPECT_EQ(event.type, MidiEventType::PitchWheel);
    EXPECT_EQ(event.channel, 7);
    EXPECT_EQ(event.pitchWheel, 8325 - 8192);
}

TEST(MidiEventQueue, SkipsSystemMessagesAndDataBytesInTheStatusPosition) {
    MidiEvent event = controller(5, 1, 2);
    for (const uint32_t status : {0x00u, 0x45u, 0x7Fu, 0xF0u, 0xF8u, 0xFEu, 0xFFu}) {
        EXPECT_FALSE(MidiEventQueue::parseShortMessage(pack(status, 60, 60), 9, event)) << status;
        EXPECT_EQ(event.sampleTime, 5) << "a skipped message leaves the event alone";
    }
    MidiEventQueue queue(8);
    EXPECT_EQ(queue.insertShortMessage(pack(0xF2, 1, 2), 0), MidiEventQueue::InsertResult::Skipped);
    EXPECT_EQ(queue.size(), 0u);
}

TEST(MidiEventQueue, MalformedDataBytesKeepTheirLowSevenBits) {
    // Data bytes with the top bit set, and junk in the unused high byte of the word.
    const MidiEvent note = parsed(0xAB000000u | pack(0x90, 0xBC, 0xFF));
    EXPECT_EQ(note.type, MidiEventType::NoteOn);
    EXPECT_EQ(note.data1, 0x3C);
    EXPECT_EQ(note.data2, 0x7F);
    // A velocity byte of 0x80 is 0 once masked: a note-off.
    EXPECT_EQ(parsed(pack(0x90, 60, 0x80)).type, MidiEventType::NoteOff);
    EXPECT_EQ(parsed(pack(0xE0, 0xFF, 0xFF)).pitchWheel, 8191);
}

TEST(MidiEventQueue, InsertKeepsTimeOrderAndArrivalOrderForEqualTimes) {
    MidiEventQueue queue(64);
    const int64_t times[] = {50, 10, 30, 10, 70, 30, 0, 50};
    for (size_t i = 0; i < std::size(times); ++i)
        ASSERT_TRUE(queue.insert(controller(times[i], static_cast<uint8_t>(i))));

    const std::vector<std::pair<int64_t, int>> expected = {{0, 6},  {10, 1}, {10, 3}, {30, 2},
                                                           {30, 5}, {50, 0}, {50, 7}, {70, 4}};
    std::vector<std::pair<int64_t, int>> actual;
    for (const MidiEvent& event : queue.events())
        actual.emplace_back(event.sampleTime, event.data1);
    EXPECT_EQ(actual, expected);
}

TEST(MidiEventQueue, InsertBringsFieldsIntoMidiRanges) {
    MidiEventQueue queue(4);
    MidiEvent event = controller(0, 200, 255);
    event.channel = 0x1A;
    ASSERT_TRUE(queue.insert(event));
    MidiEvent wheel;
    wheel.type = MidiEventType::PitchWheel;
    wheel.pitchWheel = 12000;
    ASSERT_TRUE(queue.insert(wheel));
    MidiEvent bogus;
    bogus.type = static_cast<MidiEventType>(42);
    EXPECT_FALSE(queue.insert(bogus));

    ASSERT_EQ(queue.size(), 2u);
    EXPECT_EQ(queue.events()[0].channel, 0x0A);
    EXPECT_EQ(queue.events()[0].data1, 200 & 0x7F);
    EXPECT_EQ(queue.events()[0].data2, 0x7F);
    EXPECT_EQ(queue.events()[1].pitchWheel, 8191);
    EXPECT_EQ(queue.droppedCount(), 0u) << "an unknown type is refused, not dropped for room";
}

TEST(MidiEventQueue, PrepareHandsOutExactlyTheEventsOfThePiece) {
    MidiEventQueue queue(64);
    for (const int64_t time : {-5, 0, 99, 100, 150, 199, 200, 1000})
        ASSERT_TRUE(queue.insert(controller(time, 1)));

    const auto piece = queue.prepare(100, 100);
    std::vector<int64_t> times;
    for (const MidiEvent& event : piece)
        times.push_back(event.sampleTime);
    EXPECT_EQ(times, (std::vector<int64_t>{100, 150, 199}));
    // A view into the queue, not a copy.
    EXPECT_EQ(piece.data(), queue.events().data() + 3);

    EXPECT_TRUE(queue.prepare(100, 0).empty());
    EXPECT_TRUE(queue.prepare(100, -4).empty());
    EXPECT_TRUE(queue.prepare(1001, 50).empty());
    // The end of the range saturates instead of wrapping.
    EXPECT_EQ(queue.prepare(200, INT64_MAX).size(), 2u);
    EXPECT_EQ(queue.size(), 8u) << "prepare removes nothing";
}

TEST(MidiEventQueue, RetireRemovesPassedEventsOnly) {
    MidiEventQueue queue(64);
    for (const int64_t time : {0, 10, 20, 20, 30})
        ASSERT_TRUE(queue.insert(controller(time, 1)));
    queue.retire(20);
    ASSERT_EQ(queue.size(), 3u);
    EXPECT_EQ(queue.events().front().sampleTime, 20);
    queue.retire(20);
    EXPECT_EQ(queue.size(), 3u);
    queue.retire(31);
    EXPECT_EQ(queue.size(), 0u);
}

TEST(MidiEventQueue, TracksNotesFromNoteOnToNoteOffAndRetiresThemAfterTheirEnd) {
    MidiEventQueue queue(64);
    queue.insertShortMessage(pack(0x91, 60, 100), 10);
    queue.insertShortMessage(pack(0x91, 64, 90), 20);
    queue.insertShortMessage(pack(0x81, 60, 0), 150);
    queue.insertShortMessage(pack(0x91, 64, 0), 250); // note-on with velocity 0 ends it

    queue.prepare(0, 100);
    queue.retire(100);
    ASSERT_EQ(queue.trackedNotes().size(), 2u);
    const TrackedNote* c4 = queue.findNote(1, 60);
    ASSERT_NE(c4, nullptr);
    EXPECT_EQ(c4->startTime, 10);
    EXPECT_EQ(c4->velocity, 100);
    EXPECT_EQ(c4->endTime, TrackedNote::kSounding);
    EXPECT_EQ(queue.findNote(0, 60), nullptr) << "channels are told apart";

    // The note-off at 150 ends C4 inside this piece; the note is gone once the piece has passed.
    queue.prepare(100, 100);
    ASSERT_NE(queue.findNote(1, 60), nullptr);
    EXPECT_EQ(queue.findNote(1, 60)->endTime, 150);
    queue.retire(200);
    EXPECT_EQ(queue.findNote(1, 60), nullptr);
    ASSERT_NE(queue.findNote(1, 64), nullptr);

    queue.prepare(200, 100);
    EXPECT_EQ(queue.findNote(1, 64)->endTime, 250);
    queue.retire(300);
    EXPECT_TRUE(queue.trackedNotes().empty());
    EXPECT_EQ(queue.size(), 0u);
}

TEST(MidiEventQueue, RepeatedNoteOnRestartsAndStrayNoteOffIsIgnored) {
    MidiEventQueue queue(64);
    queue.insertShortMessage(pack(0x80, 50, 0), 5); // no note to end
    queue.insertShortMessage(pack(0x90, 50, 40), 10);
    queue.insertShortMessage(pack(0x80, 50, 0), 20);
    queue.insertShortMessage(pack(0x90, 50, 70), 30); // same key again before the retire
    queue.prepare(0, 100);
    ASSERT_EQ(queue.trackedNotes().size(), 1u);
    EXPECT_EQ(queue.trackedNotes()[0].startTime, 30);
    EXPECT_EQ(queue.trackedNotes()[0].velocity, 70);
    EXPECT_EQ(queue.trackedNotes()[0].endTime, TrackedNote::kSounding);
    queue.retire(100);
    EXPECT_EQ(queue.trackedNotes().size(), 1u) << "a sounding note outlives every retire";
}

TEST(MidiEventQueue, PreparingAPieceTwiceTracksItOnce) {
    MidiEventQueue queue(64);
    queue.insertShortMessage(pack(0x90, 60, 100), 10);
    queue.insertShortMessage(pack(0x80, 60, 0), 20);
    queue.insertShortMessage(pack(0x90, 60, 100), 30);
    queue.prepare(0, 25);
    EXPECT_EQ(queue.findNote(0, 60)->endTime, 20);
    // The overlap [0, 25) is not tracked again: the note-on at 10 must not restart the note.
    queue.prepare(0, 50);
    EXPECT_EQ(queue.findNote(0, 60)->startTime, 30);
    EXPECT_EQ(queue.findNote(0, 60)->endTime, TrackedNote::kSounding);
}

TEST(MidiEventQueue, FlushEmptiesEventsAndNotesButKeepsTrackSettings) {
    MidiEventQueue queue(64);
    queue.insertShortMessage(pack(0x90, 60, 100), 10);
    queue.insertShortMessage(pack(0xB0, 7, 100), 500);
    queue.prepare(0, 100);
    ASSERT_TRUE(queue.setTrackSetting(3, 2, -17));
    queue.flush();
    EXPECT_EQ(queue.size(), 0u);
    EXPECT_TRUE(queue.trackedNotes().empty());
    EXPECT_EQ(queue.trackSetting(3, 2), -17);

    // After a flush the timeline starts afresh: earlier times are prepared and tracked again.
    queue.insertShortMessage(pack(0x90, 62, 90), 5);
    EXPECT_EQ(queue.prepare(0, 10).size(), 1u);
    EXPECT_NE(queue.findNote(0, 62), nullptr);
}

TEST(MidiEventQueue, FullQueueDropsTheNewestArrival) {
    MidiEventQueue queue(4);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(queue.insert(controller(100 + i, static_cast<uint8_t>(i))));
    // Even an earlier event does not push out one already queued.
    EXPECT_FALSE(queue.insert(controller(0, 9)));
    EXPECT_EQ(queue.insertShortMessage(pack(0xB0, 9, 9), 1), MidiEventQueue::InsertResult::Dropped);
    EXPECT_EQ(queue.droppedCount(), 2u);
    ASSERT_EQ(queue.size(), 4u);
    EXPECT_EQ(queue.events().front().data1, 0);

    // Retiring makes room again, also when the free room is at the front of the store.
    queue.retire(102);
    EXPECT_TRUE(queue.insert(controller(200, 20)));
    EXPECT_TRUE(queue.insert(controller(101, 21))); // late, but still ordered
    EXPECT_FALSE(queue.insert(controller(300, 22)));
    std::vector<int> numbers;
    for (const MidiEvent& event : queue.events())
        numbers.push_back(event.data1);
    EXPECT_EQ(numbers, (std::vector<int>{21, 2, 3, 20}));
}

TEST(MidiEventQueue, StaysOrderedThroughLongRandomStreaming) {
    // The filter's pattern: the sequencer inserts slightly ahead of the stream while the
    // streaming thread prepares and retires pieces of random size; the reference is a sorted
    // copy of everything inserted.
    std::mt19937 random(1234);
    MidiEventQueue queue(256);
    std::vector<std::pair<int64_t, int>> reference; // (time, serial) of every queued event
    int serial = 0;
    int64_t position = 0;
    for (int round = 0; round < 2000; ++round) {
        const int inserts = static_cast<int>(random() % 4);
        for (int i = 0; i < inserts; ++i) {
            const int64_t time = position + static_cast<int64_t>(random() % 3000);
            MidiEvent event = controller(time, static_cast<uint8_t>(serial & 0x7F));
            event.data2 = static_cast<uint8_t>((serial >> 7) & 0x7F);
            if (queue.insert(event))
                reference.emplace_back(time, serial);
            ++serial;
        }
        std::stable_sort(reference.begin(), reference.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        const int64_t count = 1 + static_cast<int64_t>(random() % 512);
        const auto piece = queue.prepare(position, count);
        std::vector<std::pair<int64_t, int>> expected;
        for (const auto& entry : reference)
            if (entry.first >= position && entry.first < position + count)
                expected.push_back(entry);
        std::vector<std::pair<int64_t, int>> actual;
        for (const MidiEvent& event : piece)
            actual.emplace_back(event.sampleTime, event.data1 | (event.data2 << 7));
        ASSERT_EQ(actual, expected) << "round " << round;
        position += count;
        queue.retire(position);
        std::erase_if(reference, [&](const auto& entry) { return entry.first < position; });
        ASSERT_EQ(queue.size(), reference.size());
    }
}

TEST(MidiEventQueue, TrackSettingsPerChannelWithRangeChecks) {
    MidiEventQueue queue;
    EXPECT_EQ(queue.capacity(), MidiEventQueue::kDefaultCapacity);
    for (int channel = 0; channel < 16; ++channel)
        for (int setting = 0; setting < 6; ++setting)
            ASSERT_TRUE(queue.setTrackSetting(channel, setting, channel * 10 + setting + 1));
    EXPECT_EQ(queue.trackSetting(15, 5), 156);
    EXPECT_EQ(queue.trackSetting(4, 0), 41);

    EXPECT_FALSE(queue.setTrackSetting(16, 0, 1));
    EXPECT_FALSE(queue.setTrackSetting(-1, 0, 1));
    EXPECT_FALSE(queue.setTrackSetting(0, 6, 1));
    EXPECT_FALSE(queue.setTrackSetting(0, -1, 1));
    EXPECT_EQ(queue.trackSetting(16, 0), 0);
    EXPECT_EQ(queue.trackSetting(0, 6), 0);
    EXPECT_EQ(queue.trackSetting(0, 0), 1) << "an out-of-range write changes nothing";

    queue.clearTrackSettings();
    EXPECT_EQ(queue.trackSetting(15, 5), 0);
}

} // namespace
} // namespace pellucer::dx
