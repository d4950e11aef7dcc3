#include "engine/pipeline/server_link.h"

#include <gst/audio/audio.h>

#include <memory>
#include <utility>

#include "engine/pipeline/sound_server_stream.h"
#include "engine/pipeline/system_output.h"
#include "engine/runtime/debug_category.h"
#include "engine/runtime/main_context.h"

namespace velmora::engine {

namespace {

// A server that went away is asked again this often: a try while it is away
// is a refused connection on a local socket, about a millisecond; the sound
// is back within this much, and the stream's start, of the server's return.
constexpr int kReopenPeriodMs = 250;

GstPadProbeReturn holdInput(GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_OK; }

}  // namespace

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

}  // namespace velmora::engine
