// libFuzzer target for the filter's MIDI event queue: the input is read as a script of raw short
// messages with their times, interleaved with the streaming thread's prepare/retire calls, flushes
// and track settings. Whatever the bytes, the queue must stay sorted and bounded, hand out exactly
// the events of each piece, retire what has passed and keep its notes consistent.

#include "dx/midi/MidiEventQueue.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

using pellucer::dx::MidiEvent;
using pellucer::dx::MidiEventQueue;
using pellucer::dx::MidiEventType;
using pellucer::dx::TrackedNote;

void check(bool condition) {
    if (!condition)
        std::abort();
}

/// Reads the script; missing bytes read as 0.
struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    bool done() const { return at >= size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
    uint32_t word() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= static_cast<uint32_t>(byte()) << (8 * i);
        return value;
    }
    int64_t wide() {
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i)
            value |= static_cast<uint64_t>(byte()) << (8 * i);
        int64_t result;
        std::memcpy(&result, &value, sizeof result);
        return result;
    }
};

void checkQueue(const MidiEventQueue& queue) {
    check(queue.size() <= queue.capacity());
    const auto events = queue.events();
    check(events.size() == queue.size());
    for (size_t i = 0; i < events.size(); ++i) {
        const MidiEvent& event = events[i];
        check(event.channel < 16 && event.data1 < 128 && event.data2 < 128);
        check(event.type <= MidiEventType::PitchWheel);
        check(event.pitchWheel >= -8192 && event.pitchWheel <= 8191);
        check(event.type == MidiEventType::PitchWheel || event.pitchWheel == 0);
        if (i > 0)
            check(events[i - 1].sampleTime <= event.sampleTime);
    }
    const auto notes = queue.trackedNotes();
    check(notes.size() <= MidiEventQueue::kMaxTrackedNotes);
    for (size_t i = 0; i < notes.size(); ++i) {
        check(notes[i].channel < 16 && notes[i].key < 128 && notes[i].velocity > 0);
        check(notes[i].startTime <= notes[i].endTime);
        check(queue.findNote(notes[i].channel, notes[i].key) == &notes[i]);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    // A small queue so that the capacity policy is reached often.
    MidiEventQueue queue(1 + in.byte() % 64);
    // Times stay near a moving position most of the time, but any 64-bit time can appear.
    int64_t position = 0;

    while (!in.done()) {
        const uint8_t op = in.byte();
        switch (op % 6) {
        case 0:
        case 1: { // a raw message near the position
            const uint32_t message = in.word();
            const int64_t time = position + static_cast<int8_t>(in.byte()) * 16;
            const size_t before = queue.size();
            const uint64_t droppedBefore = queue.droppedCount();
            MidiEvent event;
            const bool parsed = MidiEventQueue::parseShortMessage(message, time, event);
            const auto result = queue.insertShortMessage(message, time);
            check(parsed == (result != MidiEventQueue::InsertResult::Skipped));
            if (result == MidiEventQueue::InsertResult::Queued)
                check(queue.size() == before + 1);
            else
                check(queue.size() == before);
            check((result == MidiEventQueue::InsertResult::Dropped) ==
                  (queue.droppedCount() == droppedBefore + 1));
            check(result != MidiEventQueue::InsertResult::Dropped || before == queue.capacity());
            break;
        }
        case 2: { // a raw message at any time
            const uint32_t message = in.word();
            queue.insertShortMessage(message, in.wide());
            break;
        }
        case 3: { // one processed piece
            const int64_t count = static_cast<int64_t>(in.byte()) * 8 - 64;
            const auto piece = queue.prepare(position, count);
            int64_t previous = position;
            for (const MidiEvent& event : piece) {
                check(event.sampleTime >= previous);
                check(event.sampleTime - position < count);
                previous = event.sampleTime;
            }
            size_t inRange = 0;
            for (const MidiEvent& event : queue.events())
                if (count > 0 && event.sampleTime >= position && event.sampleTime - position < count)
                    ++inRange;
            check(piece.size() == inRange);
            if (count > 0) {
                position += count;
                queue.retire(position);
                for (const MidiEvent& event : queue.events())
                    check(event.sampleTime >= position);
                for (const TrackedNote& note : queue.trackedNotes())
                    check(note.endTime >= position);
            }
            break;
        }
        case 4: // a piece anywhere, then a retire anywhere
            queue.prepare(in.wide(), in.wide());
            queue.retire(in.wide());
            break;
        default:
            if (op & 0x80) {
                queue.flush();
                check(queue.size() == 0 && queue.trackedNotes().empty());
            } else {
                const int channel = static_cast<int8_t>(in.byte());
                const int setting = static_cast<int8_t>(in.byte());
                const int32_t value = static_cast<int32_t>(in.word());
                const bool valid = channel >= 0 && channel < 16 && setting >= 0 && setting < 6;
                check(queue.setTrackSetting(channel, setting, value) == valid);
                check(queue.trackSetting(channel, setting) == (valid ? value : 0));
            }
            break;
        }
        checkQueue(queue);
    }
    return 0;
}
