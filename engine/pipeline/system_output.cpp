#include "engine/pipeline/system_output.h"

#include <gst/audio/audio.h>

#include <algorithm>
#include <utility>

#include "engine/pipeline/server_link.h"
#include "engine/pipeline/sound_server_stream.h"
#include "engine/runtime/element_factory.h"
#include "engine/runtime/gst_handles.h"

namespace velmora::engine {

namespace {

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

}  // namespace

velmora::engine::ServerLink& velmora::engine::linkOf(gpointer bin) { return *outputOf(bin)->link; }

namespace {

using velmora::engine::linkOf;

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
