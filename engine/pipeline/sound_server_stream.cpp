#include "engine/pipeline/sound_server_stream.h"

#include "engine/runtime/element_factory.h"

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

// The hand-off in front of pulsesink. A stream whose server is gone holds the
// thread that writes into it until the sink is taken down, which that
// thread's pushers see as a flush; this queue's thread is the one held, so
// the buffer in front of the output keeps its sound and its thread. It holds
// a fifth of a second: with room for one buffer only, a chained Ogg station's
// song changes were heard as 85-120 ms of silence. What it holds when the
// server goes away is lost with the dead stream.
constexpr guint64 kHandOffNs = 200 * GST_MSECOND;

}  // namespace

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

GstElement* makeHandOff() {
    GstElement* queue = makeElement("queue");
    g_object_set(queue, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time", kHandOffNs,
                 nullptr);
    return queue;
}

}  // namespace velmora::engine
