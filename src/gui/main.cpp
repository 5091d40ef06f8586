// sonavik2 [FILE.wav]
// sonavik2 --screenshot OUT.png [FILE.wav] [--fft SPEC.png [--log] [--gain G]]

#include "app/file_flows.h"
#include "app/main_controller.h"
#include "history/edit_history.h"
#include "document/undo_store.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/edit_dispatcher.h"
#include "gui/japanese_texts.h"
#include "gui/main_window.h"
#include "gui/qt_ui.h"
#include "gui/spectrogram_window.h"
#include "gui/terminate_signals.h"
#include "platform/console_ui.h"
#include "platform/os.h"
#include "settings/settings.h"

#include <QApplication>
#include <QFont>
#include <QTranslator>
#include <QPixmap>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

namespace {

void printUsage(std::ostream& out)
{
    out << "usage: sonavik2 [FILE.wav]\n"
           "       sonavik2 --screenshot OUT.png [FILE.wav] [--fft SPEC.png [--log] [--gain G]]\n"
           "The second form needs no display: it opens FILE, writes a picture of the main window to OUT.png,\n"
           "prints the window title and exits. Its messages go to stderr as 'caption: text'. With --fft it\n"
           "also runs FFT on the whole left channel with the stored FFT settings and writes a picture of\n"
           "the first spectrogram window at its first size to SPEC.png; --log colours it as the LOG button\n"
           "does and --gain G sets its brightness factor (above 0) as the gain buttons do (default 1).\n";
}

bool haveDisplay()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return true;
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

std::string absolutePath(const std::string& path)
{
    std::error_code ec;
    auto abs = std::filesystem::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

} // namespace

int main(int argc, char** argv)
{
    std::string screenshotPath;
    std::string spectrogramPath;
    std::string filePath;
    bool logColours = false;
    double gain = 1.0;
    bool gainGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printUsage(std::cout);
            return 0;
        }
        if (arg == "--screenshot" && i + 1 < argc) {
            screenshotPath = argv[++i];
        } else if (arg == "--fft" && i + 1 < argc) {
            spectrogramPath = argv[++i];
        } else if (arg == "--log") {
            logColours = true;
        } else if (arg == "--gain" && i + 1 < argc) {
            char* end = nullptr;
            const std::string value = argv[++i];
            gain = std::strtod(value.c_str(), &end);
            gainGiven = true;
            if (value.empty() || *end != '\0' || !(gain > 0.0) || !std::isfinite(gain)) {
                printUsage(std::cerr);
                return 2;
            }
        } else if (arg.rfind("--", 0) == 0 || !filePath.empty()) {
            printUsage(std::cerr);
            return 2;
        } else {
            filePath = arg;
        }
    }
    const bool screenshot = !screenshotPath.empty();
    if ((!spectrogramPath.empty() && !screenshot) || ((logColours || gainGiven) && spectrogramPath.empty())) {
        printUsage(std::cerr);
        return 2;
    }
    if (screenshot && !haveDisplay())
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!screenshot && !haveDisplay()) {
        std::cerr << "sonavik2: no display to open a window on (DISPLAY is not set).\n"
                     "Start it from a desktop session, or take a picture of the window without a display:\n"
                     "  sonavik2 --screenshot window.png [FILE.wav]\n";
        return 1;
    }

    // Audio buffers are counted in memory pages split into 4-byte frames.
    const std::size_t pageSize = sonavik::memoryPageSize();
    if (pageSize % 4 != 0) {
        std::cerr << '\a';
        return 0;
    }

    sonavik::JapaneseSystemLocale japaneseLocale;
    QApplication app(argc, argv);
    japaneseLocale.giveBack();
    QApplication::setApplicationName("Sonavik 2");
    // Qt's own texts (standard buttons, file dialogs) in Japanese like the rest.
    QTranslator qtTexts;
    sonavik::useJapaneseQtTexts(qtTexts);
    QFont font("IPAPGothic");
    font.setStyleHint(QFont::SansSerif);
    QApplication::setFont(font);

    sonavik::Workspace ws;
    ws.pageSize = pageSize;
    sonavik::QtUi startupUi;
    // In screenshot mode nothing may wait for an answer: every box goes to stderr, answered by default.
    sonavik::ConsoleUi consoleUi(std::cerr, sonavik::MessageAnswer::Yes);
    sonavik::Ui& bootUi = screenshot ? static_cast<sonavik::Ui&>(consoleUi) : startupUi;

    // A save in place that an earlier run never finished (parameter.ini too) is put back first.
    const std::vector<sonavik::UnfinishedSave> cutShort = sonavik::restoreUnfinishedSaves();
    ws.programDir = sonavik::findProgramDir(bootUi, sonavik::executablePath());
    sonavik::loadSettings(ws.settings, ws.programDir, bootUi);
    if (sonavik::fieldText(ws.settings.saveDir).empty())
        sonavik::setFieldText(ws.settings.saveDir, ws.programDir);
    if (sonavik::fieldText(ws.settings.openDir).empty())
        sonavik::setFieldText(ws.settings.openDir, ws.programDir);
    sonavik::resetTransferFiles(ws.programDir, bootUi);

    int code = 0;
    {
        std::unique_ptr<sonavik::ConsoleUi> windowConsole;
        std::unique_ptr<sonavik::MainWindow> window;
        if (screenshot) {
            // The console Ui passes titles and status texts on to the window's own Ui.
            windowConsole = std::make_unique<sonavik::ConsoleUi>(std::cerr, sonavik::MessageAnswer::Yes);
            window = std::make_unique<sonavik::MainWindow>(ws, windowConsole.get());
            windowConsole->setWindow(&window->qtUi());
        } else {
            window = std::make_unique<sonavik::MainWindow>(ws);
            sonavik::closeOnTerminateSignals(window.get());
        }
        window->controller().refreshTitle();
        window->show();
        sonavik::showUnfinishedSaves(screenshot ? static_cast<sonavik::Ui&>(*windowConsole) : window->qtUi(), cutShort);
        // A picture taken for a script asks nothing and leaves no history behind.
        if (!screenshot)
            window->controller().startHistory(sonavik::historyRoot());
        if (!filePath.empty())
            window->controller().openPath(absolutePath(filePath));

        if (screenshot) {
            QApplication::processEvents();
            const bool saved = window->grab().save(QString::fromStdString(screenshotPath), "PNG");
            std::cout << window->windowTitle().toStdString() << std::endl;
            if (!spectrogramPath.empty()) {
                // The FFT settings dialog answered OK, the whole left channel as the target.
                window->answerFftDialog(true);
                sonavik::runEditCommand(ws, *windowConsole, *window, sonavik::cmd::Fft, 1, -1);
                // The analysis runs on worker threads; its window opens when it is done.
                while (window->longEditRunning())
                    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
                QApplication::processEvents();
                const auto spectrograms = window->spectrogramWindows();
                if (spectrograms.empty()) {
                    std::cerr << "sonavik2: no spectrogram window was opened\n";
                    code = 1;
                } else {
                    // As the LOG and gain buttons leave it.
                    if (logColours)
                        spectrograms.front()->view().command(sonavik::spectrogram_cmd::LogColours);
                    spectrograms.front()->view().setGain(gain);
                    std::cout << spectrograms.front()->windowTitle().toStdString() << std::endl;
                    if (!spectrograms.front()->grab().save(QString::fromStdString(spectrogramPath), "PNG")) {
                        std::cerr << "sonavik2: cannot write " << spectrogramPath << '\n';
                        code = 1;
                    }
                }
            }
            window->close();
            if (!saved) {
                std::cerr << "sonavik2: cannot write " << screenshotPath << '\n';
                code = 1;
            }
        } else {
            code = QApplication::exec();
        }
    }

    sonavik::saveSettings(ws.settings, ws.programDir, bootUi);
    sonavik::releaseAll(ws.document, ws.undoStore);
    sonavik::resetTransferFiles(ws.programDir, bootUi);
    return code;
}
