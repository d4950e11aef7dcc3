#pragma once

#include <gst/gst.h>

#include <mutex>

#include "engine/runtime/gst_handles.h"

namespace velmora::engine {

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

// The link of a system output's bin, which owns it (the bin's type is made
// with the output, in system_output.cpp).
ServerLink& linkOf(gpointer bin);

}  // namespace velmora::engine
