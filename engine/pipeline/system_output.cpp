#include "engine/pipeline/system_output.h"

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
    return pulse;
}

}  // namespace velmora::engine
