#pragma once
// The application object of the program itself: takes over the image of its launch mode,
// builds the main window, and at the end hands the result back to whoever started it.
// In the host modes it owns the images it hands to the model and the pixels under them; the
// model only refers to them, so it goes before them.

#include "shell/KsApp.h"

#include "platform/shared_memory.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

class KsAppStandAlone : public KsApp {
    Q_OBJECT
public:
    // When given, handBackFailed is set once the destructor's hand-back could not deliver the
    // result: the caller's exit status must then say so, since the object is gone by then.
    explicit KsAppStandAlone(LaunchMode mode, bool* handBackFailed = nullptr);
    // Hands the result back (unless an exception is on its way out), then deletes the main
    // window and the model, closes the inherited handles and frees the images and pixels.
    ~KsAppStandAlone() override;

    void init(int& argc, char** argv) override;
    KsSourceImage* sourceImage() override;
    KsSourceImage* outputImage() override;

private:
    void takeTunnel(const QStringList& arguments);
    void takeXmlTunnel(const QString& controlFile);
    void takeAperture(const QString& imageFile);

    void handBack();
    void handBackTunnel();
    void handBackXmlTunnel();
    void handBackAperture();
    // Where the result goes, as the user knows it: the output file, or the host's document.
    QString handBackTarget() const;
    // Logs the failure, tells the user and marks the run as failed for its exit status.
    void failHandBack(const QString& target, const QString& reason);

    // A view of the whole mapping when it holds the hand-over's image; empty (and logged, the
    // reason also in `reason` when given) when it cannot be mapped or is too small for the
    // command line's geometry.
    platform::SharedMemoryView mapHandOver(platform::SharedMemoryHandle handle, const char* which,
                                           QString* reason = nullptr) const;
    unsigned bytesPerPixel() const;
    bool swapsBytes() const;

    const int m_uncaughtAtStart;
    bool* const m_handBackFailed;

    platform::SharedMemoryHandle m_resultHandle = platform::kNoSharedMemory;
    platform::SharedMemoryHandle m_sourceHandle = platform::kNoSharedMemory;
    qint64 m_width = 0;
    qint64 m_height = 0;
    int m_bits = 0;
    QString m_byteOrder;
    QString m_title;
    // Where the control file of the launch asked for the cut-out.
    QString m_outputPath;

    // Pixels in the order B, G, R, A; the images below are views of them.
    std::unique_ptr<std::uint8_t[]> m_source8;
    std::unique_ptr<std::uint8_t[]> m_output8;
    std::unique_ptr<std::uint16_t[]> m_source16;
    std::unique_ptr<std::uint16_t[]> m_output16;

    std::unique_ptr<KsSourceImage> m_sourceImage;
    std::unique_ptr<KsSourceImage> m_editedImage; // edit in place: the copy saved back
    std::unique_ptr<KsSourceImage> m_outputImage;
};
