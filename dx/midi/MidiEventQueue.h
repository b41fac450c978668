#pragma once

// The MIDI that a sequencer host streams to the DirectX filter: events kept in time order,
// handed out per processed piece of a buffer, the notes they start tracked until they end, and
// the per-channel track settings. The effect has no MIDI-driven parameters, so nothing here
// reaches the effect: the queue only keeps the stream in order and bounded.
//
// Plain C++ with no Windows headers, tested natively and fuzzed.
//
// Threads: the filter guards the queue with its filter lock. Insertion and the track settings
// come from the host's sequencer thread; prepare() and retire() run on the streaming thread
// inside Receive; flush() comes with the sequencer's start and stop. Nothing here allocates after
// construction: the event store and the note list are reserved in the constructor, and an event
// that does not fit is dropped (see insert()).

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

namespace pellucer::dx {

/// What a channel message does. A note-on with velocity 0 arrives as NoteOff.
enum class MidiEventType : uint8_t {
    NoteOff,
    NoteOn,
    KeyAftertouch,
    Controller,
    ProgramChange,
    ChannelAftertouch,
    PitchWheel,
};

/// One channel message at a sample time.
struct MidiEvent {
    /// Sample frames relative to the sequencer's start position.
    int64_t sampleTime = 0;
    MidiEventType type = MidiEventType::NoteOff;
    /// 0..15, the low nibble of the status byte.
    uint8_t channel = 0;
    /// Key (notes, key aftertouch), controller number, program or pressure (channel aftertouch);
    /// the low 7 bits of the pitch wheel value. Always 0..127.
    uint8_t data1 = 0;
    /// Velocity, controller value or key pressure; the high 7 bits of the pitch wheel value;
    /// 0 for program change and channel aftertouch. Always 0..127.
    uint8_t data2 = 0;
    /// Pitch wheel only: the 14-bit value minus 8192, so -8192..8191 with 0 at rest; else 0.
    int16_t pitchWheel = 0;
};
static_assert(sizeof(MidiEvent) == 16);

/// A note between its note-on and the note-off that ends it.
struct TrackedNote {
    static constexpr int64_t kSounding = std::numeric_limits<int64_t>::max();

    int64_t startTime = 0;       ///< sample time of the note-on
    int64_t endTime = kSounding; ///< sample time of the note-off; kSounding until one is seen
    uint8_t channel = 0;
    uint8_t key = 0;
    uint8_t velocity = 0;
};

class MidiEventQueue {
public:
    /// Events the filter's queue holds at once: more than a second of dense controller data on
    /// all 16 channels, in a store of 64 kB (16 bytes an event).
    static constexpr size_t kDefaultCapacity = 4096;
    static constexpr int kChannels = 16;
    static constexpr int kKeys = 128;
    /// Per-channel track settings, numbered 0..5.
    static constexpr int kTrackSettings = 6;
    /// At most one tracked note per channel and key: a repeated note-on restarts it.
    static constexpr size_t kMaxTrackedNotes = static_cast<size_t>(kChannels) * kKeys;

    /// How insertShortMessage() treated a message.
    enum class InsertResult { Queued, Skipped, Dropped };

    /// Reserves room for `capacity` events and every possible tracked note (may throw
    /// std::bad_alloc; nothing allocates afterwards).
    explicit MidiEventQueue(size_t capacity = kDefaultCapacity);
    MidiEventQueue(const MidiEventQueue&) = delete;
    MidiEventQueue& operator=(const MidiEventQueue&) = delete;

    /// Converts a raw short message packed as the host hands it (status in the low byte, then
    /// the first and second data byte) into an event at `sampleTime`. Channel messages only:
    /// a status byte without its top bit (a data byte or running status) and the system
    /// messages 0xF0..0xFF give false. Data bytes are taken modulo 128 (their top bit cleared),
    /// so a malformed message still yields an event within the MIDI ranges; the highest byte of
    /// the word is ignored.
    static bool parseShortMessage(uint32_t message, int64_t sampleTime, MidiEvent& event);

    /// Inserts an event after every queued event with the same or an earlier time (events of
    /// equal time keep their arrival order). When the queue is full the new event is dropped
    /// and false returned: the events already queued, which the streaming thread may be
    /// handing out, are never disturbed. An event whose type is none of MidiEventType's is
    /// refused as well. Out-of-range fields are brought into the MIDI ranges: channel and data
    /// bytes keep their low 4 and 7 bits, the pitch wheel value is clamped to -8192..8191.
    bool insert(const MidiEvent& event);
    /// parseShortMessage() followed by insert().
    InsertResult insertShortMessage(uint32_t message, int64_t sampleTime);

    /// The queued events with a time in [from, from + count), in time order, as a view into the
    /// queue that stays valid until the next insert, retire or flush. Note-ons and note-offs in
    /// that range that this call has not already seen update the tracked notes. count <= 0 gives
    /// an empty view.
    std::span<const MidiEvent> prepare(int64_t from, int64_t count);
    /// Removes every event with a time before `upTo`, and every tracked note that ended before
    /// it. Events that arrived too late to be prepared go the same way.
    void retire(int64_t upTo);
    /// Empties the queue and the tracked notes (sequencer start and stop). Track settings stay.
    void flush();

    /// Stores a per-channel track setting; false (and nothing stored) for a channel outside
    /// 0..15 or a setting outside 0..5.
    bool setTrackSetting(int channel, int setting, int32_t value);
    /// A stored track setting; 0 when never set, cleared, or outside the ranges.
    int32_t trackSetting(int channel, int setting) const;
    /// Sets every track setting of every channel back to 0.
    void clearTrackSettings();

    /// Every queued event in time order.
    std::span<const MidiEvent> events() const { return {events_.data() + begin_, end_ - begin_}; }
    size_t size() const { return end_ - begin_; }
    size_t capacity() const { return events_.size(); }
    /// Events refused because the queue was full, since construction.
    uint64_t droppedCount() const { return dropped_; }

    /// The notes started and not yet retired, in the order their note-ons were prepared.
    std::span<const TrackedNote> trackedNotes() const { return notes_; }
    /// The tracked note of that channel and key, or null.
    const TrackedNote* findNote(int channel, int key) const;

private:
    void track(const MidiEvent& event);

    // The queued events are events_[begin_, end_), sorted by time. retire() only moves begin_;
    // insert() moves the live range back to the front when it reaches the end of the store.
    std::vector<MidiEvent> events_;
    size_t begin_ = 0;
    size_t end_ = 0;
    // Events before this time have been through track(); keeps a piece from being tracked twice.
    int64_t trackedUpTo_ = std::numeric_limits<int64_t>::min();
    std::vector<TrackedNote> notes_;
    std::array<std::array<int32_t, kTrackSettings>, kChannels> trackSettings_{};
    uint64_t dropped_ = 0;
};

} // namespace pellucer::dx
