#!/usr/bin/python3
"""Plants known faults in a copy of the source, one at a time, and tells which the suite catches.

Each fault is a small textual change anchored on distinctive code; one whose anchor is not found
exactly once is reported as "could not plant", never as caught. The copy (build/planted-faults)
is refreshed from a commit file by file, so that only what changed is rebuilt between runs.

    tools/plant_faults.py [--commit REV] [--only NAME ...]
"""

import argparse
import io
import re
import subprocess
import sys
import tarfile
import time
from dataclasses import dataclass
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
# Known to fail on its own now and then; no fault is judged by it.
FLAKY_TESTS = "faults_soak"
# Set-up that every label needs: made once before any fault, never a fault's catch.
FIXTURE_TESTS = ("stream_server_make_media",)
BUILD_TIMEOUT_S = 1800
LABEL_TIMEOUT_S = 1200

PLAYBACK = ("playback", "ui", "e2e")
ENGINE = ("engine", "e2e")
UI = ("ui", "e2e")
APP = ("e2e",)


@dataclass(frozen=True)
class Fault:
    name: str
    path: str
    anchor: str  # whitespace between tokens is free, so reformatting does not lose the anchor
    replacement: str
    labels: tuple
    # Names (prefixes) of the tests of those labels that judge it, when the others only cost
    # time; empty: all of them.
    tests: tuple = ()


FAULTS = [
    Fault("a notice box on the stack again", "ui/message_box_notifier.cpp",
          "waiting_.emplace_back(caption, text); if (shown_.isNull()) { showNext(); }",
          "QMessageBox box(owner_.data()); box.setWindowTitle(QString::fromStdString(caption)); "
          "box.setTextFormat(Qt::PlainText); box.setText(QString::fromStdString(text)); "
          "box.setStandardButtons(QMessageBox::Ok); box.button(QMessageBox::Ok)->setIcon(QIcon()); "
          "box.setWindowModality(Qt::ApplicationModal); box.exec();",
          UI,
          ("MainWindowTest", "e2e_lifecycle")),
    Fault("pause row in wrong order", "playback/transport_rules.cpp",
          "kPausedAfterPause{play_state::Paused, {{{C2, false}, {Command2, true}, {Command3, true}}}}",
          "kPausedAfterPause{play_state::Paused, {{{Command2, true}, {Command3, true}, {C2, false}}}}",
          PLAYBACK),
    Fault("started set enables Continue", "playback/transport_rules.cpp",
          "kStartedSet{ {{Command2, false}, {C2, true}",
          "kStartedSet{ {{Command2, true}, {C2, true}", PLAYBACK),
    Fault("status rows applied out of order", "playback/transport_rules.cpp",
          "applyRow(player_, view_, kStoppedOnStatus); applyRow(player_, view_, kPlayingOnStatus);",
          "applyRow(player_, view_, kPlayingOnStatus); applyRow(player_, view_, kStoppedOnStatus);",
          PLAYBACK),
    Fault("media-error notice missed", "playback/error_notices.cpp",
          "notifier_.showNotice(std::string(kApplicationTitle), std::string(kMediaErrorNotice));",
          "", PLAYBACK,
          ("MainWindowTest",)),
    Fault("Enter passed on to the box", "playback/url_box_rules.cpp",
          "charCode = 0; transport_.putUrl(box_.text());", "transport_.putUrl(box_.text());",
          PLAYBACK),
    Fault("click on prompt clears the box", "playback/url_box_rules.cpp",
          "box_.setText(std::string(kExampleUrl));", "box_.setText(std::string());", PLAYBACK),
    Fault("pause reports the playing code", "engine/player/engine_player.cpp",
          "setStatus(ps::Paused, status_text::paused());",
          "setStatus(ps::Playing, status_text::paused());", ENGINE,
          ("PlayerPipelineTest.PlaysPausesAndStops",)),
    Fault("status text typo", "engine/texts/status_texts.cpp",
          'return "正在缓冲 " + std::to_string', 'return "正在缓存 " + std::to_string', ENGINE,
          ("PlayerPipelineTest.ALiveStreamStarts",)),
    Fault("stall never detected", "engine/pipeline/phase_watch.cpp",
          "return; } onExpired_(phase());", "return; }", ENGINE,
          ("PhaseDeadlines",)),
    Fault("HTTP 4xx not read as server error", "engine/network/error_mapping.cpp",
          "if (facts.networkSource && facts.httpStatus >= 400) {",
          "if (facts.networkSource && facts.httpStatus >= 500) {", ENGINE,
          ("Faults/PlayerFailureTest",)),
    Fault("missing decoder shown as a URL warning", "engine/runtime/failure.cpp",
          "case FailureKind::NoDecoder: case FailureKind::NoAudioOutput:",
          "case FailureKind::NoAudioOutput:", ENGINE,
          ("Faults/PlayerFailureTest",)),
    Fault("no reconnect after data flowed", "engine/player/recovery.cpp",
          "case Break::Cause::StreamEnded: case Break::Cause::NetworkBack: return true;",
          "case Break::Cause::StreamEnded: return false; case Break::Cause::NetworkBack: "
          "return true;", ENGINE,
          ("PlayerPipelineTest.AFileCutShort",)),
    Fault("stream title ignored", "engine/player/engine_player.cpp",
          "if (titleChanged && events_.state() == ps::Playing) {",
          "if (titleChanged && events_.state() == ps::Undefined) {", ENGINE,
          ("PlayerPipelineTest.ReadsTitles", "Codecs/OggChainTest")),
    Fault("end of file shows stopped", "engine/player/engine_player.cpp",
          "setStatus(ps::MediaEnded, status_text::ended());",
          "setStatus(ps::Stopped, status_text::stopped());", ENGINE,
          ("PlayerPipelineTest.PlaysAFileAsOftenAsPlayCountSays",)),
    Fault("phase deadline never armed", "engine/pipeline/phase_watch.cpp",
          "if (!held_) { deadline_.arm(timeoutMs_, [this] { check(); }); }", "", ENGINE,
          ("PhaseDeadlines",)),
    Fault("reconnect budget re-armed by every retry", "engine/player/recovery.cpp",
          "if (!budget_.armed()) { const auto leftMs = std::max<std::int64_t>(0, "
          "policy_.giveUpAtMs() - nowMs);",
          "if (true) { const auto leftMs = std::max<std::int64_t>(0, "
          "ReconnectLimits{}.giveUpAfterMs);",
          ENGINE,
          ("RecoveryBudgets",)),
    Fault("a start gate without margin", "engine/pipeline/start_gate.cpp",
          "return ended || (firstNs >= 0 && queuedEndNs - firstNs >= neededNs());",
          "return ended || firstNs >= 0;",
          ("engine",),
          ("StartGateTest",)),
    Fault("a retry schedule without the quick phase", "engine/player/reconnect_policy.cpp",
          "if (lostWhilePlaying_ && nowMs - *firstLossMs_ < limits_.quickForMs) {",
          "if (false) {", ("engine",),
          ("ReconnectPolicyTest",)),
    Fault("candidate skipped without its failure", "engine/player/recovery.cpp",
          "lastCause_ = cause;", "", ENGINE,
          ("RecoveryBudgets", "Faults/PlayerFailureTest")),
    Fault("give-up without a Warning", "engine/player/recovery.cpp",
          "Step step = stepOf(Step::Kind::GiveUp);", "Step step = stepOf(Step::Kind::Hold);",
          ENGINE,
          ("RecoveryBudgets",)),
    Fault("Western titles read in other charsets", "engine/texts/unknown_text.cpp",
          "if (charsets::readsAsWestern(western)) {", "if (false) {", ENGINE,
          ("Titles/UnknownTextTest",)),
    Fault("titles left as icydemux reads them", "engine/texts/unknown_text.cpp",
          "return decodeBytes(*original);", "return std::string(bytes);", ENGINE,
          ("Titles/UnknownTextTest", "PlayerPipelineTest.ReadsTitles")),
    Fault("network back reconnects a paused stream", "engine/player/engine_player.cpp",
          "if (intent_ != Intent::Play || address_.kind != MediaAddress::Kind::Network) {",
          "if (address_.kind != MediaAddress::Kind::Network) {", ENGINE,
          ("NetworkBackTest",)),
    Fault("every network report reconnects", "engine/runtime/network_return.cpp",
          "settled_.arm(static_cast<int>(std::clamp<std::int64_t>(leftMs, 0, kQuietMs)), "
          "[this] { onBack_(); });", "static_cast<void>(leftMs); onBack_();", ENGINE,
          ("NetworkBackTest",)),
    Fault("the wake taken for the sleep", "engine/runtime/sleep_watch.cpp",
          "if (!goingToSleep) {", "if (goingToSleep) {", ENGINE,
          ("NetworkBackTest",)),
    Fault("two about windows", "ui/about_window.cpp",
          "if (window_.isNull()) { window_ = new AboutForm; }", "window_ = new AboutForm;", UI),
    Fault("wrong twips conversion", "ui/window_design.h",
          "inline constexpr int kTwipsPerPixel = 15;", "inline constexpr int kTwipsPerPixel = 12;",
          UI),
    Fault("Pause button wired to Continue", "ui/main_window.cpp",
          'onClick("C2", playback::TransportAction::Pause);',
          'onClick("C2", playback::TransportAction::Continue);', UI),
    Fault("every closing connection joined again", "engine/pipeline/live_rejoin.cpp",
          "if (!state.allowed || bytes - state.joinedAtBytes < LiveRejoin::kEarnedAfterBytes) {",
          "if (!state.allowed) {", ("engine",),
          ("Servers/GiveUpTest",)),
    Fault("live stream never joined again", "engine/pipeline/live_rejoin.cpp",
          "g_object_set(playbin, \"uri\", state.uri.c_str(), nullptr);", "", ("engine",),
          ("Servers/SteadyStreamTest", "NetworkBackTest")),
    Fault("an HLS stream ends with its playlist", "engine/pipeline/source_progress.h",
          "return adaptive ? fragmentsFinished.load() : sourceEnds.load() > rejoins.load();",
          "return sourceEnds.load() > rejoins.load();", ("engine",),
          ("PlayerPipelineTest.AStuckPackager", "Wraps/RollingHlsTest")),
    Fault("destroy a session inside its own callback", "engine/player/engine_player.cpp",
          "session_->close(); retired_.push_back(std::move(session_)); retireLater();",
          "session_.reset();", ("engine",),
          ("Faults/PlayerFailureTest", "PlayerPipelineTest.")),
    Fault("a pipeline taken down mid-request", "engine/runtime/state_worker.cpp",
          "return !busy || now >= waitsUntil || !busy();",
          "return !busy || now >= waitsUntil || true;", ("engine",),
          ("StateWorkerTest",)),
    Fault("status caption loses its indent", "playback/transport_rules.cpp",
          'view_.setStatusCaption("  " + onPlayer(', 'view_.setStatusCaption("" + onPlayer(',
          PLAYBACK),
    Fault("no Chinese dialog buttons", "app/main.cpp",
          "if (!velmora::ui::installToolkitTranslation(application)) {",
          "if (false && !velmora::ui::installToolkitTranslation(application)) {", APP,
          ("e2e_user_journey",)),
    Fault("main window without the program icon", "ui/main_window_design.cpp",
          ".icon = WindowIcon::Application}", ".icon = WindowIcon::None}", UI,
          ("e2e_user_journey",)),
    Fault("no reopen after the sound server returns", "engine/pipeline/server_link.cpp",
          "if (!closing_ && !gaveUp_ && reopenTimer_ == nullptr) {", "if (false) {", ("e2e",),
          ("e2e_sound_server",)),
]


def plant(fault, tree):
    """Returns the original text, or None when the anchor is not there exactly once."""
    path = tree / fault.path
    original = path.read_text(encoding="utf-8") if path.exists() else ""
    pattern = re.compile(r"\s*".join(re.escape(token) for token in fault.anchor.split()))
    matches = list(pattern.finditer(original))
    if len(matches) != 1:
        return None
    start, end = matches[0].span()
    path.write_text(original[:start] + fault.replacement + original[end:], encoding="utf-8")
    return original


def refresh_copy(commit, tree):
    """Makes tree hold exactly the files of commit, rewriting only those that differ."""
    archive = subprocess.run(["git", "-C", str(REPO), "archive", "--format=tar", commit],
                             check=True, capture_output=True).stdout
    wanted = set()
    with tarfile.open(fileobj=io.BytesIO(archive)) as tar:
        for member in filter(tarfile.TarInfo.isfile, tar.getmembers()):
            target = tree / member.name
            wanted.add(target)
            data = tar.extractfile(member).read()
            if not target.exists() or target.read_bytes() != data:
                target.parent.mkdir(parents=True, exist_ok=True)
                target.write_bytes(data)
                target.chmod(member.mode)
    for existing in list(tree.rglob("*")):
        if existing.is_file() and existing not in wanted:
            existing.unlink()


def build(tree, build_dir, log):
    if not (build_dir / "CMakeCache.txt").exists():
        subprocess.run(["cmake", "-S", str(tree), "-B", str(build_dir),
                        "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DVELMORA_BUILD_TESTS=ON"],
                       check=True, stdout=log, stderr=subprocess.STDOUT)
    try:
        return subprocess.run(["cmake", "--build", str(build_dir), "-j2"], stdout=log,
                              stderr=subprocess.STDOUT, timeout=BUILD_TIMEOUT_S).returncode == 0
    except subprocess.TimeoutExpired:
        return False


def failing_tests(build_dir, label, log, only):
    """Runs one label (or only the named tests of it); returns the names of those that failed."""
    command = ["ctest", "-L", f"^{label}$", "-E", FLAKY_TESTS, "--stop-on-failure",
               "--output-on-failure"]
    if only:
        command += ["-R", "^(" + "|".join(re.escape(name) for name in only) + ")"]
    try:
        result = subprocess.run(command, cwd=build_dir, capture_output=True, text=True,
                                timeout=LABEL_TIMEOUT_S)
    except subprocess.TimeoutExpired:
        return ["(label timed out)"]
    log.write(result.stdout)
    log.flush()
    if result.returncode == 0:
        return []
    failed = re.findall(r"^\s*\d+ - (\S+)", result.stdout, re.MULTILINE)
    return failed or [f"(ctest exit {result.returncode})"]


def try_fault(fault, tree, build_dir, log):
    """(verdict, the tests that failed)"""
    original = plant(fault, tree)
    if original is None:
        return "could not plant", []
    log.write(f"\n==== {fault.name}\n")
    try:
        if not build(tree, build_dir, log):
            return "did not build", []
        caught = next(((label, failed) for label in fault.labels
                       if (failed := failing_tests(build_dir, label, log, fault.tests))), None)
    finally:
        (tree / fault.path).write_text(original, encoding="utf-8")
    if caught is None:
        return "NOT caught", []
    label, failed = caught
    if set(failed) <= set(FIXTURE_TESTS):
        return "inconclusive (the test set-up failed)", failed
    # On a loaded machine a timing test may fail by itself: a catch counts only when the same
    # tests pass again without the fault.
    log.write(f"\n==== {fault.name}: the failing tests without the fault\n")
    if build(tree, build_dir, log) and not failing_tests(build_dir, label, log, failed):
        return f"caught by {label}", failed
    return "inconclusive (fails without it too)", failed


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--commit", default="HEAD", help="the commit to plant faults into")
    parser.add_argument("--only", nargs="*", help="names of the faults to try (default: all)")
    args = parser.parse_args()
    # Named now: the checkout may move on while the faults are planted.
    commit = subprocess.run(["git", "-C", str(REPO), "rev-parse", "--short", args.commit],
                            check=True, capture_output=True, text=True).stdout.strip()
    work = REPO / "build" / "planted-faults"
    tree, build_dir = work / "src", work / "build"
    tree.mkdir(parents=True, exist_ok=True)
    refresh_copy(commit, tree)
    caught = tried = 0
    with open(work / "plant.log", "a", encoding="utf-8") as log:
        log.write(f"\n######## {time.strftime('%Y-%m-%d %H:%M:%S')} planting in {commit}\n")
        if not build(tree, build_dir, log):
            print(f"the unchanged copy does not build; see {work / 'plant.log'}")
            return 1
        # The test media are encoded on first use, which is slow on a busy machine.
        subprocess.run(["ctest", "-R", "^(" + "|".join(FIXTURE_TESTS) + ")$"], cwd=build_dir,
                       stdout=log, stderr=subprocess.STDOUT, check=False)
        print(f"Planted faults in {args.commit} ({commit})")
        print("| fault | file | verdict | failing tests | s |\n|---|---|---|---|---|", flush=True)
        for fault in FAULTS:
            if args.only and fault.name not in args.only:
                continue
            started = time.monotonic()
            verdict, failed = try_fault(fault, tree, build_dir, log)
            tried += 1
            caught += verdict.startswith("caught")
            print(f"| {fault.name} | {fault.path} | {verdict} | {', '.join(failed[:3])} | "
                  f"{time.monotonic() - started:.0f} |", flush=True)
        build(tree, build_dir, log)  # leave the build matching the unchanged copy
    print(f"\n{caught} of {tried} caught")
    return 0


if __name__ == "__main__":
    sys.exit(main())
