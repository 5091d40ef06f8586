#include "spectrogram/analysis_collector.h"

#include "document/workspace.h"
#include "edit/command_ids.h"
#include "spectrogram/spectrogram_analysis.h"

namespace sonavik {

bool AnalysisCollector::askParameters(int commandId)
{
    if (commandId == cmd::Fft)
        normaliseFftSettings(ws_.settings);
    return true;
}

void AnalysisCollector::analyseSpectrogram(const EditRegion& region, int)
{
    results.push_back(sonavik::analyseSpectrogram(ui_, ws_.document, region, ws_.settings));
}

} // namespace sonavik
