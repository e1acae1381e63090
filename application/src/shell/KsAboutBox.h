#pragma once
// The About box: the product's name and version, the maker's notice, the distributor's logo and
// text, and a dedication. At most one exists; asking again brings it forward.

#include <QDialog>

class QLabel;

class KsAboutBox : public QDialog {
    Q_OBJECT
public:
    // Shows the box without blocking, or brings the open one forward.
    static void about(QWidget* parent);
    // The "--about" launch: makes a Qt application of its own when none exists, runs the box
    // modally and deletes both again.
    static void runAlone(int& argc, char** argv);
    // The open box, or null.
    static KsAboutBox* instance();
    // Deletes the open box, if any.
    static void destroyInstance();

    // The rich text the box shows.
    static QString aboutText();

    QLabel* logoLabel() const { return m_logo; }
    QLabel* textLabel() const { return m_text; }

private:
    explicit KsAboutBox(QWidget* parent);
    static KsAboutBox* create(QWidget* parent);

    QLabel* m_logo = nullptr;
    QLabel* m_text = nullptr;
};
