#pragma once
// An edit host that keeps the spectrograms of the FFT command instead of opening windows: the
// command-line tool and the tests run the command through the dispatcher with it.

#include "edit/edit_dispatcher.h"
#include "spectrogram/spectrogram.h"

#include <memory>
#include <vector>

namespace sonavik {

class Ui;
struct Workspace;

class AnalysisCollector : public EditHost {
public:
    AnalysisCollector(Workspace& ws, Ui& ui) : ws_(ws), ui_(ui) {}

    // Without a dialog the stored FFT settings are limited as opening the dialog limits them.
    bool askParameters(int commandId) override;
    void analyseSpectrogram(const EditRegion& region, int channelCount) override;

    // One entry per region in target order; null where the analysis was refused (its message shown).
    std::vector<std::unique_ptr<Spectrogram>> results;

private:
    Workspace& ws_;
    Ui& ui_;
};

} // namespace sonavik
