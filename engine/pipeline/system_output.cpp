#include "engine/pipeline/system_output.h"

#include <gst/audio/audio.h>

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
    // one (integers). One format for every song keeps the stream open.
    GstPtr<GstElement> bin(GST_ELEMENT(gst_object_ref_sink(gst_bin_new(nullptr))));
    GstElement* convert = makeElement("audioconvert");
    GstElement* format = makeElement("capsfilter");
    CapsPtr caps(
        gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, GST_AUDIO_NE(F32), nullptr));
    g_object_set(format, "caps", caps.get(), nullptr);
    gst_bin_add_many(GST_BIN(bin.get()), convert, format, pulse, nullptr);
    gst_element_link_many(convert, format, pulse, nullptr);
    GstPtr<GstPad> pad(gst_element_get_static_pad(convert, "sink"));
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("sink", pad.get()));
    // Floating, as the caller takes it.
    GstElement* output = bin.release();
    g_object_force_floating(G_OBJECT(output));
    return output;
}

}  // namespace velmora::engine
