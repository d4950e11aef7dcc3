#include "engine/pipeline/start_gate.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include <gst/audio/audio.h>

#include "engine/pipeline/leading_silence.h"
#include "engine/runtime/debug_category.h"
#include "engine/runtime/gst_handles.h"

namespace velmora::engine {

// The gate posts its progress in steps of this many percent.
constexpr int kProgressStepPercent = 5;
// At most this much silence is cut from the start of the sound.
constexpr std::int64_t kMaxLeadingSilenceNs = 100 * GST_MSECOND;
// A stream that arrives in real time never holds more than the gate let it
// keep at the start, so the gate watches how the sound arrives before it
// opens: in steps (a frame decoded, a chunk read), some late by as much as a
// step on a busy machine. The margin covers the dry mark of the playing side
// and a few of the longest steps seen. This much sound held before the watch
// is over opens the gate at once: a burst (a server's burst on connect, a
// file, a segment) brings it, and a short one may be all there is for a
// while. What a stream in real time sends at once while its type is found
// stays below it.
constexpr std::int64_t kWatchNs = 100 * GST_MSECOND;
constexpr std::int64_t kBurstNs = 250 * GST_MSECOND;
constexpr std::int64_t kDryNs = 40 * GST_MSECOND;
constexpr std::int64_t kStepsCovered = 3;
// First sound waits no longer than this for its margin.
constexpr std::int64_t kLongestMarginNs = 400 * GST_MSECOND;

struct StartGate::State {
    std::mutex mutex;
    GstPtr<GstPad> output;
    gulong blockProbe = 0;
    bool allowed = false;
    bool ended = false;
    std::int64_t firstNs = -1;
    bool soundFound = false;  // the leading silence is behind us
    std::int64_t silenceCutNs = 0;
    int postedPercent = -1;
    std::uint64_t startNs = 0;
    GstElement* queue = nullptr;  // owned by the pipeline, which outlives the probes
    GstSegment inputSegment{};    // streaming thread only
    std::atomic<std::int64_t> queuedEndNs{-1};
    // How the sound arrives while the gate is shut, on the monotonic clock.
    std::int64_t firstArrivalNs = -1;
    std::int64_t lastArrivalNs = -1;
    std::int64_t longestStepNs = 0;

    // Called with the mutex held.
    void openLocked() {
        if (blockProbe != 0) {
            GST_CAT_DEBUG_OBJECT(
                debugCategory(), queue,
                "opens on %" GST_TIME_FORMAT " of sound, longest step %" GST_TIME_FORMAT,
                GST_TIME_ARGS(queuedEndNs - firstNs), GST_TIME_ARGS(longestStepNs));
            // The sound starts at the running time the silence would have taken.
            if (silenceCutNs > 0) {
                gst_pad_set_offset(output.get(), -silenceCutNs);
            }
            gst_pad_remove_probe(output.get(), blockProbe);
            blockProbe = 0;
        }
    }

    // The sound the gate holds before it opens: while the arrival is watched,
    // what only a burst brings; then what outlasts the steps it arrives in.
    std::int64_t neededNs() const {
        const auto start = static_cast<std::int64_t>(startNs);
        if (firstNs < 0) {
            return start;
        }
        if (lastArrivalNs - firstArrivalNs < kWatchNs) {
            return std::max(start, kBurstNs);
        }
        return std::clamp(kDryNs + kStepsCovered * longestStepNs, start,
                          std::max(start, kLongestMarginNs));
    }

    bool enoughLocked() const {
        return ended || (firstNs >= 0 && queuedEndNs - firstNs >= neededNs());
    }

    // Called with the mutex held, on the streaming thread, for each buffer
    // that enters while the gate is shut.
    void arrivedLocked() {
        const std::int64_t now = g_get_monotonic_time() * 1000;
        if (firstArrivalNs < 0) {
            firstArrivalNs = now;
        } else {
            longestStepNs = std::max(longestStepNs, now - lastArrivalNs);
        }
        lastArrivalNs = now;
    }

    // Called with the mutex held, on the streaming thread.
    void postProgressLocked() {
        const std::int64_t end = queuedEndNs;
        const std::int64_t needed = neededNs();
        // 100 only once the gate may open: the arrival may still be watched.
        const int percent =
            firstNs < 0 || needed == 0 ? 0
            : enoughLocked()
                ? 100
                : static_cast<int>(std::min<std::int64_t>(99, (end - firstNs) * 100 / needed));
        if (percent < postedPercent + kProgressStepPercent && percent != 100) {
            return;
        }
        postedPercent = percent;
        gst_element_post_message(
            queue, gst_message_new_element(GST_OBJECT_CAST(queue),
                                           gst_structure_new(kProgressMessage, "percent",
                                                             G_TYPE_INT, percent, nullptr)));
    }
};

namespace {

// Cuts the silence at the start of a shut gate's first buffers: drops silent
// buffers and trims the silent head of the first audible one. Returns false
// when the buffer is to be dropped. Called with the mutex held.
bool cutLeadingSilence(StartGate::State& state, GstPad* pad, GstPadProbeInfo* info) {
    if (state.soundFound || state.blockProbe == 0 || state.silenceCutNs >= kMaxLeadingSilenceNs) {
        state.soundFound = true;
        return true;
    }
    CapsPtr caps(gst_pad_get_current_caps(pad));
    GstAudioInfo audio;
    if (!caps || !gst_audio_info_from_caps(&audio, caps.get()) ||
        GST_AUDIO_INFO_LAYOUT(&audio) != GST_AUDIO_LAYOUT_INTERLEAVED) {
        state.soundFound = true;
        return true;
    }
    SampleFormat format;
    switch (GST_AUDIO_INFO_FORMAT(&audio)) {
        case GST_AUDIO_FORMAT_S16:
            format = SampleFormat::S16;
            break;
        case GST_AUDIO_FORMAT_S32:
            format = SampleFormat::S32;
            break;
        case GST_AUDIO_FORMAT_F32:
            format = SampleFormat::F32;
            break;
        default:
            state.soundFound = true;
            return true;
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const std::size_t frames = gst_buffer_get_size(buffer) / GST_AUDIO_INFO_BPF(&audio);
    std::optional<std::size_t> audible;
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        audible = firstAudibleFrame(map.data, frames, GST_AUDIO_INFO_CHANNELS(&audio), format);
        gst_buffer_unmap(buffer, &map);
    }
    const auto cutNs = static_cast<std::int64_t>(
        gst_util_uint64_scale(audible.value_or(frames), GST_SECOND, GST_AUDIO_INFO_RATE(&audio)));
    if (!audible) {
        state.silenceCutNs += cutNs;
        return false;
    }
    state.soundFound = true;
    if (*audible > 0) {
        buffer = gst_buffer_make_writable(buffer);
        gst_buffer_resize(buffer, static_cast<gssize>(*audible * GST_AUDIO_INFO_BPF(&audio)), -1);
        GST_BUFFER_PTS(buffer) += cutNs;
        if (GST_BUFFER_DURATION_IS_VALID(buffer)) {
            GST_BUFFER_DURATION(buffer) -=
                std::min<GstClockTime>(cutNs, GST_BUFFER_DURATION(buffer));
        }
        GST_PAD_PROBE_INFO_DATA(info) = buffer;
        state.silenceCutNs += cutNs;
    }
    return true;
}

// A time in a segment as running time; as it is when the segment is not in
// time (a test's bare pipeline before its first segment).
std::int64_t runningNs(const GstSegment& segment, GstClockTime time) {
    if (segment.format != GST_FORMAT_TIME) {
        return static_cast<std::int64_t>(time);
    }
    guint64 running = 0;
    // Before the segment's start counts as its start, not as no time at all.
    return gst_segment_to_running_time_full(&segment, GST_FORMAT_TIME, time, &running) > 0
               ? static_cast<std::int64_t>(running)
               : static_cast<std::int64_t>(segment.base);
}

GstPadProbeReturn onQueueInput(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto& state = **static_cast<std::shared_ptr<StartGate::State>*>(data);
    if ((info->type & GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM) != 0) {
        // A serialized query (a decoder's allocation query, at the start and
        // again at every new stream, such as a chained Ogg's next song) waits
        // until the queue has drained. A shut gate never lets that happen; an
        // open one holds the decoder until the sound ahead has run out, and a
        // paused one for ever. Answered here, proposing nothing, the decoder
        // uses plain memory and goes on at once.
        return GST_QUERY_IS_SERIALIZED(GST_PAD_PROBE_INFO_QUERY(info)) ? GST_PAD_PROBE_HANDLED
                                                                       : GST_PAD_PROBE_OK;
    }
    if ((info->type & GST_PAD_PROBE_TYPE_BUFFER) != 0) {
        std::lock_guard lock(state.mutex);
        if (!GST_BUFFER_PTS_IS_VALID(GST_PAD_PROBE_INFO_BUFFER(info))) {
            return GST_PAD_PROBE_OK;
        }
        if (!cutLeadingSilence(state, pad, info)) {
            return GST_PAD_PROBE_DROP;
        }
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        const auto start = runningNs(state.inputSegment, GST_BUFFER_PTS(buffer));
        const auto duration = GST_BUFFER_DURATION_IS_VALID(buffer)
                                  ? static_cast<std::int64_t>(GST_BUFFER_DURATION(buffer))
                                  : 0;
        if (state.firstNs < 0) {
            state.firstNs = start;
            GST_CAT_DEBUG_OBJECT(debugCategory(), state.queue,
                                 "first decoded sound at %" GST_TIME_FORMAT, GST_TIME_ARGS(start));
        }
        state.queuedEndNs = start + duration;
        if (state.blockProbe != 0) {
            state.arrivedLocked();
            if (state.allowed && state.enoughLocked()) {
                state.openLocked();
            } else {
                state.postProgressLocked();
            }
        }
    } else if ((info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) != 0) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        std::lock_guard lock(state.mutex);
        if (GST_EVENT_TYPE(event) == GST_EVENT_EOS) {
            // A media shorter than the start buffer plays all the same.
            state.ended = true;
            if (state.allowed) {
                state.openLocked();
            }
        } else if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) {
            state.queuedEndNs = -1;
        } else if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
            gst_event_copy_segment(event, &state.inputSegment);
        }
    }
    return GST_PAD_PROBE_OK;
}

}  // namespace

StartGate::StartGate(GstElement* queue, std::uint64_t startNs) : state_(std::make_shared<State>()) {
    state_->queue = queue;
    state_->startNs = startNs;
    state_->output.reset(gst_element_get_static_pad(queue, "src"));
    // Events are held too: the caps would let the sink open its stream on
    // the sound server, whose clock would then run ahead of the first sound.
    state_->blockProbe = gst_pad_add_probe(
        state_->output.get(),
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_DATA_DOWNSTREAM),
        [](GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_OK; }, nullptr, nullptr);
    GstPtr<GstPad> input(gst_element_get_static_pad(queue, "sink"));
    gst_pad_add_probe(input.get(),
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                   GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                   GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM),
                      onQueueInput, new std::shared_ptr<State>(state_),
                      [](gpointer data) { delete static_cast<std::shared_ptr<State>*>(data); });
}

void StartGate::allow(bool allowed) {
    std::lock_guard lock(state_->mutex);
    state_->allowed = allowed;
    if (allowed && state_->enoughLocked()) {
        state_->openLocked();
    }
}

void StartGate::openNow() {
    std::lock_guard lock(state_->mutex);
    state_->openLocked();
}

bool StartGate::isOpen() const {
    std::lock_guard lock(state_->mutex);
    return state_->blockProbe == 0;
}

std::int64_t StartGate::queuedEndNs() const { return state_->queuedEndNs; }

std::optional<std::int64_t> StartGate::soundAheadNs(std::int64_t positionNs) const {
    const std::int64_t queuedEnd = queuedEndNs();
    if (positionNs < 0 || queuedEnd < 0) {
        return std::nullopt;
    }
    EventPtr event(gst_pad_get_sticky_event(state_->output.get(), GST_EVENT_SEGMENT, 0));
    if (!event) {
        // Nothing played yet: the first segment starts at zero.
        return queuedEnd - positionNs;
    }
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event.get(), &segment);
    const guint64 inSegment =
        gst_segment_position_from_stream_time(segment, GST_FORMAT_TIME, positionNs);
    const std::int64_t heard = inSegment == GST_CLOCK_TIME_NONE
                                   ? runningNs(*segment, segment->start)
                                   : runningNs(*segment, inSegment);
    if (heard < 0) {
        return std::nullopt;
    }
    return queuedEnd - heard;
}

}  // namespace velmora::engine
