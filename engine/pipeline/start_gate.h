#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <memory>
#include <optional>

namespace velmora::engine {

// The decoded-sound buffer in front of the audio sink, and the gate on its
// output that holds the sink back until enough is buffered to play without a
// gap. While the gate is shut the pipeline may already be PLAYING, with
// nothing prerolled, and the sink has not even seen the caps: its clock then
// starts with the first sound. (A sink that gets its caps, or prerolls, early
// starts its sound late by as long as it waited: its ring buffer is laid out
// from the clock's time at the first PLAYING, and the sound server plays out
// that much silence first.)
//
// Every member may be called from any thread.
class StartGate {
  public:
    // The element message the gate posts, from the queue, while it fills:
    // a structure of this name with an int field "percent".
    static constexpr char kProgressMessage[] = "velmora-start-buffer";

    // queue is the queue element in front of the sink; its output is held
    // until it holds startNs of sound, or the stream ends, and the gate is
    // allowed to open.
    StartGate(GstElement* queue, std::uint64_t startNs);
    StartGate(const StartGate&) = delete;
    StartGate& operator=(const StartGate&) = delete;

    // Allowing opens the gate as soon as enough is buffered (at once when it
    // already is); disallowing keeps a shut gate shut. An open gate stays open.
    void allow(bool allowed);
    // Opens the gate whatever is buffered.
    void openNow();
    bool isOpen() const;

    // The running time up to which decoded sound has entered the buffer, or -1
    // before the first buffer. Running time, unlike a stream's timestamps, goes
    // on across a change of stream (a chained Ogg's next song starts its
    // timestamps over).
    std::int64_t queuedEndNs() const;
    // How much sound is buffered ahead of a position the pipeline reports (a
    // stream time in the segment the sink plays); nothing before the first
    // buffer or without a position.
    std::optional<std::int64_t> soundAheadNs(std::int64_t positionNs) const;

    struct State;

  private:
    std::shared_ptr<State> state_;
};

}  // namespace velmora::engine
