#pragma once
// "再生": the playback settings. Every change is stored at once; OK and ｷｬﾝｾﾙ only close the dialog.
// Controls carry their resource ids as object names ("1201", "1203", ...).

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace sonavik {

class Ui;
class WaveOut;
struct Workspace;

class PlaybackDialog : public QDialog {
    Q_OBJECT
public:
    // titleChanged is called after the sample rate changed the sound.
    PlaybackDialog(Workspace& ws, Ui& ui, WaveOut& device, std::function<void()> titleChanged, QWidget* parent);

private:
    void refreshDeviceControls();
    void refreshPacketTotal();

    Workspace& ws_;
    Ui& ui_;
    WaveOut& device_;
    std::function<void()> titleChanged_;
    QCheckBox* useMapper_;
    QComboBox* devices_;
    QLineEdit* pitch_;
    QLineEdit* rate_;
    QLineEdit* volumeLeft_;
    QLineEdit* volumeRight_;
    QCheckBox* useDevice_;
    QCheckBox* storeInDevice_;
    QLineEdit* packets_;
    QLabel* packetUnit_;
    QLabel* packetTotal_;
    QLineEdit* sampleRate_;
    QCheckBox* buttonLoops_;
};

// Runs the dialog modally; true for OK.
bool showPlaybackDialog(Workspace& ws, Ui& ui, WaveOut& device, std::function<void()> titleChanged, QWidget* parent);

} // namespace sonavik
