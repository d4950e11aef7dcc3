#include "engine/pipeline/pipeline.h"

#include <gst/base/gstbasesrc.h>

#include <cstring>
#include <string_view>
#include <utility>

#include "engine/network/http_source.h"
#include "engine/pipeline/adaptive_stream.h"
#include "engine/pipeline/leading_tag.h"
#include "engine/pipeline/system_output.h"
#include "engine/runtime/element_factory.h"

namespace velmora::engine {

namespace {

// playbin's GstPlayFlags: audio only, volume in software. playbin's own
// volume stays at its default: the player's is the loudness element's (see
// makeAudioSink).
constexpr guint kPlayFlagAudio = 1u << 1;
constexpr guint kPlayFlagSoftVolume = 1u << 4;

// Playing starts once this much decoded sound is buffered: enough to ride
// out the jitter of a stream that arrives just in time, short enough that a
// stream paced at its bitrate starts at once. With less, the sound server
// starts no sooner; the buffer grows past it whenever the network runs ahead.
constexpr guint64 kStartBufferMs = 100;
// Decoded sound buffered in front of the sink at most; more waits, compressed,
// in the network buffer, which is capped in bytes for endless streams.
constexpr guint64 kDecodedBufferMs = 4000;
constexpr guint kNetworkBufferBytes = 256 * 1024;
// The audio sink playbin gets: the start gate's queue, the player's
// loudness, then the output.
//
// The player's volume and mute are its own, applied in the pipeline. Given to
// playbin, they reach an output with a volume of its own, and pulsesink's is
// its stream's on the sound server, which remembers a stream's volume and
// mute for every later stream of the same kind (WirePlumber's stream restore,
// PulseAudio's module-stream-restore, by media role): a retired pipeline's
// mute left every later stream of the player, and of other music players,
// silent. Behind the gate's queue, a change is heard once the output's own
// short buffer has played, not the gate's seconds.
GstPtr<GstElement> makeAudioSink(const AudioOutputFactory& factory, GMainContext* context,
                                 GstElement*& gateQueue, GstElement*& loudness) {
    GstPtr<GstElement> bin(GST_ELEMENT(gst_object_ref_sink(gst_bin_new("velmora-audio-sink"))));
    GstElement* output =
        factory.make ? factory.make() : makeSystemOutput(context, factory.serverReturnMs);
    gst_bin_add(GST_BIN(bin.get()), output);
    gateQueue = makeElement("queue");
    loudness = makeElement("volume");
    gst_bin_add_many(GST_BIN(bin.get()), gateQueue, loudness, nullptr);
    g_object_set(gateQueue, "max-size-time", kDecodedBufferMs * GST_MSECOND, "max-size-bytes", 0u,
                 "max-size-buffers", 0u, nullptr);
    gst_element_link_many(gateQueue, loudness, output, nullptr);
    GstPtr<GstPad> pad(gst_element_get_static_pad(gateQueue, "sink"));
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("sink", pad.get()));
    return bin;
}

// Caps the network buffer that uridecodebin puts after a network source. Its
// buffering messages are not used (the start gate decides when to play), and
// not posted: each would wake the user-interface thread as the buffer's level
// moves. uridecodebin adds it once the stream's type is known.
void onElementAdded(GstBin*, GstBin*, GstElement* element, gpointer data) {
    const auto& progress = *static_cast<std::shared_ptr<SourceProgress>*>(data);
    if (isFromFactory(GST_OBJECT_CAST(element), "queue2")) {
        g_object_set(element, "max-size-bytes", kNetworkBufferBytes, "max-size-time",
                     kDecodedBufferMs * GST_MSECOND, "max-size-buffers", 0u, "use-buffering", FALSE,
                     nullptr);
        progress->typed = true;
    } else {
        watchAdaptiveDemuxer(element, progress);
    }
}

struct SourceSetup {
    std::shared_ptr<SourceProgress> progress;
    std::shared_ptr<HttpRequests> requests;
    std::uint64_t skipBytes = 0;
};

GstPadProbeReturn countSourceOutput(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    const auto& setup = *static_cast<SourceSetup*>(data);
    SourceProgress& progress = *setup.progress;
    if ((info->type & GST_PAD_PROBE_TYPE_BUFFER) != 0) {
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        const std::uint64_t size = gst_buffer_get_size(buffer);
        if (progress.bytes == 0) {
            progress.tagBytes = leadingTagBytes(buffer);
            progress.holdFrom =
                setup.skipBytes + progress.tagBytes + SourceProgress::kBytesBeforePreroll;
        }
        const std::uint64_t before = progress.bytes.fetch_add(size);
        if (before + size <= setup.skipBytes) {
            return GST_PAD_PROBE_DROP;
        }
        if (before < setup.skipBytes) {
            const std::uint64_t cut = setup.skipBytes - before;
            GST_PAD_PROBE_INFO_DATA(info) =
                gst_buffer_copy_region(buffer, GST_BUFFER_COPY_ALL, cut, size - cut);
            gst_buffer_unref(buffer);
        }
        if (GstElement* source = GST_PAD_PARENT(pad);
            source != nullptr && GST_IS_BASE_SRC(source)) {
            progress.waitToGather(size, gst_base_src_get_blocksize(GST_BASE_SRC(source)));
        }
    } else if ((info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) != 0) {
        // Only a source that sends lists sends them; souphttpsrc sends buffers,
        // so a list is never one that needs cutting.
        progress.bytes += probedBytes(info);
    } else if ((info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) != 0 &&
               GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS) {
        progress.sourceEnds.fetch_add(1);
    }
    return GST_PAD_PROBE_OK;
}

void onSourceSetup(GstElement*, GstElement* source, gpointer data) {
    const auto& setup = *static_cast<SourceSetup*>(data);
    if (configureHttpSource(source)) {
        setup.requests->watch(source);
    }
    if (GstPtr<GstPad> pad(gst_element_get_static_pad(source, "src")); pad) {
        gst_pad_add_probe(pad.get(),
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                                       GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          countSourceOutput, new SourceSetup(setup),
                          [](gpointer d) { delete static_cast<SourceSetup*>(d); });
        SourceProgress::holdInPad(pad.get(), setup.progress);
    }
}

}  // namespace

bool isFromFactory(GstObject* object, std::string_view factoryName) {
    if (object == nullptr || !GST_IS_ELEMENT(object)) {
        return false;
    }
    GstElementFactory* factory = gst_element_get_factory(GST_ELEMENT(object));
    return factory != nullptr &&
           factoryName == gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory));
}

Pipeline::Pipeline(const PipelineSetup& setup, const MainContext& context,
                   BusWatch::Handler onMessage, StateWorker& stateWorker)
    : stateWorker_(stateWorker),
      progress_(std::make_shared<SourceProgress>()),
      requests_(std::make_shared<HttpRequests>()) {
    playbin_.reset(GST_ELEMENT(gst_object_ref_sink(makeElement("playbin"))));
    GstElement* playbin = playbin_.get();
    GstElement* gateQueue = nullptr;
    GstElement* loudness = nullptr;
    const GstPtr<GstElement> audioSink =
        makeAudioSink(setup.audioOutput, context.get(), gateQueue, loudness);
    loudness_.reset(GST_ELEMENT(gst_object_ref(loudness)));
    g_object_set(loudness, "volume", setup.volume, "mute", setup.mute ? TRUE : FALSE, nullptr);
    g_object_set(playbin, "uri", setup.uri.c_str(), "flags", kPlayFlagAudio | kPlayFlagSoftVolume,
                 "audio-sink", audioSink.get(), nullptr);
    startGate_ = std::make_unique<StartGate>(gateQueue, kStartBufferMs * GST_MSECOND);
    liveRejoin_ = std::make_unique<LiveRejoin>(playbin, setup.uri, progress_);
    if (setup.balance != 0.0) {
        GstElement* panorama = makeElement("audiopanorama");
        g_object_set(panorama, "panorama", static_cast<gfloat>(setup.balance), nullptr);
        g_object_set(playbin, "audio-filter", panorama, nullptr);
    }
    g_signal_connect_data(
        playbin, "source-setup", G_CALLBACK(onSourceSetup),
        new SourceSetup{progress_, requests_, setup.skipBytes},
        [](gpointer data, GClosure*) { delete static_cast<SourceSetup*>(data); }, GConnectFlags(0));
    g_signal_connect_data(
        playbin, "deep-element-added", G_CALLBACK(onElementAdded),
        new std::shared_ptr<SourceProgress>(progress_),
        [](gpointer data, GClosure*) {
            delete static_cast<std::shared_ptr<SourceProgress>*>(data);
        },
        GConnectFlags(0));
    GstPtr<GstBus> bus(gst_element_get_bus(playbin));
    setup.http->lend(playbin);
    HttpSession::watch(bus.get(), setup.http);
    busWatch_ = std::make_unique<BusWatch>(bus.get(), context, std::move(onMessage));
}

Pipeline::~Pipeline() {
    progress_->release();
    progress_->gatherReads(false);
    busWatch_.reset();
    // Silent while it waits for its request's answer (see HttpRequests).
    g_object_set(loudness_.get(), "mute", TRUE, nullptr);
    stateWorker_.retire(playbin_.get(), [requests = requests_] { return requests->underWay(); });
}

void Pipeline::setVolume(double volume) {
    g_object_set(loudness_.get(), "volume", volume, nullptr);
}

void Pipeline::requestState(GstState state) {
    requested_ = state;
    stateWorker_.request(playbin_.get(), state);
}

std::int64_t Pipeline::positionNs() const {
    gint64 position = -1;
    if (!gst_element_query_position(playbin_.get(), GST_FORMAT_TIME, &position)) {
        return -1;
    }
    return position;
}

}  // namespace velmora::engine
