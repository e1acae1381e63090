#include "shell/KsAboutBox.h"

#include "document/Texts.h"
#include "shell/DistributorRecord.h"
#include "shell/Identity.h"
#include "shell/KsApp.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>

namespace {

QPointer<KsAboutBox> g_box;

constexpr int boxWidth = 320;
constexpr int maximumBoxHeight = 1024;
constexpr int textWidth = 280;
constexpr int logoWidth = 200;

QPixmap logoPicture()
{
    QPixmap logo = distributorLogo();
    if (logo.isNull())
        return QMessageBox::standardIcon(QMessageBox::Information);
    if (logo.width() > logoWidth)
        return logo.scaledToWidth(logoWidth, Qt::FastTransformation);
    return logo;
}

void bringForward(QWidget* box)
{
    box->show();
    box->raise();
    box->activateWindow();
}

} // namespace

KsAboutBox::KsAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setAttribute(Qt::WA_DeleteOnClose, true);
    setWindowTitle(ksAppTr("About %1", "[all]Title of the About box").arg(productName()));
    setMinimumSize(boxWidth, 0);
    setMaximumSize(boxWidth, maximumBoxHeight);
    setSizeGripEnabled(false);

    auto* closeShortcut = new QShortcut(QKeySequence::Close, this);
    closeShortcut->setContext(Qt::WindowShortcut);
    connect(closeShortcut, &QShortcut::activated, this, &QWidget::close);

    m_logo = new QLabel(this);
    m_logo->setPixmap(logoPicture());
    m_logo->setAlignment(Qt::AlignCenter);

    m_text = new QLabel(this);
    m_text->setTextFormat(Qt::RichText);
    m_text->setWordWrap(true);
    m_text->setAlignment(Qt::AlignCenter);
    // The width is fixed so that the layout's size hint, to which the box is fixed, comes to
    // the box's own width with the margins below.
    m_text->setFixedWidth(textWidth);
    m_text->setText(aboutText());

    auto* ok = new QPushButton(tr("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    const int margin = (boxWidth - textWidth) / 2;
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->addWidget(m_logo, 0, Qt::AlignHCenter);
    layout->addWidget(m_text, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString KsAboutBox::aboutText()
{
    const char* const boxNote = "[all]Appears in the About box";
    QString text = QStringLiteral("<p><font size=\"+1\"><b>%1</b></font></p>").arg(KsApp::productNameNbsp());
    const QString distributorText = distributorAboutText();
    if (!distributorText.isEmpty())
        text += QStringLiteral("<p><font size=\"+1\"><b>%1</b></font></p>").arg(distributorText);
    // A 40-digit revision is wider than the box and has no place to wrap; a zero-width space
    // in the middle gives it one.
    QString revision = sourceRevision();
    if (revision.size() > 20)
        revision.insert(revision.size() / 2, QChar(0x200B));
    text += QStringLiteral("<p>%1 %2 (%3)</p>").arg(ksAppTr("Version", boxNote), versionNumber(), revision);
    text += QStringLiteral("<p>%1 &copy; 2019-2026 %2. %3.</p>")
                .arg(ksAppTr("Copyright", boxNote), organizationName(),
                     ksAppTr("All rights reserved", boxNote));
    text += QStringLiteral("<hr/><p>%1 %2</p><hr/>")
                .arg(ksAppTr("For everyone who has ever traced a stray hair by hand.", "[all]"),
                     ksAppTr("May your edges find themselves.", "[all]"));
    return text;
}

KsAboutBox* KsAboutBox::create(QWidget* parent)
{
    g_box = new KsAboutBox(parent);
    return g_box.data();
}

void KsAboutBox::about(QWidget* parent)
{
    if (!QApplication::instance()) {
        // Only the "--about" launch comes here without a Qt application.
        int argc = 1;
        char name[] = "kestrine3";
        char* argv[] = {name, nullptr};
        runAlone(argc, argv);
        return;
    }
    KsAboutBox* box = g_box ? g_box.data() : create(parent);
    bringForward(box);
}

void KsAboutBox::runAlone(int& argc, char** argv)
{
    std::unique_ptr<QApplication> application;
    if (!QApplication::instance())
        application = std::make_unique<QApplication>(argc, argv);
    {
        std::unique_ptr<KsAboutBox> box(g_box ? g_box.data() : create(nullptr));
        box->setAttribute(Qt::WA_DeleteOnClose, false);
        box->setWindowFlags(box->windowFlags() | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);
        QTimer::singleShot(0, box.get(), [b = box.get()] { KsApp::runStartUpHook(b); });
        box->exec();
    }
    // The box goes before the Qt application it belongs to.
}

KsAboutBox* KsAboutBox::instance()
{
    return g_box.data();
}

void KsAboutBox::destroyInstance()
{
    delete g_box.data();
}
