// Each bus message kind has one handler; the facts are read by error_mapping,
// and turned here into the opening's events.
#include "engine/pipeline/media_session.h"

#include <algorithm>
#include <utility>

#include "engine/network/error_mapping.h"
#include "engine/pipeline/start_gate.h"
#include "engine/pipeline/system_output.h"
#include "engine/runtime/debug_category.h"
#include "playback/player_error.h"

namespace velmora::engine {
namespace {

constexpr int kDiagnosisTimeoutMs = 5000;

}  // namespace

MediaSession::MediaSession(const Opening& opening, const SessionSettings& settings,
                           MainContext& context, StateWorker& stateWorker,
                           SessionObserver& observer)
    : opening_(opening),
      settings_(settings),
      context_(context),
      observer_(observer),
      prerollWait_(context) {
    PipelineSetup setup;
    setup.uri = opening.uri;
    setup.audioOutput = settings.output;
    setup.volume = settings.volume;
    setup.mute = settings.mute;
    setup.balance = settings.balance;
    setup.skipBytes = opening.skipBytes;
    setup.http = settings.http;
    pipeline_ = std::make_unique<Pipeline>(
        setup, context, [this](GstMessage* message) { onMessage(message); }, stateWorker);
    holdPaused_ = opening.seekOnPrerollNs > 0;
    if (holdPaused_) {
        // Prerolls (paused, so nothing is heard) to be able to seek.
        pipeline_->startGate().openNow();
    }
    if (opening.network) {
        watch_ = std::make_unique<PhaseWatch>(
            context_, settings.timeoutMs, settings.output.paced,
            [this](PhaseWatch::Phase phase) { onPhaseExpired(phase); });
        sampler_ = context_.start(PhaseWatch::kSamplePeriodMs, [this] { sample(); });
    }
}

MediaSession::~MediaSession() {
    if (telling_ > 0) {
        g_error("velmora: a media session was destroyed from inside its own observer call");
    }
}

template <typename Event>
void MediaSession::tell(Event&& event) {
    if (closed_) {
        return;
    }
    ++telling_;
    event(observer_);
    --telling_;
}

void MediaSession::setWanted(bool play) {
    wanted_ = play;
    applyPipelineState();
}

void MediaSession::setVolume(double volume) { pipeline_->setVolume(volume); }

void MediaSession::restart() {
    gst_element_seek_simple(pipeline_->playbin(), GST_FORMAT_TIME, GST_SEEK_FLAG_FLUSH, 0);
}

bool MediaSession::live() const {
    if (pipeline_ && pipeline_->progress().adaptive) {
        // The playlist has a length; the stream has one only when it is not live.
        gint64 durationNs = -1;
        return !gst_element_query_duration(pipeline_->playbin(), GST_FORMAT_TIME, &durationNs) ||
               durationNs <= 0;
    }
    if (const std::optional<bool> hasLength = facts_.hasLength()) {
        return !*hasLength;
    }
    return opening_.network;
}

std::optional<std::int64_t> MediaSession::durationNs() const {
    gint64 durationNs = -1;
    if (live() || !gst_element_query_duration(pipeline_->playbin(), GST_FORMAT_TIME, &durationNs) ||
        durationNs <= 0) {
        return std::nullopt;
    }
    return durationNs;
}

void MediaSession::allowLiveRejoin() {
    pipeline_->liveRejoin().allow(wanted_ && opening_.network && facts_.hasLength() == false);
}

void MediaSession::applyPipelineState() {
    if (!pipeline_) {
        return;
    }
    const bool play = wanted_ && !refilling() && !holdPaused_ && !outputGone_;
    allowLiveRejoin();
    if (!holdPaused_) {
        pipeline_->startGate().allow(wanted_);
    }
    const GstState state = play ? GST_STATE_PLAYING : GST_STATE_PAUSED;
    if (pipeline_->requestedState() != state) {
        pipeline_->requestState(state);
    }
}

// ---- the network's supply ------------------------------------------------------------

void MediaSession::sample() {
    if (!pipeline_ || closed_) {
        return;
    }
    const SourceProgress& progress = pipeline_->progress();
    const std::int64_t aheadNs = pipeline_->startGate()
                                     .soundAheadNs(pipeline_->positionNs())
                                     .value_or(NetworkHealth::kUnknownNs);
    const PhaseWatch::Look look{progress.delivered(), aheadNs, wanted_ && !outputGone_,
                                progress.ended()};
    const PhaseWatch::Supply supply = watch_->look(look);
    // The next look comes within a third of what is ahead, so the reads are
    // gathered no longer than what is ahead covers.
    pipeline_->gatherReads(look.wanted && look.aheadNs >= SourceProgress::kGatherFromAheadNs);
    sampler_ = context_.start(watch_->nextLookMs(look), [this] { sample(); });
    switch (supply) {
        case PhaseWatch::Supply::Unchanged:
            break;
        case PhaseWatch::Supply::RanDry:
            GST_CAT_DEBUG(debugCategory(), "sound ran out");
            applyPipelineState();
            tell([&](SessionObserver& observer) { observer.onRefilling(0); });
            break;
        case PhaseWatch::Supply::Refilling:
            tell([&](SessionObserver& observer) { observer.onRefilling(watch_->refillPercent()); });
            break;
        case PhaseWatch::Supply::Refilled:
            applyPipelineState();  // "playing" comes with the pipeline's PLAYING
            break;
    }
}

void MediaSession::onPhaseExpired(PhaseWatch::Phase phase) {
    GST_CAT_DEBUG(debugCategory(), "phase %d made no progress for %d ms", static_cast<int>(phase),
                  settings_.timeoutMs);
    breakOff(makeBreak(Break::Cause::Deadline, deadlineFailure(played_), true));
}

// ---- the bus ---------------------------------------------------------------------------

void MediaSession::onMessage(GstMessage* message) {
    if (closed_) {
        return;  // what a closed opening's pipeline says on its way down concerns nobody
    }
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_STATE_CHANGED:
            onStateChanged(message);
            break;
        case GST_MESSAGE_ASYNC_DONE:
            onAsyncDone();
            break;
        case GST_MESSAGE_EOS:
            onEndOfStream();
            break;
        case GST_MESSAGE_ERROR:
            onError(message);
            break;
        case GST_MESSAGE_WARNING:
            onWarning(message);
            break;
        case GST_MESSAGE_ELEMENT:
            onElementMessage(message);
            break;
        case GST_MESSAGE_TAG:
            tellNews(facts_.readTags(message));
            break;
        case GST_MESSAGE_APPLICATION:
            if (gst_message_has_name(message, LiveRejoin::kJoinedMessage) &&
                ending_ == Ending::PlayingOut) {
                // The connection broke rather than closed, and the stream goes on
                // on a new one all the same.
                ending_ = Ending::None;
            }
            break;
        case GST_MESSAGE_DURATION_CHANGED:
            tell([&](SessionObserver& observer) { observer.onDetailsChanged(false); });
            break;
        default:
            break;
    }
}

void MediaSession::onStateChanged(GstMessage* message) {
    if (GST_MESSAGE_SRC(message) != GST_OBJECT_CAST(pipeline_->playbin())) {
        return;
    }
    GstState newState = GST_STATE_NULL;
    gst_message_parse_state_changed(message, nullptr, &newState, nullptr);
    if (newState != GST_STATE_PLAYING) {
        return;
    }
    played_ = true;
    if (watch_) {
        watch_->playing();
    }
    tell([&](SessionObserver& observer) { observer.onPlaying(); });
}

void MediaSession::onAsyncDone() {
    const bool first = !prerolled_;
    prerolled_ = true;
    prerollWait_.disarm();
    pipeline_->prerolled();
    GstElement* playbin = pipeline_->playbin();
    if (first && opening_.seekOnPrerollNs > 0) {
        if (gst_element_seek_simple(playbin, GST_FORMAT_TIME,
                                    GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT),
                                    opening_.seekOnPrerollNs)) {
            return;  // plays at the ASYNC_DONE that ends the seek
        }
    }
    holdPaused_ = false;
    if (first && settings_.rate != 1.0 && settings_.rate > 0.0 && !live()) {
        const std::int64_t position = std::max<std::int64_t>(0, pipeline_->positionNs());
        gst_element_seek(playbin, settings_.rate, GST_FORMAT_TIME,
                         GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                         GST_SEEK_TYPE_SET, position, GST_SEEK_TYPE_NONE, -1);
    }
    applyPipelineState();
}

void MediaSession::onEndOfStream() {
    if (ending_ == Ending::PlayingOut || (opening_.network && live())) {
        // A live stream has no end: the server went away.
        breakOff(makeBreak(Break::Cause::StreamEnded, Failure{FailureKind::ConnectionLost, 0, {}},
                           true));
        return;
    }
    if (!prerolled_) {
        breakOff(
            makeBreak(Break::Cause::NothingPlayed, Failure{FailureKind::NotAudio, 0, {}}, false));
        return;
    }
    tell([&](SessionObserver& observer) { observer.onEnded(); });
}

void MediaSession::onError(GstMessage* message) {
    // Only the first ERROR of a failure counts: more errors and an EOS follow.
    if (ending_ != Ending::None) {
        return;
    }
    ending_ = Ending::Failed;
    // The pipeline as it failed, for a developer: written only when
    // GST_DEBUG_DUMP_DOT_DIR names a folder.
    GST_DEBUG_BIN_TO_DOT_FILE_WITH_TS(GST_BIN(pipeline_->playbin()), GST_DEBUG_GRAPH_SHOW_ALL,
                                      "velmora-error");
    ErrorFacts facts = readErrorFacts(message);
    facts.networkSource = opening_.network;
    facts_.addTo(facts);
    GST_CAT_DEBUG(debugCategory(), "pipeline error: %s", facts.debug.c_str());
    const ErrorVerdict verdict = classifyError(facts);
    const FailureKind kind = verdict.failure.kind;
    if (facts.domain == ErrorFacts::Domain::Resource && facts.code == GST_RESOURCE_ERROR_SEEK) {
        facts_.noteRangeIgnored();
    }
    const bool networkLoss = verdict.worthRetrying;
    const SourceProgress& progress = pipeline_->progress();
    if (networkLoss && kind != FailureKind::HttpError &&
        progress.delivered() > opening_.skipBytes && !holdPaused_) {
        // The source pushes an end-of-stream behind its error: what arrived
        // plays out first, and the break waits for that end. Not while held
        // for the seek to the resume point: nothing of that would be heard.
        ending_ = Ending::PlayingOut;
        return;
    }
    if (verdict.needsDiagnosis && opening_.diagnose && progress.delivered() == 0) {
        diagnose(verdict.failure);
        return;
    }
    breakOff(makeBreak(Break::Cause::Error, verdict.failure, networkLoss));
}

void MediaSession::diagnose(Failure placeholder) {
    // The pipeline is done; the owner's status keeps saying "connecting"
    // until the host has been probed.
    const std::string& failedUri =
        facts_.redirectedTo().empty() ? opening_.uri : facts_.redirectedTo();
    Break broken = makeBreak(Break::Cause::Error, placeholder, true);
    prerollWait_.disarm();
    pipeline_.reset();
    watch_.reset();
    sampler_.reset();
    diagnosis_ = std::make_unique<HostDiagnosis>(
        failedUri, kDiagnosisTimeoutMs, context_, [this, broken](Failure failure) mutable {
            broken.failure = std::move(failure);
            tell([&](SessionObserver& observer) { observer.onBroken(broken); });
        });
}

void MediaSession::onWarning(GstMessage* message) {
    GError* rawError = nullptr;
    gchar* rawDebug = nullptr;
    gst_message_parse_warning(message, &rawError, &rawDebug);
    ErrorPtr warning(rawError);
    GCharPtr debug(rawDebug);
    GST_CAT_DEBUG(debugCategory(), "pipeline warning: %s", warning ? warning->message : "");
    // autoaudiosink with no sound server warns and falls back to a fake sink:
    // nothing could be heard, so this is a failure, not a note.
    if (isFromFactory(GST_MESSAGE_SRC(message), "autoaudiosink")) {
        ending_ = Ending::Failed;
        breakOff(makeBreak(Break::Cause::Error, Failure{FailureKind::NoAudioOutput, 0, {}}, false));
    }
}

void MediaSession::onElementMessage(GstMessage* message) {
    if (gst_message_has_name(message, SourceProgress::kHeldMessage)) {
        if (prerolled_) {
            return;  // posted before the preroll that released it
        }
        prerollWait_.arm(static_cast<int>(SourceProgress::kPrerollWait.count()), [this] {
            GST_CAT_DEBUG(debugCategory(), "no preroll on what the source held: it goes on");
            pipeline_->prerolled();
        });
        return;
    }
    if (const std::optional<StreamFacts::News> news = facts_.readElement(message)) {
        tellNews(*news);
        return;
    }
    const GstStructure* structure = gst_message_get_structure(message);
    if (structure != nullptr && (gst_structure_has_name(structure, kOutputGoneMessage) ||
                                 gst_structure_has_name(structure, kOutputBackMessage))) {
        outputGone_ = gst_structure_has_name(structure, kOutputGoneMessage);
        applyPipelineState();  // "playing" comes with the pipeline's PLAYING
        if (outputGone_) {
            tell([](SessionObserver& observer) { observer.onOutputGone(); });
        }
        return;
    }
    if (structure != nullptr && gst_structure_has_name(structure, StartGate::kProgressMessage)) {
        gst_structure_get_int(structure, "percent", &startPercent_);
        if (!played_) {
            tell([&](SessionObserver& observer) { observer.onStartProgress(startPercent_); });
        }
    }
}

void MediaSession::tellNews(const StreamFacts::News& news) {
    if (news.length) {
        allowLiveRejoin();
    }
    if (news.details) {
        tell([&](SessionObserver& observer) { observer.onDetailsChanged(news.title); });
    }
}

// ---- breaking off ------------------------------------------------------------------------

Break MediaSession::makeBreak(Break::Cause cause, Failure failure, bool networkLoss) const {
    Break broken;
    broken.cause = cause;
    broken.failure = std::move(failure);
    broken.networkLoss = networkLoss && opening_.network;
    broken.played = played_;
    broken.live = live();
    broken.rangeIgnored = facts_.rangeIgnored();
    broken.skippedBytes = opening_.skipBytes;
    if (pipeline_) {
        broken.bytes = pipeline_->progress().delivered();
        broken.hadData = broken.bytes > 0;
        broken.positionNs = pipeline_->positionNs();
    }
    return broken;
}

Break MediaSession::cutOff() {
    watch_.reset();
    sampler_.reset();
    return makeBreak(Break::Cause::NetworkBack, Failure{FailureKind::ConnectionLost, 0, {}}, true);
}

void MediaSession::breakOff(const Break& broken) {
    // Nothing more comes from this opening; the observer may close it.
    watch_.reset();
    sampler_.reset();
    tell([&](SessionObserver& observer) { observer.onBroken(broken); });
}

}  // namespace velmora::engine
