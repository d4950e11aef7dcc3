#include "engine/pipeline/system_output.h"

#include <gst/audio/audio.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <utility>

#include "engine/runtime/debug_category.h"
#include "engine/runtime/element_factory.h"
#include "engine/runtime/gst_handles.h"
#include "engine/runtime/main_context.h"

namespace velmora::engine {

namespace {

// How the sound server lists our stream; the icon is the one the desktop
// entry installs.
constexpr char kSoundClientName[] = "Velmora";
constexpr char kSoundIconName[] = "example.telvaro.Velmora";

// The sound server asks for more sound each time this much has played. At
// pulsesink's default of 10 ms the streaming and sound threads wake a hundred
// times a second, which was most of the player's CPU while playing; 30 ms
// costs a third of that and starts a paced stream within a few milliseconds
// of the default (50 ms cost 45 ms there).
constexpr gint64 kSoundRequestUs = 30'000;

// A server that went away is asked again this often: a try while it is away
// is a refused connection on a local socket, about a millisecond; the sound
// is back within this much, and the stream's start, of the server's return.
constexpr int kReopenPeriodMs = 250;

// pulsesink reopens its stream at a change of sample rate or channel count
// as at a change of format: the first stream's rate and channels, in floats,
// stay those of every later song. A mono first song still gets two channels,
// lest the stereo songs after it lose theirs.
GstPadProbeReturn holdFirstLayout(GstPad*, GstPadProbeInfo* info, gpointer format) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS) {
        return GST_PAD_PROBE_OK;
    }
    GstCaps* caps = nullptr;
    GstAudioInfo first;
    gst_event_parse_caps(event, &caps);
    if (!gst_audio_info_from_caps(&first, caps)) {
        return GST_PAD_PROBE_OK;
    }
    const gint channels = std::max(GST_AUDIO_INFO_CHANNELS(&first), 2);
    const bool keepPositions = channels > 2 && !GST_AUDIO_INFO_IS_UNPOSITIONED(&first);
    GstAudioInfo held;
    gst_audio_info_set_format(&held, GST_AUDIO_FORMAT_F32, GST_AUDIO_INFO_RATE(&first), channels,
                              keepPositions ? first.position : nullptr);
    CapsPtr fixed(gst_audio_info_to_caps(&held));
    g_object_set(format, "caps", fixed.get(), nullptr);
    return GST_PAD_PROBE_REMOVE;
}

// pulsesink made by hand, so that mixers show our name and, from the tags it
// forwards, the title; autoaudiosink would make one nobody can name. Its
// device stays unset, so the server moves the stream to whatever output
// becomes the default. Null when the plugin is missing.
GstPtr<GstElement> makePulseSink() {
    GstElement* pulse = gst_element_factory_make("pulsesink", nullptr);
    if (pulse == nullptr) {
        return nullptr;
    }
    StructurePtr properties(gst_structure_new("props", "media.role", G_TYPE_STRING, "music",
                                              "application.icon_name", G_TYPE_STRING,
                                              kSoundIconName, nullptr));
    g_object_set(pulse, "client-name", kSoundClientName, "stream-properties", properties.get(),
                 "latency-time", kSoundRequestUs, nullptr);
    return GstPtr<GstElement>(GST_ELEMENT(gst_object_ref_sink(pulse)));
}

// The hand-off in front of pulsesink. A stream whose server is gone holds the
// thread that writes into it until the sink is taken down, which that
// thread's pushers see as a flush; this queue's thread is the one held, so
// the buffer in front of the output keeps its sound and its thread. It holds
// a fifth of a second: with room for one buffer only, a chained Ogg station's
// song changes were heard as 85-120 ms of silence. What it holds when the
// server goes away is lost with the dead stream.
constexpr guint64 kHandOffNs = 200 * GST_MSECOND;

GstElement* makeHandOff() {
    GstElement* queue = makeElement("queue");
    g_object_set(queue, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time", kHandOffNs,
                 nullptr);
    return queue;
}

GstPadProbeReturn holdInput(GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_OK; }

// The stream to the sound server and its return after the server went away.
// Its phases: Playing (a live stream, or none yet), Gone (the input held, the
// dead stream taken down, a fresh one tried on a timer), Restoring (a fresh
// stream linked, waiting for its first sound). The steps run on the main
// context; messages arrive on any thread. The mutex guards the phase and the
// stream's elements; no GStreamer call that may post a message is made under
// it, as that would come back to handle().
class ServerLink {
  public:
    enum class Verdict { Forward, Swallow, ForwardThenBack };

    ServerLink(GstElement* bin, GstElement* format, GMainContext* context, int returnDeadlineMs)
        : bin_(bin),
          format_(format),
          context_(g_main_context_ref(context != nullptr ? context : g_main_context_default())),
          returnDeadlineMs_(returnDeadlineMs) {}
    ~ServerLink() {
        close();
        g_main_context_unref(context_);
    }
    ServerLink(const ServerLink&) = delete;
    ServerLink& operator=(const ServerLink&) = delete;

    void attach(GstElement* queue, GstElement* sink) {
        std::lock_guard lock(mutex_);
        queue_ = queue;
        sink_ = sink;
    }

    // Every message of the bin's children, on the thread that posted it.
    Verdict handle(GstMessage* message);
    // The bin is taken down: no step runs any more.
    void close();
    void open() {
        std::lock_guard lock(mutex_);
        closing_ = false;
    }

  private:
    enum class Phase { Playing, Gone, Restoring };
    using Step = void (ServerLink::*)();

    void lose();
    void dropStream();
    void reopen();
    void giveUp();
    // Runs step on the main context delayMs from now (0: as soon as it can).
    GSource* schedule(int delayMs, Step step);
    static GstPadProbeReturn onParked(GstPad*, GstPadProbeInfo*, gpointer bin);
    static void cancel(GSource*& source);

    GstElement* bin_;     // owns the link
    GstElement* format_;  // the bin's child: the stream's input
    GMainContext* context_;
    int returnDeadlineMs_;
    gulong inputBlock_ = 0;  // main context only

    std::mutex mutex_;
    Phase phase_ = Phase::Playing;
    bool heard_ = false;  // the first stream prerolled: a loss after it is worth waiting out
    bool closing_ = false;
    bool gaveUp_ = false;
    GstElement* queue_ = nullptr;  // the stream's elements, the bin's children
    GstElement* sink_ = nullptr;
    MessagePtr loss_;  // the error the server's loss raised
    GSource* reopenTimer_ = nullptr;
    GSource* deadline_ = nullptr;
};

}  // namespace
}  // namespace velmora::engine

// The GObject type of the bin, so that it sees its children's messages before
// its parent does, and its own state changes.
struct VelmoraSoundOutput {
    GstBin parent;
    velmora::engine::ServerLink* link;  // owned: made with the bin, deleted at its finalize
};
struct VelmoraSoundOutputClass {
    GstBinClass parentClass;
};

G_DEFINE_TYPE(VelmoraSoundOutput, velmora_sound_output, GST_TYPE_BIN)

namespace {

VelmoraSoundOutput* outputOf(gpointer bin) {
    return G_TYPE_CHECK_INSTANCE_CAST(bin, velmora_sound_output_get_type(), VelmoraSoundOutput);
}

velmora::engine::ServerLink& linkOf(gpointer bin) { return *outputOf(bin)->link; }

void handleMessage(GstBin* bin, GstMessage* message) {
    using Verdict = velmora::engine::ServerLink::Verdict;
    auto forward = GST_BIN_CLASS(velmora_sound_output_parent_class)->handle_message;
    switch (linkOf(bin).handle(message)) {
        case Verdict::Swallow:
            gst_message_unref(message);
            return;
        case Verdict::Forward:
            forward(bin, message);
            return;
        case Verdict::ForwardThenBack:
            // After the sink's preroll has reached the pipeline: its clock is
            // there to be picked when the pipeline plays on.
            forward(bin, message);
            gst_element_post_message(
                GST_ELEMENT(bin),
                gst_message_new_element(
                    GST_OBJECT(bin), gst_structure_new_empty(velmora::engine::kOutputBackMessage)));
            return;
    }
}

GstStateChangeReturn changeState(GstElement* element, GstStateChange transition) {
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        linkOf(element).close();
    } else if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
        linkOf(element).open();
    }
    return GST_ELEMENT_CLASS(velmora_sound_output_parent_class)->change_state(element, transition);
}

void finalize(GObject* object) {
    delete std::exchange(outputOf(object)->link, nullptr);
    G_OBJECT_CLASS(velmora_sound_output_parent_class)->finalize(object);
}

}  // namespace

static void velmora_sound_output_init(VelmoraSoundOutput* self) { self->link = nullptr; }

static void velmora_sound_output_class_init(VelmoraSoundOutputClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = finalize;
    GST_ELEMENT_CLASS(klass)->change_state = changeState;
    GST_BIN_CLASS(klass)->handle_message = handleMessage;
}

namespace velmora::engine {
namespace {

ServerLink::Verdict ServerLink::handle(GstMessage* message) {
    GstObject* source = GST_MESSAGE_SRC(message);
    std::unique_lock lock(mutex_);
    const bool fromStream = source != nullptr &&
                            (source == GST_OBJECT_CAST(sink_) || source == GST_OBJECT_CAST(queue_));
    if (!fromStream || closing_) {
        return Verdict::Forward;
    }
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR:
            switch (phase_) {
                case Phase::Playing:
                    if (!heard_ || source != GST_OBJECT_CAST(sink_)) {
                        // No server at the start: the opening fails at once.
                        return Verdict::Forward;
                    }
                    phase_ = Phase::Gone;
                    loss_.reset(gst_message_ref(message));
                    schedule(0, &ServerLink::lose);
                    lock.unlock();
                    GST_CAT_DEBUG(debugCategory(), "the sound server went away");
                    gst_element_post_message(
                        bin_, gst_message_new_element(GST_OBJECT_CAST(bin_),
                                                      gst_structure_new_empty(kOutputGoneMessage)));
                    return Verdict::Swallow;
                case Phase::Restoring:
                    // The server answered, then failed the stream: try again.
                    phase_ = Phase::Gone;
                    schedule(0, &ServerLink::lose);
                    return Verdict::Swallow;
                case Phase::Gone:
                    // The dead stream's later complaints.
                    return Verdict::Swallow;
            }
            return Verdict::Swallow;
        case GST_MESSAGE_ASYNC_DONE:
            if (source != GST_OBJECT_CAST(sink_)) {
                return Verdict::Forward;
            }
            heard_ = true;
            if (phase_ != Phase::Restoring) {
                return Verdict::Forward;
            }
            phase_ = Phase::Playing;
            cancel(deadline_);
            return Verdict::ForwardThenBack;
        default:
            return Verdict::Forward;
    }
}

void ServerLink::close() {
    std::lock_guard lock(mutex_);
    closing_ = true;
    cancel(reopenTimer_);
    cancel(deadline_);
}

void ServerLink::cancel(GSource*& source) {
    if (source != nullptr) {
        g_source_destroy(source);
        g_source_unref(std::exchange(source, nullptr));
    }
}

GSource* ServerLink::schedule(int delayMs, Step step) {
    GSource* source =
        delayMs > 0 ? g_timeout_source_new(static_cast<guint>(delayMs)) : g_idle_source_new();
    // The step keeps the bin, and with it the link, until it has run.
    std::shared_ptr<GstElement> bin(GST_ELEMENT(gst_object_ref(bin_)), gst_object_unref);
    attachSource(source, context_, [bin, step] {
        ServerLink& link = linkOf(bin.get());
        (link.*step)();
        return false;
    });
    if (delayMs > 0) {
        return source;  // the caller keeps it, to cancel it
    }
    g_source_unref(source);
    return nullptr;
}

// The server is gone: the input is held where the stream begins, and the
// dead stream is taken down once no buffer is on its way into it.
void ServerLink::lose() {
    GstElement* queue = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (closing_ || phase_ != Phase::Gone) {
            return;
        }
        if (deadline_ == nullptr && !gaveUp_) {
            deadline_ = schedule(returnDeadlineMs_, &ServerLink::giveUp);
        }
        queue = queue_;
    }
    GstPtr<GstPad> input(gst_element_get_static_pad(format_, "src"));
    if (inputBlock_ == 0) {
        inputBlock_ = gst_pad_add_probe(input.get(), GST_PAD_PROBE_TYPE_BLOCK_DOWNSTREAM, holdInput,
                                        nullptr, nullptr);
    }
    if (queue == nullptr) {
        dropStream();
        return;
    }
    // A buffer waiting for room in the dead stream's queue goes in, and the
    // next one stops at the block.
    g_object_set(queue, "max-size-buffers", 0u, nullptr);
    gst_pad_add_probe(input.get(), GST_PAD_PROBE_TYPE_IDLE, onParked, gst_object_ref(bin_),
                      gst_object_unref);
}

GstPadProbeReturn ServerLink::onParked(GstPad*, GstPadProbeInfo*, gpointer bin) {
    linkOf(bin).schedule(0, &ServerLink::dropStream);
    return GST_PAD_PROBE_REMOVE;
}

void ServerLink::dropStream() {
    GstPtr<GstElement> queue;
    GstPtr<GstElement> sink;
    {
        std::lock_guard lock(mutex_);
        if (closing_ || phase_ != Phase::Gone) {
            return;
        }
        if (queue_ != nullptr) {
            queue.reset(GST_ELEMENT(gst_object_ref(queue_)));
            sink.reset(GST_ELEMENT(gst_object_ref(sink_)));
        }
    }
    if (queue) {
        gst_element_unlink(format_, queue.get());
        gst_bin_remove_many(GST_BIN(bin_), queue.get(), sink.get(), nullptr);
        {
            // Known as ours until they are out of the bin: what they say
            // until then is the dead stream's.
            std::lock_guard lock(mutex_);
            queue_ = nullptr;
            sink_ = nullptr;
        }
        // Its clock stays the pipeline's until the pipeline plays on a new
        // one, and reads the sound server library's main loop, which
        // pulsesink frees with its last sink: from now on it tells the time
        // it last told.
        gst_audio_clock_invalidate(
            GST_AUDIO_CLOCK(GST_AUDIO_BASE_SINK(sink.get())->provided_clock));
        // Out of the bin, the dead stream's complaints reach nobody. The sink
        // first: its flush frees the queue's thread, which waits in it.
        gst_element_set_state(sink.get(), GST_STATE_NULL);
        gst_element_set_state(queue.get(), GST_STATE_NULL);
    }
    std::lock_guard lock(mutex_);
    if (!closing_ && !gaveUp_ && reopenTimer_ == nullptr) {
        reopenTimer_ = schedule(kReopenPeriodMs, &ServerLink::reopen);
    }
}

void ServerLink::reopen() {
    {
        std::lock_guard lock(mutex_);
        if (reopenTimer_ != nullptr) {
            g_source_unref(std::exchange(reopenTimer_, nullptr));
        }
        if (closing_ || gaveUp_ || phase_ != Phase::Gone) {
            return;
        }
    }
    GstPtr<GstElement> sink = makePulseSink();
    // READY connects to the server: refused at once while it is away.
    if (!sink || gst_element_set_state(sink.get(), GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        if (sink) {
            gst_element_set_state(sink.get(), GST_STATE_NULL);
        }
        std::lock_guard lock(mutex_);
        if (!closing_ && !gaveUp_) {
            reopenTimer_ = schedule(kReopenPeriodMs, &ServerLink::reopen);
        }
        return;
    }
    GstElement* queue = makeHandOff();
    gst_bin_add_many(GST_BIN(bin_), queue, sink.get(), nullptr);
    gst_element_link(queue, sink.get());
    {
        std::lock_guard lock(mutex_);
        queue_ = queue;
        sink_ = sink.get();
        phase_ = Phase::Restoring;
    }
    gst_element_sync_state_with_parent(sink.get());
    gst_element_sync_state_with_parent(queue);
    gst_element_link(format_, queue);
    GstPtr<GstPad> input(gst_element_get_static_pad(format_, "src"));
    gst_pad_remove_probe(input.get(), std::exchange(inputBlock_, 0));
    GST_CAT_DEBUG(debugCategory(), "the sound server is back");
}

// The server stayed away: the error its loss raised ends the opening, as a
// sink that cannot play.
void ServerLink::giveUp() {
    MessagePtr loss;
    {
        std::lock_guard lock(mutex_);
        if (deadline_ != nullptr) {
            g_source_unref(std::exchange(deadline_, nullptr));
        }
        if (closing_ || phase_ == Phase::Playing) {
            return;
        }
        gaveUp_ = true;
        cancel(reopenTimer_);
        loss = std::move(loss_);
    }
    if (loss) {
        gst_element_post_message(bin_, loss.release());
    }
}

}  // namespace

GstElement* makeSystemOutput(GMainContext* context, int returnDeadlineMs) {
    GstPtr<GstElement> pulse = makePulseSink();
    if (!pulse) {
        return makeElement("autoaudiosink");
    }
    // pulsesink opens a new stream on the sound server at every change of
    // sample format, and that is heard: about 115 ms of silence where a
    // chained Ogg station goes from a Vorbis song (floats) to an Opus or FLAC
    // one (integers). One format for every song keeps the stream open; the
    // resampler passes through while the rate is the first stream's.
    GstPtr<GstElement> bin(
        GST_ELEMENT(gst_object_ref_sink(g_object_new(velmora_sound_output_get_type(), nullptr))));
    GstElement* format = makeElement("capsfilter");
    auto* link = new ServerLink(bin.get(), format, context, returnDeadlineMs);
    outputOf(bin.get())->link = link;
    GstElement* convert = makeElement("audioconvert");
    GstElement* resample = makeElement("audioresample");
    GstElement* queue = makeHandOff();
    CapsPtr caps(
        gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, GST_AUDIO_NE(F32), nullptr));
    g_object_set(format, "caps", caps.get(), nullptr);
    gst_bin_add_many(GST_BIN(bin.get()), convert, resample, format, queue, pulse.get(), nullptr);
    gst_element_link_many(convert, resample, format, queue, pulse.get(), nullptr);
    link->attach(queue, pulse.get());
    GstPtr<GstPad> pad(gst_element_get_static_pad(convert, "sink"));
    gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, holdFirstLayout,
                      gst_object_ref(format), gst_object_unref);
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("sink", pad.get()));
    // Floating, as the caller takes it.
    GstElement* output = bin.release();
    g_object_force_floating(G_OBJECT(output));
    return output;
}

}  // namespace velmora::engine
