// The program's main routine: the application, the main window, then the settings dialog
// (hidden until Settings), the files given on the command line, and the message loop.
// Closing the main window ends the program.

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTimer>
#include <csignal>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/platform_services.h"
#include "app/settings_dialog.h"
#include "app/translations.h"
#include "converter/app_folders.h"
#include "converter/target_formats.h"

int main(int argc, char* argv[])
{
    // A file-size limit fails the output's write, with its reason on the row, rather than
    // killing the window.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kelvaro"));
    kelvaro::app::InstallTranslations(application);
    QApplication::setApplicationVersion(QStringLiteral("2.0"));
    // Lets the desktop match the windows with the desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kelvaro::app::kDesktopId));

    // The desktop's "Open With" hands over files (and folders) as arguments.
    QCommandLineParser parser;
    std::vector<std::string> formats;
    for (const kelvaro::TFormatInfo& format : kelvaro::TargetFormats())
        formats.emplace_back(format.Label);
    parser.setApplicationDescription(
        QStringLiteral("Converts audio files to %1.")
            .arg(QString::fromStdString(kelvaro::ListText(formats, "or"))));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("files"),
                                 QStringLiteral("Files to add to the list; a folder adds the "
                                                "audio files beneath it."),
                                 QStringLiteral("[FILE|FOLDER...]"));
    parser.process(application);

    kelvaro::app::TDesktopServices services;
    kelvaro::app::TForm1 window(services, kelvaro::AppFoldersFromEnvironment());
    // Owned by the window; reads the output folder the window has just read.
    window.SetSettingsDialog(new kelvaro::app::TFset(window, services));
    window.show();
    QStringList files;
    for (const QString& file : parser.positionalArguments())
        files << QDir::current().absoluteFilePath(file);
    // Once the window answers: adding a large folder lets its events run as it goes.
    if (!files.isEmpty())
        QTimer::singleShot(0, &window, [&window, files] { window.AddFiles(files); });
    return application.exec();
}
