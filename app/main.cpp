// The program's main routine: the application, the main window, then the settings dialog
// (hidden until Settings), and the message loop. Closing the main window ends the program.

#include <QApplication>
#include <csignal>

#include "converter/app_folders.h"
#include "app/main_window.h"
#include "app/platform_services.h"
#include "app/settings_dialog.h"
#include "app/translations.h"

int main(int argc, char* argv[])
{
    // A file-size limit fails the output's write, with its reason on the row, rather than
    // killing the window.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kelvaro"));
    kelvaro::app::InstallTranslations(application);
    QApplication::setApplicationVersion(QStringLiteral("2.0"));
    // Lets the desktop match the windows with kelvaro.desktop and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("kelvaro"));

    kelvaro::app::TDesktopServices services;
    kelvaro::app::TForm1 window(services, kelvaro::AppFoldersFromEnvironment());
    // Owned by the window; reads the output folder the window has just read.
    window.SetSettingsDialog(new kelvaro::app::TFset(window, services));
    window.show();
    return application.exec();
}
