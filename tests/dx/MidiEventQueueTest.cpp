#include "dx/midi/MidiEventQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

namespace pellucer::dx {
namespace {

/// A short message packed as the host hands it: status in the low byte.
constexpr uint32_t pack(uint32_t status, uint32_t data1 = 0, uint32_t data2 = 0) {
    return status | (data1 << 8) | (data2 << 16);
}

MidiEvent controller(int64_t time, uint8_t number, uint8_t value = 0) {
    MidiEvent event;
    event.sampleTime = time;
    event.type = MidiEventType::Controller;
    event.data1 = number;
    event.data2 = value;
    return event;
}

// Channel messages by their published byte layout, data bytes masked to seven bits; system
// messages and data bytes in the status position are skipped.
TEST(MidiEventQueue, ParsesShortMessagesByTheirByteLayout) {
    using T = MidiEventType;
    const std::tuple<uint32_t, T, int, int, int, int> cases[] = {
        {pack(0x80, 60, 64), T::NoteOff, 0, 60, 64, 0},
        {pack(0x93, 61, 100), T::NoteOn, 3, 61, 100, 0},
        {pack(0x9F, 62, 0), T::NoteOff, 15, 62, 0, 0}, // velocity 0 ends the note
        {pack(0x90, 60, 0x80), T::NoteOff, 0, 60, 0, 0},
        {0xAB000000u | pack(0x90, 0xBC, 0xFF), T::NoteOn, 0, 0x3C, 0x7F, 0},
        {pack(0xA1, 63, 20), T::KeyAftertouch, 1, 63, 20, 0},
        {pack(0xB2, 64, 127), T::Controller, 2, 64, 127, 0},
        {pack(0xC4, 5, 99), T::ProgramChange, 4, 5, 0, 0}, // one data byte only
        {pack(0xD5, 90, 99), T::ChannelAftertouch, 5, 90, 0, 0},
        {pack(0xE0, 0x00, 0x40), T::PitchWheel, 0, 0x00, 0x40, 0}, // 0x2000 is the wheel at rest
        {pack(0xE0, 0x00, 0x00), T::PitchWheel, 0, 0x00, 0x00, -8192},
        {pack(0xE7, 0x05, 0x41), T::PitchWheel, 7, 0x05, 0x41, 0x41 * 128 + 0x05 - 8192}, // LSB first
        {pack(0xE0, 0xFF, 0xFF), T::PitchWheel, 0, 0x7F, 0x7F, 8191},
    };
    for (const auto& [message, type, channel, data1, data2, wheel] : cases) {
        MidiEvent event;
        ASSERT_TRUE(MidiEventQueue::parseShortMessage(message, 77, event)) << std::hex << message;
        EXPECT_EQ(std::tuple(event.sampleTime, event.type, int{event.channel}, int{event.data1},
                             int{event.data2}, int{event.pitchWheel}),
                  std::tuple(77, type, channel, data1, data2, wheel))
            << std::hex << message;
    }
    MidiEvent event = controller(5, 1, 2);
    for (const uint32_t status : {0x00u, 0x45u, 0x7Fu, 0xF0u, 0xF8u, 0xFFu}) {
        EXPECT_FALSE(MidiEventQueue::parseShortMessage(pack(status, 60, 60), 9, event)) << status;
        EXPECT_EQ(event.sampleTime, 5);
    }
    MidiEventQueue queue(8);
    EXPECT_EQ(queue.insertShortMessage(pack(0xF2, 1, 2), 0), MidiEventQueue::InsertResult::Skipped);
    EXPECT_EQ(queue.size(), 0u);
}

// A full queue drops and counts the newest arrival; retiring makes room again.
TEST(MidiEventQueue, FullQueueDropsTheNewestArrival) {
    MidiEventQueue queue(4);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(queue.insert(controller(100 + i, static_cast<uint8_t>(i))));
    EXPECT_FALSE(queue.insert(controller(0, 9)));
    EXPECT_EQ(queue.insertShortMessage(pack(0xB0, 9, 9), 1), MidiEventQueue::InsertResult::Dropped);
    EXPECT_EQ(queue.droppedCount(), 2u);
    queue.retire(102);
    EXPECT_TRUE(queue.insert(controller(200, 20)));
    EXPECT_TRUE(queue.insert(controller(101, 21)));
    EXPECT_FALSE(queue.insert(controller(300, 22)));
    std::vector<int> numbers;
    for (const MidiEvent& event : queue.events())
        numbers.push_back(event.data1);
    EXPECT_EQ(numbers, (std::vector<int>{21, 2, 3, 20}));
}

// Inserting ahead of the stream, preparing and retiring random pieces: each piece holds what a
// stably sorted copy of everything inserted holds, equal times in arrival order.
TEST(MidiEventQueue, StaysOrderedThroughLongRandomStreaming) {
    std::mt19937 random(1234);
    MidiEventQueue queue(256);
    std::vector<std::pair<int64_t, int>> reference;
    int serial = 0;
    int64_t position = 0;
    for (int round = 0; round < 2000; ++round) {
        for (int i = static_cast<int>(random() % 4); i > 0; --i, ++serial) {
            const int64_t time = position + static_cast<int64_t>(random() % 3000);
            MidiEvent event = controller(time, static_cast<uint8_t>(serial & 0x7F),
                                         static_cast<uint8_t>(serial >> 7 & 0x7F));
            if (queue.insert(event))
                reference.emplace_back(time, serial);
        }
        std::stable_sort(reference.begin(), reference.end(),
                         [](auto& a, auto& b) { return a.first < b.first; });
        const int64_t count = 1 + static_cast<int64_t>(random() % 512);
        std::vector<std::pair<int64_t, int>> expected, actual;
        for (const auto& entry : reference)
            if (entry.first >= position && entry.first < position + count)
                expected.push_back(entry);
        for (const MidiEvent& event : queue.prepare(position, count))
            actual.emplace_back(event.sampleTime, event.data1 | (event.data2 << 7));
        ASSERT_EQ(actual, expected) << "round " << round;
        position += count;
        queue.retire(position);
        std::erase_if(reference, [&](const auto& entry) { return entry.first < position; });
        ASSERT_EQ(queue.size(), reference.size());
    }
}

} // namespace
} // namespace pellucer::dx
