#include "dx/midi/MidiEventQueue.h"

#include <algorithm>

namespace pellucer::dx {

namespace {

// Status nibbles of the channel messages.
constexpr uint8_t kStatusNoteOff = 0x8;
constexpr uint8_t kStatusNoteOn = 0x9;
constexpr uint8_t kStatusKeyAftertouch = 0xA;
constexpr uint8_t kStatusController = 0xB;
constexpr uint8_t kStatusProgramChange = 0xC;
constexpr uint8_t kStatusChannelAftertouch = 0xD;
constexpr uint8_t kStatusPitchWheel = 0xE;

constexpr uint8_t kDataMask = 0x7F;
constexpr uint8_t kChannelMask = 0x0F;
/// The centre of the 14-bit pitch wheel range: the wheel at rest.
constexpr int kPitchWheelCentre = 0x2000;

bool earlier(const MidiEvent& event, int64_t time) { return event.sampleTime < time; }
bool later(int64_t time, const MidiEvent& event) { return time < event.sampleTime; }

/// from + count without overflow: host times may be anywhere in the 64-bit range.
int64_t saturatingEnd(int64_t from, int64_t count) {
    if (from > std::numeric_limits<int64_t>::max() - count)
        return std::numeric_limits<int64_t>::max();
    return from + count;
}

bool validSetting(int channel, int setting) {
    return channel >= 0 && channel < MidiEventQueue::kChannels && setting >= 0 &&
           setting < MidiEventQueue::kTrackSettings;
}

} // namespace

MidiEventQueue::MidiEventQueue(size_t capacity) : events_(capacity) { notes_.reserve(kMaxTrackedNotes); }

bool MidiEventQueue::parseShortMessage(uint32_t message, int64_t sampleTime, MidiEvent& event) {
    const uint8_t status = static_cast<uint8_t>(message & 0xFF);
    // A data byte in the status position (running status) or a system message: not ours.
    if ((status & 0x80) == 0 || status >= 0xF0)
        return false;
    const uint8_t data1 = static_cast<uint8_t>((message >> 8) & kDataMask);
    const uint8_t data2 = static_cast<uint8_t>((message >> 16) & kDataMask);

    MidiEvent parsed;
    parsed.sampleTime = sampleTime;
    parsed.channel = status & kChannelMask;
    parsed.data1 = data1;
    parsed.data2 = data2;
    switch (status >> 4) {
    case kStatusNoteOff:
        parsed.type = MidiEventType::NoteOff;
        break;
    case kStatusNoteOn:
        // Velocity 0 is the common shorthand for a note-off.
        parsed.type = data2 == 0 ? MidiEventType::NoteOff : MidiEventType::NoteOn;
        break;
    case kStatusKeyAftertouch:
        parsed.type = MidiEventType::KeyAftertouch;
        break;
    case kStatusController:
        parsed.type = MidiEventType::Controller;
        break;
    case kStatusProgramChange:
        parsed.type = MidiEventType::ProgramChange;
        parsed.data2 = 0;
        break;
    case kStatusChannelAftertouch:
        parsed.type = MidiEventType::ChannelAftertouch;
        parsed.data2 = 0;
        break;
    case kStatusPitchWheel:
        parsed.type = MidiEventType::PitchWheel;
        parsed.pitchWheel = static_cast<int16_t>(((data2 << 7) | data1) - kPitchWheelCentre);
        break;
    default:
        return false;
    }
    event = parsed;
    return true;
}

bool MidiEventQueue::insert(const MidiEvent& event) {
    if (event.type > MidiEventType::PitchWheel)
        return false;
    if (size() == capacity()) {
        ++dropped_;
        return false;
    }
    if (end_ == events_.size()) {
        // The store's tail is used up while retired events left room at its front.
        std::move(events_.begin() + static_cast<std::ptrdiff_t>(begin_),
                  events_.begin() + static_cast<std::ptrdiff_t>(end_), events_.begin());
        end_ -= begin_;
        begin_ = 0;
    }

    MidiEvent stored = event;
    stored.channel &= kChannelMask;
    stored.data1 &= kDataMask;
    stored.data2 &= kDataMask;
    stored.pitchWheel =
        static_cast<int16_t>(std::clamp<int>(stored.pitchWheel, -kPitchWheelCentre, kPitchWheelCentre - 1));

    // After every event of the same time: equal times keep their arrival order. Sequencers send
    // in time order, so the search usually ends at the tail and nothing moves.
    const auto first = events_.begin() + static_cast<std::ptrdiff_t>(begin_);
    const auto last = events_.begin() + static_cast<std::ptrdiff_t>(end_);
    const auto position = std::upper_bound(first, last, stored.sampleTime, later);
    std::move_backward(position, last, last + 1);
    *position = stored;
    ++end_;
    return true;
}

MidiEventQueue::InsertResult MidiEventQueue::insertShortMessage(uint32_t message, int64_t sampleTime) {
    MidiEvent event;
    if (!parseShortMessage(message, sampleTime, event))
        return InsertResult::Skipped;
    return insert(event) ? InsertResult::Queued : InsertResult::Dropped;
}

std::span<const MidiEvent> MidiEventQueue::prepare(int64_t from, int64_t count) {
    if (count <= 0)
        return {};
    const int64_t end = saturatingEnd(from, count);
    const std::span<const MidiEvent> queued = events();
    const auto first = std::lower_bound(queued.begin(), queued.end(), from, earlier);
    const auto last = std::lower_bound(first, queued.end(), end, earlier);
    const std::span<const MidiEvent> piece(first, last);

    for (const MidiEvent& event : piece)
        if (event.sampleTime >= trackedUpTo_)
            track(event);
    trackedUpTo_ = std::max(trackedUpTo_, end);
    return piece;
}

void MidiEventQueue::track(const MidiEvent& event) {
    if (event.type != MidiEventType::NoteOn && event.type != MidiEventType::NoteOff)
        return;
    auto note = std::find_if(notes_.begin(), notes_.end(), [&](const TrackedNote& tracked) {
        return tracked.channel == event.channel && tracked.key == event.data1;
    });
    if (event.type == MidiEventType::NoteOff) {
        // Only a sounding note ends; a note-off without its note-on changes nothing.
        if (note != notes_.end() && note->endTime == TrackedNote::kSounding)
            note->endTime = event.sampleTime;
        return;
    }
    if (note == notes_.end()) {
        // Cannot exceed the reserve: one entry per channel and key at most.
        notes_.emplace_back();
        note = notes_.end() - 1;
        note->channel = event.channel;
        note->key = event.data1;
    }
    // A repeated note-on restarts the note.
    note->startTime = event.sampleTime;
    note->endTime = TrackedNote::kSounding;
    note->velocity = event.data2;
}

void MidiEventQueue::retire(int64_t upTo) {
    const auto first = events_.begin() + static_cast<std::ptrdiff_t>(begin_);
    const auto last = events_.begin() + static_cast<std::ptrdiff_t>(end_);
    begin_ = static_cast<size_t>(std::lower_bound(first, last, upTo, earlier) - events_.begin());
    if (begin_ == end_)
        begin_ = end_ = 0;
    std::erase_if(notes_, [upTo](const TrackedNote& note) { return note.endTime < upTo; });
}

void MidiEventQueue::flush() {
    begin_ = end_ = 0;
    notes_.clear();
    trackedUpTo_ = std::numeric_limits<int64_t>::min();
}

bool MidiEventQueue::setTrackSetting(int channel, int setting, int32_t value) {
    if (!validSetting(channel, setting))
        return false;
    trackSettings_[static_cast<size_t>(channel)][static_cast<size_t>(setting)] = value;
    return true;
}

int32_t MidiEventQueue::trackSetting(int channel, int setting) const {
    if (!validSetting(channel, setting))
        return 0;
    return trackSettings_[static_cast<size_t>(channel)][static_cast<size_t>(setting)];
}

void MidiEventQueue::clearTrackSettings() { trackSettings_ = {}; }

const TrackedNote* MidiEventQueue::findNote(int channel, int key) const {
    for (const TrackedNote& note : notes_)
        if (note.channel == channel && note.key == key)
            return &note;
    return nullptr;
}

} // namespace pellucer::dx
