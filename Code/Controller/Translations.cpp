#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <memory>
#include <utility>

void installTranslations(QCoreApplication& application)
{
    // Morvex's own are built in (the resources of translations/, under :/i18n); Qt's are Debian's
    // qt6-translations-l10n, where it is installed. A missing file leaves its texts in English.
    const QLocale locale;
    for (const auto& [name, folder] : { std::pair { "morvex", QStringLiteral(":/i18n") },
             std::pair { "qtbase", QLibraryInfo::path(QLibraryInfo::TranslationsPath) } }) {
        auto translator = std::make_unique<QTranslator>();
        if (!translator->load(locale, QLatin1String(name), QStringLiteral("_"), folder))
            continue;
        translator->setParent(&application);
        QCoreApplication::installTranslator(translator.release());
    }
}
