#pragma once
// The window's texts in the desktop's language: Kelvaro's own translation and Qt's for its
// standard dialogs, when either exists for that language.

#include <QLocale>
#include <QString>

class QCoreApplication;

namespace kelvaro::app {

// Installs the translations for `locale` into `application` (which owns them). Returns the
// language Kelvaro's own texts are now in, "en" when there is no translation for it.
QString InstallTranslations(QCoreApplication& application, const QLocale& locale = QLocale());

}  // namespace kelvaro::app
