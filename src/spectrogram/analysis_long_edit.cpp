#include "spectrogram/analysis_long_edit.h"

#include "document/workspace.h"
#include "edit/edit_control.h"
#include "edit/edit_dispatcher.h"
#include "edit/recorded_ui.h"
#include "platform/ui.h"
#include "settings/settings.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace sonavik {
namespace {

constexpr const char* kName = "処理中： FFT ( ";
constexpr const char* kNoMemory = "Mem Not Allo!";

class AnalysisJob : public LongEditJob {
public:
    AnalysisJob(const Settings& settings, std::vector<EditRegion> regions, SpectrogramOpener open, int threads)
        : settings_(settings), regions_(std::move(regions)), open_(std::move(open)), threads_(threads),
          results_(regions_.size()), logs_(regions_.size())
    {
        // Frames of sound the regions cover: what the progress counts.
        for (const EditRegion& r : regions_)
            total_ += std::max<std::int64_t>(static_cast<std::int64_t>(r.end) - r.start + 1, 0);
    }

    bool changesDocument() const override { return false; }

    bool runNextPiece(const SoundDocument& source, SoundDocument&, EditControl& control) override
    {
        const std::size_t i = next_.fetch_add(1);
        if (i >= regions_.size())
            return false;
        control_.store(&control);
        RecordingUi ui(logs_[i]);
        results_[i] = analyseSpectrogram(ui, source, regions_[i], settings_, threads_, &control);
        return true;
    }

    void completed(SoundDocument&) override {}
    std::int64_t totalFrames() const override { return total_; }

    std::string progressText() const override
    {
        const EditControl* control = control_.load();
        const std::int64_t done = control ? control->framesWritten() : 0;
        const std::int64_t percent = total_ > 0 ? std::min<std::int64_t>(done * 100 / total_, 100) : 0;
        return std::string(kName) + "データを FFT 中 " + std::to_string(percent) + " ％ )";
    }
    std::string doneText() const override { return std::string(kName) + "完了 )"; }
    std::string stoppedText() const override { return std::string(kName) + "中止 )"; }
    void reportFailure(Ui& ui) const override { showError(ui, kNoMemory); }

    void deliver(Ui& ui) override
    {
        for (std::size_t i = 0; i < regions_.size(); ++i) {
            replayShown(logs_[i], ui);
            if (results_[i] && open_) {
                const std::string title = spectrogramTitle(*results_[i]);
                open_(std::move(results_[i]), title);
            }
        }
    }

private:
    Settings settings_;
    std::vector<EditRegion> regions_;
    SpectrogramOpener open_;
    int threads_;
    std::vector<std::unique_ptr<Spectrogram>> results_;
    std::vector<std::vector<ShownMessage>> logs_;
    std::int64_t total_ = 0;
    std::atomic<std::size_t> next_{0};
    std::atomic<const EditControl*> control_{nullptr};
};

} // namespace

std::unique_ptr<LongEdit> startSpectrogramAnalysis(Workspace& ws, Ui& ui, const std::vector<EditRegion>& regions,
                                                   SpectrogramOpener open, const LongEditOptions& options)
{
    if (regions.empty())
        return nullptr;
    // One region at a time, each on every core: two at once would need the memory of both.
    LongEditOptions one = options;
    one.threads = 1;
    return LongEdit::startJob(ws, ui, std::make_unique<AnalysisJob>(ws.settings, regions, std::move(open), options.threads), one);
}

} // namespace sonavik
