// libFuzzer target for the filter's MIDI event queue: the input is a script of raw short messages
// with their times, interleaved with the streaming thread's prepare/retire calls, flushes and
// track settings. The queue must stay sorted and bounded, hand out exactly the events of each
// piece in arrival order within one time, retire what has passed, drop only when full and keep
// its notes consistent.

#include "dx/midi/MidiEventQueue.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>

namespace {

using pellucer::dx::MidiEvent;
using pellucer::dx::MidiEventQueue;
using pellucer::dx::MidiEventType;

void check(bool condition) {
    if (!condition)
        std::abort();
}

void checkQueue(const MidiEventQueue& queue) {
    const auto events = queue.events();
    check(queue.size() <= queue.capacity() && events.size() == queue.size());
    for (size_t i = 0; i < events.size(); ++i) {
        const MidiEvent& e = events[i];
        check(e.channel < 16 && e.data1 < 128 && e.data2 < 128 && e.type <= MidiEventType::PitchWheel);
        check(e.pitchWheel >= -8192 && e.pitchWheel <= 8191 && (e.type == MidiEventType::PitchWheel || e.pitchWheel == 0));
        check(i == 0 || events[i - 1].sampleTime <= e.sampleTime);
    }
    check(queue.trackedNotes().size() <= MidiEventQueue::kMaxTrackedNotes);
    for (const auto& note : queue.trackedNotes())
        check(note.channel < 16 && note.key < 128 && note.velocity > 0 && note.startTime <= note.endTime &&
              queue.findNote(note.channel, note.key) == &note);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using Result = MidiEventQueue::InsertResult;
    FuzzedDataProvider in(data, size);
    const auto byte = [&] { return in.ConsumeIntegral<uint8_t>(); };
    const auto word = [&] { return in.ConsumeIntegral<uint32_t>(); };
    MidiEventQueue queue(1 + byte() % 64); // small, so that the capacity policy is reached often
    int64_t position = 0;                   // times stay near a moving position most of the time
    while (in.remaining_bytes() > 0) {
        const uint8_t op = byte();
        if (op % 6 < 2) { // a raw message near the position
            const auto message = word();
            const int64_t time = position + static_cast<int8_t>(byte()) * 16;
            const size_t before = queue.size();
            const uint64_t droppedBefore = queue.droppedCount();
            MidiEvent event;
            const bool parsed = MidiEventQueue::parseShortMessage(message, time, event);
            const Result result = queue.insertShortMessage(message, time);
            check(parsed == (result != Result::Skipped));
            check(queue.size() == before + (result == Result::Queued ? 1 : 0));
            check((result == Result::Dropped) == (queue.droppedCount() == droppedBefore + 1));
            check(result != Result::Dropped || before == queue.capacity());
            // The pitch wheel's 14 bits, low 7 in the first data byte; read from the raw message.
            check(!parsed || event.type != MidiEventType::PitchWheel ||
                  event.pitchWheel == static_cast<int>((message >> 9 & 0x3F80) | (message >> 8 & 0x7F)) - 8192);
            // Events of one time keep their arrival order (a note-off before the next note-on):
            // the new one is the last of its time.
            if (result == Result::Queued) {
                const auto events = queue.events();
                size_t next = 0;
                while (next < events.size() && events[next].sampleTime <= time)
                    ++next;
                check(next > 0 && events[next - 1].type == event.type && events[next - 1].data1 == event.data1 &&
                      events[next - 1].data2 == event.data2 && events[next - 1].channel == event.channel);
            }
        } else if (op % 6 == 2) { // a raw message at any time
            const auto message = word();
            queue.insertShortMessage(message, in.ConsumeIntegral<int64_t>());
        } else if (op % 6 == 3) { // one processed piece
            const int64_t count = static_cast<int64_t>(byte()) * 8 - 64;
            const auto piece = queue.prepare(position, count);
            size_t inRange = 0;
            for (const MidiEvent& event : queue.events())
                inRange += count > 0 && event.sampleTime >= position && event.sampleTime - position < count;
            check(piece.size() == inRange);
            for (size_t i = 0; i < piece.size(); ++i)
                check(piece[i].sampleTime >= (i == 0 ? position : piece[i - 1].sampleTime) &&
                      piece[i].sampleTime - position < count);
            if (count > 0) {
                queue.retire(position += count);
                for (const MidiEvent& event : queue.events())
                    check(event.sampleTime >= position);
                for (const auto& note : queue.trackedNotes())
                    check(note.endTime >= position);
            }
        } else if (op % 6 == 4) { // a piece anywhere, then a retire anywhere
            queue.prepare(in.ConsumeIntegral<int64_t>(), in.ConsumeIntegral<int64_t>());
            queue.retire(in.ConsumeIntegral<int64_t>());
        } else if (op & 0x80) {
            queue.flush();
            check(queue.size() == 0 && queue.trackedNotes().empty());
        } else {
            const int channel = static_cast<int8_t>(byte()), setting = static_cast<int8_t>(byte());
            const auto value = static_cast<int32_t>(word());
            const bool valid = channel >= 0 && channel < 16 && setting >= 0 && setting < 6;
            check(queue.setTrackSetting(channel, setting, value) == valid);
            check(queue.trackSetting(channel, setting) == (valid ? value : 0));
        }
        checkQueue(queue);
    }
    return 0;
}
