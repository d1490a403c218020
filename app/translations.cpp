#include "app/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

namespace kelvaro::app {
namespace {

// Installs the translation `name` finds for `locale` in `folder`; the application owns it.
const QTranslator* Install(QCoreApplication& application, const QLocale& locale,
                           const QString& name, const QString& folder)
{
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(locale, name, QStringLiteral("_"), folder))
        return nullptr;
    translator->setParent(&application);
    QCoreApplication::installTranslator(translator.get());
    return translator.release();
}

}  // namespace

QString InstallTranslations(QCoreApplication& application, const QLocale& locale)
{
    // Qt's own texts (the file dialog's buttons, say): a missing file only leaves them in
    // English.
    Install(application, locale, QStringLiteral("qtbase"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    // Built into the program, so that no installation can lose them.
    const QTranslator* own =
        Install(application, locale, QStringLiteral("kelvaro"), QStringLiteral(":/i18n"));
    return own ? own->language().section('_', 0, 0) : QStringLiteral("en");
}

}  // namespace kelvaro::app
