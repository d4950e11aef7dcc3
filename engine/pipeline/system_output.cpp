#include "engine/pipeline/system_output.h"

#include <gst/audio/audio.h>

#include <algorithm>

#include "engine/runtime/element_factory.h"
#include "engine/runtime/gst_handles.h"

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

GstElement* makeSystemOutput() {
    // pulsesink made by hand, so that mixers show our name and, from the tags
    // it forwards, the title; autoaudiosink would make one nobody can name.
    GstElement* pulse = gst_element_factory_make("pulsesink", nullptr);
    if (pulse == nullptr) {
        return makeElement("autoaudiosink");
    }
    StructurePtr properties(gst_structure_new("props", "media.role", G_TYPE_STRING, "music",
                                              "application.icon_name", G_TYPE_STRING,
                                              kSoundIconName, nullptr));
    g_object_set(pulse, "client-name", kSoundClientName, "stream-properties", properties.get(),
                 "latency-time", kSoundRequestUs, nullptr);
    // pulsesink opens a new stream on the sound server at every change of
    // sample format, and that is heard: about 115 ms of silence where a
    // chained Ogg station goes from a Vorbis song (floats) to an Opus or FLAC
    // one (integers). One format for every song keeps the stream open; the
    // resampler passes through while the rate is the first stream's.
    GstPtr<GstElement> bin(GST_ELEMENT(gst_object_ref_sink(gst_bin_new(nullptr))));
    GstElement* convert = makeElement("audioconvert");
    GstElement* resample = makeElement("audioresample");
    GstElement* format = makeElement("capsfilter");
    CapsPtr caps(
        gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, GST_AUDIO_NE(F32), nullptr));
    g_object_set(format, "caps", caps.get(), nullptr);
    gst_bin_add_many(GST_BIN(bin.get()), convert, resample, format, pulse, nullptr);
    gst_element_link_many(convert, resample, format, pulse, nullptr);
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
