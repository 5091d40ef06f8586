#include "edit/long_edit.h"

#include "document/sample_summary.h"
#include "document/sound_document.h"
#include "document/window_title.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/convolution.h"
#include "edit/edit_commands.h"
#include "edit/edit_control.h"
#include "edit/edit_dispatcher.h"
#include "edit/equalizer.h"
#include "edit/progress.h"
#include "edit/recorded_ui.h"
#include "history/edit_history.h"
#include "platform/os.h"
#include "platform/ui.h"
#include "settings/settings.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace sonavik {
namespace {

constexpr int kMaxThreads = 64;
// A region is cut into runs of at least this many blocks: every run after the first filters one block
// twice.
constexpr std::int64_t kMinRunBlocks = 4;

bool regionFits(const SoundDocument& doc, const EditRegion& r)
{
    return r.start >= 0 && r.end <= doc.frameCount - 1 && r.end >= r.start && r.channel >= 0
           && r.channel < doc.format.nChannels;
}

// Selections of one channel never overlap; if a damaged table makes them, a region would read what
// the one before it wrote, and only an edit in place on one thread gives that result.
bool regionsOverlap(std::vector<EditRegion> regions)
{
    std::sort(regions.begin(), regions.end(), [](const EditRegion& a, const EditRegion& b) {
        return a.channel != b.channel ? a.channel < b.channel : a.start < b.start;
    });
    for (std::size_t i = 1; i < regions.size(); ++i)
        if (regions[i].channel == regions[i - 1].channel && regions[i].start <= regions[i - 1].end)
            return true;
    return false;
}

bool unitLevel(double v) { return v >= 0.0 && v <= 1.0; }

} // namespace

int defaultEditThreads()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(cores), 1, kMaxThreads);
}

struct LongEdit::State {
    struct RegionWork {
        EditRegion region;
        bool prepared = false;
        bool usable = false;
        bool splittable = true;
        std::int64_t blocks = 0;
        std::int64_t runBlocks = 0;
        std::int64_t next = 0;
        std::shared_ptr<const ConvolutionPlan> convolution;
        std::shared_ptr<const EqualizerPlan> equalizer;
        std::vector<ShownMessage> log;                   // the region check and the steps before the blocks
        std::map<std::int64_t, std::vector<ShownMessage>> runs;  // by first block
        std::string lastText;
    };
    struct Run {
        std::size_t index;
        EditRegion region;
        std::int64_t first;
        std::int64_t end;
        std::shared_ptr<const ConvolutionPlan> convolution;
        std::shared_ptr<const EqualizerPlan> equalizer;
    };

    Workspace& ws;
    int commandId;
    const char* name;
    int threads = 1;
    Settings settings;
    SoundDocument working;
    const SoundDocument* source = nullptr;
    std::vector<RegionWork> regions;
    std::int64_t totalFrames = 0;
    std::unique_ptr<LongEditJob> job;  // instead of regions
    std::shared_ptr<const ResponseSamples> response;  // the convolution's, read before the workers start
    EditControl control;
    // The reverb noise continues the session's sequence; it goes back to the Workspace only when the
    // edit is done, so a cancelled reverb leaves the generator where it was.
    std::uint32_t noiseState = 1;

    std::mutex mutex;  // regions, current
    std::size_t current = 0;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> failed{false};

    mutable std::mutex textMutex;
    std::string stepText;

    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    bool concluded = false;
    std::thread runner;

    State(Workspace& w, int id)
        : ws(w), commandId(id), name(id == cmd::Equalize ? kEqualizerProgressName : kConvolutionProgressName),
          noiseState(w.reverbNoiseState)
    {
    }

    std::string text(const std::string& inside) const { return std::string("処理中： ") + name + " ( " + inside + " )"; }

    void setStepText(const std::string& t)
    {
        std::lock_guard lock(textMutex);
        stepText = t;
    }

    // With mutex held, in target order: the region check, then the response or the weights, with the
    // edit's own texts and messages. The reverb draws its noise here, one region after the other in
    // target order, so each region gets the noise a one-thread run gives it; all runs of a region
    // share the one response.
    void prepare(RegionWork& w)
    {
        w.prepared = true;
        RecordingUi ui(w.log, [this, &w](const std::string& t) {
            w.lastText = t;
            setStepText(t);
        });
        EditContext context{working, ui, settings, &control, &noiseState};
        if (!regionFits(working, w.region)) {
            showError(ui, "選択領域が不正です");
            return;
        }
        if (commandId == cmd::Equalize) {
            auto plan = std::make_shared<EqualizerPlan>();
            w.usable = prepareEqualizer(context, w.region, *plan);
            w.blocks = equalizerBlockCount(w.region, *plan);
            w.equalizer = std::move(plan);
        } else {
            auto plan = std::make_shared<ConvolutionPlan>();
            w.usable = prepareConvolution(context, commandId == cmd::Reverb ? ResponseSource::Reverb : ResponseSource::File,
                                          *plan, response.get());
            w.blocks = convolutionBlockCount(w.region, *plan);
            w.convolution = std::move(plan);
        }
        w.usable = w.usable && w.blocks > 0;
        const std::int64_t even = (w.blocks + threads - 1) / threads;
        w.runBlocks = w.splittable ? std::max(even, std::min(w.blocks, kMinRunBlocks)) : w.blocks;
    }

    std::optional<Run> nextRun()
    {
        std::lock_guard lock(mutex);
        while (current < regions.size() && !control.stopRequested()) {
            RegionWork& w = regions[current];
            if (!w.prepared)
                prepare(w);
            if (w.usable && w.next < w.blocks) {
                Run run{current, w.region, w.next, std::min(w.next + w.runBlocks, w.blocks), w.convolution, w.equalizer};
                w.next = run.end;
                if (w.next == w.blocks) {
                    // The runs keep what they need; the region's own hold goes, so at most the regions
                    // being worked on hold a response.
                    w.convolution.reset();
                    w.equalizer.reset();
                }
                return run;
            }
            ++current;
        }
        return std::nullopt;
    }

    void fail()
    {
        failed = true;
        control.requestStop();
    }

    void work()
    {
        // A transform that takes seconds gives up as soon as a stop is asked for.
        FftStopScope stopScope(&control);
        try {
            if (job) {
                while (!control.stopRequested() && job->runNextPiece(*source, working, control)) {
                }
                return;
            }
            while (std::optional<Run> run = nextRun()) {
                std::vector<ShownMessage> log;
                RecordingUi ui(log);
                EditContext context{working, ui, settings, &control};
                const bool ok = run->equalizer
                                    ? equalizeBlocks(context, *source, run->region, run->region.channel, *run->equalizer,
                                                     run->first, run->end, nullptr)
                                    : convolveBlocks(context, *source, run->region, *run->convolution, run->first,
                                                     run->end, nullptr);
                if (!ok)
                    throw std::bad_alloc();
                std::lock_guard lock(mutex);
                regions[run->index].runs[run->first] = std::move(log);
            }
        } catch (const EditStopped&) {
        } catch (...) {
            fail();
        }
    }

    void runAll()
    {
        std::vector<std::thread> helpers;
        for (int i = 1; i < threads; ++i) {
            try {
                helpers.emplace_back([this] { work(); });
            } catch (...) {
                break;  // fewer threads, same frames
            }
        }
        work();
        for (std::thread& t : helpers)
            t.join();
        if (!control.stopRequested() && job) {
            try {
                job->completed(working);
            } catch (...) {
                working.summary.clear();
            }
        } else if (!control.stopRequested()) {
            try {
                // The summary covers both channels at once: frames that several regions share (the two
                // channels of a whole sound) are read again only once.
                std::vector<std::pair<std::int64_t, std::int64_t>> spans;
                for (const RegionWork& w : regions)
                    if (w.usable)
                        spans.emplace_back(w.region.start, w.region.end);
                std::sort(spans.begin(), spans.end());
                for (std::size_t i = 0; i < spans.size();) {
                    auto [first, last] = spans[i];
                    for (++i; i < spans.size() && spans[i].first <= last + 1; ++i)
                        last = std::max(last, spans[i].second);
                    noteSamplesChanged(working, first, last);
                }
            } catch (...) {
                working.summary.clear();  // rebuilt when next drawn
            }
        }
        std::lock_guard lock(doneMutex);
        done = true;
        doneSignal.notify_all();
    }

    void join()
    {
        {
            std::unique_lock lock(doneMutex);
            doneSignal.wait(lock, [this] { return done; });
        }
        if (runner.joinable())
            runner.join();
    }
};

LongEdit::LongEdit(std::unique_ptr<State> state) : state_(std::move(state)) {}

LongEdit::~LongEdit()
{
    if (!state_)
        return;
    cancel();
    state_->join();
    if (!state_->concluded)
        state_->ws.longEditRunning = false;
}

namespace {

bool takeWorkingCopy(Workspace& ws, Ui& ui, SoundDocument& working)
{
    // The old undo store is kept until the edit is done, so that a cancel or a failure leaves it as
    // it was; without memory for the copy beside it the edit does not start.
    const std::size_t bytes = ws.document.samples.size();
    if (memoryRoomFor(bytes))
        working = ws.document.copyWithSamples();
    if (working.samples.isNull()) {
        ui.beepWithReason(BeepKind::Default, noMemoryReason("the working copy of the sound", bytes));
        return false;
    }
    return true;
}

} // namespace

std::unique_ptr<LongEdit> LongEdit::startJob(Workspace& ws, Ui& ui, std::unique_ptr<LongEditJob> job,
                                             const LongEditOptions& options)
{
    if (!job || !ws.document.hasData() || ws.longEditRunning)
        return nullptr;
    auto state = std::make_unique<State>(ws, 0);
    if (job->changesDocument() && !takeWorkingCopy(ws, ui, state->working))
        return nullptr;
    state->totalFrames = job->totalFrames();
    state->job = std::move(job);
    state->control.onBlock = options.onBlock;
    state->source = &ws.document;
    state->threads = std::clamp(options.threads > 0 ? options.threads : defaultEditThreads(), 1, kMaxThreads);
    ws.longEditRunning = true;
    State* s = state.get();
    try {
        s->runner = std::thread([s] { s->runAll(); });
    } catch (...) {
        s->runAll();
    }
    return std::unique_ptr<LongEdit>(new LongEdit(std::move(state)));
}

std::unique_ptr<LongEdit> LongEdit::start(Workspace& ws, Ui& ui, int commandId, int target, int slot,
                                          const LongEditOptions& options)
{
    const EditCommand* command = findEditCommand(commandId);
    if (!command || !command->longRunning || !ws.document.hasData() || ws.longEditRunning)
        return nullptr;
    auto state = std::make_unique<State>(ws, commandId);
    // A question about the response file is the user's to answer, not a worker's.
    if (commandId == cmd::Convolve) {
        state->response = loadResponse(ui, fieldText(ws.settings.responsePath), fieldText(ws.settings.openDir));
        if (!state->response)
            return nullptr;
    }
    if (!takeWorkingCopy(ws, ui, state->working))
        return nullptr;
    state->settings = ws.settings;
    state->control.onBlock = options.onBlock;
    const std::vector<EditRegion> regions = targetRegions(ws.document, ws.red, target, slot);
    std::vector<EditRegion> fitting;
    for (const EditRegion& r : regions)
        if (regionFits(ws.document, r))
            fitting.push_back(r);
    const bool inPlace = regionsOverlap(fitting);
    state->source = inPlace ? &state->working : &ws.document;
    state->threads = inPlace ? 1 : std::clamp(options.threads > 0 ? options.threads : defaultEditThreads(), 1, kMaxThreads);
    for (const EditRegion& r : regions) {
        State::RegionWork w;
        w.region = r;
        // A run that starts inside a region picks up the curve the block before it used; that holds for
        // any alpha the envelope can give between levels 0 and 1.
        w.splittable = !inPlace && unitLevel(r.alphaStart) && unitLevel(r.alphaEnd);
        if (regionFits(ws.document, r))
            state->totalFrames += static_cast<std::int64_t>(r.end) - r.start + 1;
        state->regions.push_back(std::move(w));
    }
    ws.longEditRunning = true;
    State* s = state.get();
    try {
        s->runner = std::thread([s] { s->runAll(); });
    } catch (...) {
        s->runAll();  // no thread to be had: the same work on this one
    }
    return std::unique_ptr<LongEdit>(new LongEdit(std::move(state)));
}

void LongEdit::cancel()
{
    state_->cancelled = true;
    state_->control.requestStop();
}

bool LongEdit::cancelRequested() const { return state_->cancelled; }

bool LongEdit::finished() const
{
    std::lock_guard lock(state_->doneMutex);
    return state_->done;
}

bool LongEdit::waitFor(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(state_->doneMutex);
    return state_->doneSignal.wait_for(lock, timeout, [this] { return state_->done; });
}

void LongEdit::wait() { state_->join(); }

int LongEdit::percent() const
{
    const std::int64_t total = state_->totalFrames;
    return total > 0 ? static_cast<int>(std::min<std::int64_t>(state_->control.framesWritten() * 100 / total, 100)) : 0;
}

int LongEdit::threadCount() const { return state_->threads; }

std::string LongEdit::progressText() const
{
    if (state_->job)
        return state_->job->progressText();
    if (state_->control.framesWritten() > 0)
        return state_->text("データを FFT 中 " + std::to_string(percent()) + " ％");
    std::lock_guard lock(state_->textMutex);
    return state_->stepText;
}

LongEditOutcome LongEdit::finish(Ui& ui, const EditHost& host)
{
    State& s = *state_;
    s.join();
    Workspace& ws = s.ws;
    s.concluded = true;
    ws.longEditRunning = false;
    if (s.cancelled || s.failed) {
        if (!s.cancelled && s.job) {
            s.job->reportFailure(ui);
        } else if (!s.cancelled) {
            if (s.commandId == cmd::Equalize)
                ui.beepWithReason(BeepKind::Error, "not enough memory for the equaliser's buffers");
            else
                showError(ui, "メモリがたりません");
        }
        showProgress(ui, s.job ? s.job->stoppedText() : s.text("中止"));
        refreshTitle(ws, ui);
        return s.cancelled ? LongEditOutcome::Cancelled : LongEditOutcome::Failed;
    }
    if (s.job && !s.job->changesDocument()) {
        s.job->deliver(ui);
        showProgress(ui, s.job->doneText());
        return LongEditOutcome::Done;
    }
    std::string lastText = s.job ? s.job->doneText() : std::string();
    for (const State::RegionWork& w : s.regions) {
        replayShown(w.log, ui);
        for (const auto& [first, log] : w.runs)
            replayShown(log, ui);
        if (w.prepared)
            lastText = w.usable ? s.text("完了") : w.lastText;
    }
    SoundDocument edited = ws.document.copyWithoutSamples();
    edited.samples = std::move(s.working.samples);
    edited.summary = std::move(s.working.summary);
    ws.undoStore = std::move(ws.document);
    ws.document = std::move(edited);
    ws.reverbNoiseState = s.noiseState;
    if (!lastText.empty())
        showProgress(ui, lastText);
    markModified(ws, ui);
    ChangeNote note;
    note.commandId = s.commandId;
    if (const EditCommand* command = findEditCommand(s.commandId))
        note.name = command->menuText;
    noteChange(ws, ui, note);
    clampViewsToLength(ws, host);
    return LongEditOutcome::Done;
}

bool refusedForLongEdit(const Workspace& ws, Ui& ui)
{
    if (!ws.longEditRunning)
        return false;
    showNotice(ui, kLongEditRefusal);
    return true;
}

bool runLongEditToEnd(Workspace& ws, Ui& ui, const EditHost& host, int commandId, int target, int slot,
                      const LongEditOptions& options)
{
    std::unique_ptr<LongEdit> edit = LongEdit::start(ws, ui, commandId, target, slot, options);
    if (!edit)
        return false;
    ui.setCursor(CursorKind::Wait);
    edit->wait();
    const LongEditOutcome outcome = edit->finish(ui, host);
    ui.setCursor(CursorKind::Arrow);
    return outcome == LongEditOutcome::Done;
}

} // namespace sonavik
