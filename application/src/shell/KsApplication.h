#pragma once
// The Qt application of the program: also keeps the path of the last file-open event and the
// splash screen until the main window exists.

#include <QApplication>
#include <QString>

class QSplashScreen;

class KsApplication : public QApplication {
    Q_OBJECT
public:
    // argc must outlive the application, as QApplication requires.
    KsApplication(int& argc, char** argv);
    ~KsApplication() override;

    QString fileOpenPath() const { return m_fileOpenPath; }

    // Owned until taken; null when none is shown.
    void setSplash(QSplashScreen* splash);
    QSplashScreen* takeSplash();

protected:
    bool event(QEvent* event) override;

private:
    // Reads a control file named by a file-open event; tells the user when it cannot.
    void openControlFile(const QString& path);

    QString m_fileOpenPath;
    QSplashScreen* m_splash = nullptr;
};
