#pragma once
// "録音": format, device, longest length and level-picture options of a new recording, with a button
// that asks the device whether it can record the format. Every change is stored at once.
// Controls carry their resource ids as object names ("1001", "1051", ...).

#include <QDialog>

#include <array>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace sonavik {

class Ui;
class WaveIn;
struct Workspace;

class RecordDialog : public QDialog {
    Q_OBJECT
public:
    RecordDialog(Workspace& ws, Ui& ui, WaveIn& device, QWidget* parent);

    // "テスト": whether the chosen device can record the format the settings give.
    void testFormat();

private:
    void refreshMonitorControls();
    void refreshPacketTotal();

    Workspace& ws_;
    Ui& ui_;
    WaveIn& device_;
    QCheckBox* useMapper_;
    QComboBox* devices_;
    QRadioButton* mono_;
    QRadioButton* stereo_;
    std::array<QRadioButton*, 6> rates_{};
    QLineEdit* customRate_;
    QRadioButton* bits8_;
    QRadioButton* bits16_;
    QCheckBox* onlyWhenSound_;
    QLineEdit* seconds_;
    QLabel* packetUnit_;
    QLineEdit* packets_;
    QLabel* packetTotal_;
    QGroupBox* monoGroup_;
    QCheckBox* monoWave_;
    QGroupBox* stereoGroup_;
    QRadioButton* waveType_;
    QRadioButton* lissajousType_;
    QCheckBox* stereoWave_;
    QCheckBox* lissajous_;
    QCheckBox* lissajousDecor_;
    QPushButton* test_;
};

// Shows "デバイスが行方不明です。" and returns false when there is no input device; otherwise runs the
// dialog modally and returns true for OK.
bool showRecordDialog(Workspace& ws, Ui& ui, WaveIn& device, QWidget* parent);

} // namespace sonavik
