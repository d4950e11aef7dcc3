#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/pipeline/opening.h"
#include "engine/pipeline/phase_watch.h"
#include "engine/pipeline/pipeline.h"
#include "engine/pipeline/stream_facts.h"
#include "engine/runtime/host_diagnosis.h"
#include "engine/runtime/main_context.h"
#include "engine/runtime/state_worker.h"

namespace velmora::engine {

// What one opening tells its owner, on the user-interface thread. The owner
// may close the session from inside any of these, but destroys it only once
// the call has returned: the session aborts the program when destroyed from
// inside one, as the frames of its own code below would run on freed memory.
class SessionObserver {
  public:
    virtual ~SessionObserver() = default;
    // The start buffer fills before the first sound.
    virtual void onStartProgress(int percent) = 0;
    // Sound is heard: first, after a refill, or after a pause.
    virtual void onPlaying() = 0;
    // The sound ran dry and the stream waits for its buffer to refill.
    virtual void onRefilling(int percent) = 0;
    // The sound server went away; the stream waits for it, and plays on
    // (onPlaying) when it is back.
    virtual void onOutputGone() = 0;
    // Title, station name or length changed; titleChanged when the title did.
    virtual void onDetailsChanged(bool titleChanged) = 0;
    // The media played to its end.
    virtual void onEnded() = 0;
    // The opening cannot go on; it is done, and delivers nothing more.
    virtual void onBroken(const Break& broken) = 0;
};

struct SessionSettings {
    double volume = 0.5;  // linear, 0..1
    bool mute = false;
    double balance = 0.0;  // -1 (left) .. 1 (right)
    double rate = 1.0;
    AudioOutputFactory output;
    int timeoutMs = 15000;  // each phase's deadline (PhaseWatch)
    std::shared_ptr<HttpSession> http;
};

// One opening of the media: the pipeline, its bus read into facts, and, for
// a network stream, the phases' deadlines with the samples that feed them.
// It reports typed events and decides nothing beyond this one opening.
// Construct, call and destroy on the context's thread.
class MediaSession {
  public:
    // Throws PlayerError when the pipeline cannot be built.
    MediaSession(const Opening& opening, const SessionSettings& settings, MainContext& context,
                 StateWorker& stateWorker, SessionObserver& observer);
    ~MediaSession();
    MediaSession(const MediaSession&) = delete;
    MediaSession& operator=(const MediaSession&) = delete;

    // The user's intent: play, or hold paused. The pipeline follows at once,
    // unless it waits for a refill or for a resumed file's seek.
    void setWanted(bool play);
    void setVolume(double volume);
    // Plays the media again from its start.
    void restart();
    // Ends the opening because the network under it came back changed, and
    // returns how it stood, for the recovery to decide on; the observer hears
    // nothing of it, and the session delivers nothing more.
    Break cutOff();
    // Ends the opening: the observer hears nothing more from it. The pipeline
    // winds down when the session is destroyed, which the owner does later,
    // from a call of its own.
    void close() { closed_ = true; }

    bool played() const { return played_; }
    bool refilling() const { return watch_ && watch_->refilling(); }
    bool outputGone() const { return outputGone_; }
    int startPercent() const { return startPercent_; }
    // No length: a radio stream. Before the answer, every network stream is.
    bool live() const;
    const StreamFacts& facts() const { return facts_; }
    std::optional<std::int64_t> durationNs() const;

  private:
    enum class Ending { None, Failed, PlayingOut };

    void onMessage(GstMessage* message);
    void onStateChanged(GstMessage* message);
    void onAsyncDone();
    void onEndOfStream();
    void onError(GstMessage* message);
    void onWarning(GstMessage* message);
    void onElementMessage(GstMessage* message);
    void tellNews(const StreamFacts::News& news);
    void sample();
    void onPhaseExpired(PhaseWatch::Phase phase);
    void applyPipelineState();
    void allowLiveRejoin();
    Break makeBreak(Break::Cause cause, Failure failure, bool networkLoss) const;
    void breakOff(const Break& broken);
    void diagnose(Failure placeholder);
    // Every event reaches the observer through here: none once closed.
    template <typename Event>
    void tell(Event&& event);

    Opening opening_;
    SessionSettings settings_;
    MainContext& context_;
    SessionObserver& observer_;
    std::unique_ptr<Pipeline> pipeline_;
    std::unique_ptr<PhaseWatch> watch_;
    std::unique_ptr<Timers::Shot> sampler_;
    std::unique_ptr<HostDiagnosis> diagnosis_;
    Deadline prerollWait_;  // for a source held before the pipeline prerolled

    bool closed_ = false;
    int telling_ = 0;  // observer calls under way
    bool wanted_ = false;
    bool holdPaused_ = false;  // until a resumed file's seek is done
    // The sound server is away: paused, with no deadline but the output's own.
    bool outputGone_ = false;
    bool prerolled_ = false;
    bool played_ = false;
    Ending ending_ = Ending::None;
    StreamFacts facts_;
    int startPercent_ = 0;
};

}  // namespace velmora::engine
