#pragma once
// The installed translations of the run: the toolkit's own ("qt_" + language) and ours
// ("all_" + language), looked for in one folder, kept per language and removed again at the
// end. The language is chosen once per run.

#include <QLocale>
#include <QMap>
#include <QString>

class QTranslator;

class KsTranslations {
public:
    explicit KsTranslations(const QString& directory);
    // Removes and deletes every translator.
    ~KsTranslations();
    KsTranslations(const KsTranslations&) = delete;
    KsTranslations& operator=(const KsTranslations&) = delete;

    // Null while none exists.
    static KsTranslations* instance();

    // The language code of a locale name: trimmed and cut before its first character that is
    // not an ASCII letter ("en_GB" gives "en", "C" stays "C").
    static QString systemLanguage(const QString& localeName = QLocale::system().name());

    // Logs the language; "en" loads nothing. True when our translation is in force.
    bool loadTranslations(const QString& localeName = QLocale::system().name());
    // Loads and installs both files for the language, logging each result; true when ours
    // was loaded.
    bool loadLanguage(const QString& language);
    void unloadTranslations();

    QString directory() const { return m_directory; }
    int translatorCount() const { return m_qtTranslators.size() + m_ourTranslators.size(); }

private:
    bool load(QMap<QString, QTranslator*>& translators, const QString& language,
              const QString& fileName, const char* what);

    QString m_directory;
    QMap<QString, QTranslator*> m_qtTranslators;
    QMap<QString, QTranslator*> m_ourTranslators;
};
