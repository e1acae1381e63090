#include "shell/KsTranslations.h"

#include "shell/Klogger.h"

#include <QCoreApplication>
#include <QTranslator>

namespace {

KsTranslations* g_instance = nullptr;

bool isAsciiLetter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
           || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

} // namespace

KsTranslations::KsTranslations(const QString& directory) : m_directory(directory)
{
    g_instance = this;
}

KsTranslations::~KsTranslations()
{
    unloadTranslations();
    if (g_instance == this)
        g_instance = nullptr;
}

KsTranslations* KsTranslations::instance()
{
    return g_instance;
}

QString KsTranslations::systemLanguage(const QString& localeName)
{
    const QString name = localeName.trimmed();
    for (int i = 0; i < name.size(); ++i)
        if (!isAsciiLetter(name[i]))
            return name.left(i);
    return name;
}

bool KsTranslations::loadTranslations(const QString& localeName)
{
    const QString language = systemLanguage(localeName);
    Klogger::stream() << "Your active language is [" << language << "]" << Klogger::endl;
    if (language == QLatin1String("en"))
        return true;
    return loadLanguage(language);
}

bool KsTranslations::loadLanguage(const QString& language)
{
    load(m_qtTranslators, language, QStringLiteral("qt_") + language, "Qt");
    return load(m_ourTranslators, language, QStringLiteral("all_") + language, "our");
}

bool KsTranslations::load(QMap<QString, QTranslator*>& translators, const QString& language,
                          const QString& fileName, const char* what)
{
    auto* translator = new QTranslator();
    const bool loaded = translator->load(fileName, m_directory);
    if (loaded) {
        // A second load of one language replaces the first rather than leaking it.
        delete translators.take(language);
        QCoreApplication::installTranslator(translator);
        translators.insert(language, translator);
    } else {
        delete translator;
    }
    Klogger::stream() << "Loading " << what << " translation file " << m_directory << '/'
                      << fileName << " - " << (loaded ? "ok" : "failed") << '.' << Klogger::endl;
    return loaded;
}

void KsTranslations::unloadTranslations()
{
    for (auto* translators : {&m_qtTranslators, &m_ourTranslators}) {
        for (QTranslator* translator : qAsConst(*translators)) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
        translators->clear();
    }
}
