// The folder tree and the photo browser, side by side as in the main window, with the sample photo
// folder selected and its thumbnails made.

#include "app/ui/folder_tree.h"
#include "app/ui/photo_browser.h"
#include "config/settings_store.h"
#include "tests/gallery/gallery.h"

#include <QApplication>
#include <QColorSpace>
#include <QColorTransform>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QPainter>

#include <libheif/heif.h>

#include <cstring>
#include <memory>

namespace {

using kestrelle::BrowserMode;
using kestrelle::FolderTree;
using kestrelle::PhotoBrowser;

void waitForThumbnails(PhotoBrowser& browser) {
    for (int i = 0; i < 20000 && browser.isWorkerRunning(); ++i)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

std::unique_ptr<QWidget> treeAndBrowser(BrowserMode mode) {
    const std::string photos = kestrelle::gallery::samplePhotoFolder();
    kestrelle::PlaceRoots roots = kestrelle::PlaceRoots::current();
    // Home is the folder that holds the sample photos.
    roots.home = photos.substr(0, photos.find_last_of('/'));
    roots.desktop.clear();
    roots.pictures.clear();

    auto window = std::make_unique<QWidget>();
    window->setWindowTitle(QStringLiteral("Kestrelle"));
    auto* layout = new QHBoxLayout(window.get());
    auto* tree = new FolderTree(std::make_unique<kestrelle::LocalFolderSource>(roots),
                                kestrelle::SettingsStore::instance(), window.get());
    auto* browser = new PhotoBrowser(window.get());
    layout->addWidget(tree, 1);
    layout->addWidget(browser, 2);
    QObject::connect(tree, &FolderTree::openFolderRequested, browser, &PhotoBrowser::openFolderPath);
    window->resize(900, 300);
    browser->setMode(mode);
    tree->build();
    tree->selectFolder(photos);
    waitForThumbnails(*browser);
    if (browser->count() > 2) {
        browser->item(1)->setSelected(true);
        browser->item(2)->setSelected(true);
    }
    return window;
}

KESTRELLE_GALLERY_ENTRY({"folder_tree_and_photo_browser", [] { return treeAndBrowser(BrowserMode::Photo); },
                         500});

KESTRELLE_GALLERY_ENTRY({"photo_browser_audio",
                         [] {
                             const std::string photos = kestrelle::gallery::samplePhotoFolder();
                             for (const char* name : {"Theme.wav", "Birdsong.WAV", "Evening Walk.mp3",
                                                      "Rain on the Roof.flac", "Voice note.m4a"}) {
                                 QFile file(QString::fromStdString(photos) + QLatin1Char('/') +
                                            QLatin1String(name));
                                 if (file.open(QIODevice::WriteOnly)) file.write("RIFF");
                             }
                             auto browser = std::make_unique<PhotoBrowser>();
                             browser->resize(600, 300);
                             browser->setMode(BrowserMode::Audio);
                             browser->openFolder(photos);
                             waitForThumbnails(*browser);
                             return std::unique_ptr<QWidget>(std::move(browser));
                         },
                         500});

// A colourful picture: the sRGB reference the phone formats are compared with.
QImage referencePicture() {
    QImage picture(400, 300, QImage::Format_RGB32);
    QLinearGradient sky(0, 0, 0, 300);
    sky.setColorAt(0, QColor(40, 110, 220));
    sky.setColorAt(1, QColor(250, 200, 120));
    QPainter painter(&picture);
    painter.fillRect(picture.rect(), sky);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 200, 40));
    painter.drawRect(0, 210, 400, 90);
    painter.setBrush(QColor(230, 30, 40));
    painter.drawEllipse(QPoint(290, 120), 60, 60);
    return picture;
}

// `picture` as a HEIF file of `format` (HEVC or AV1) through libheif's own encoders.
bool writeHeif(const QImage& picture, heif_compression_format format, const QString& file) {
    struct ContextFree {
        void operator()(heif_context* c) const { heif_context_free(c); }
    };
    struct EncoderFree {
        void operator()(heif_encoder* e) const { heif_encoder_release(e); }
    };
    struct ImageFree {
        void operator()(heif_image* i) const { heif_image_release(i); }
    };
    const std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
    heif_encoder* rawEncoder = nullptr;
    if (heif_context_get_encoder_for_format(context.get(), format, &rawEncoder).code != heif_error_Ok)
        return false;
    const std::unique_ptr<heif_encoder, EncoderFree> encoder(rawEncoder);
    heif_encoder_set_lossy_quality(encoder.get(), 90);
    heif_image* rawImage = nullptr;
    if (heif_image_create(picture.width(), picture.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                          &rawImage)
            .code != heif_error_Ok)
        return false;
    const std::unique_ptr<heif_image, ImageFree> image(rawImage);
    heif_image_add_plane(image.get(), heif_channel_interleaved, picture.width(), picture.height(), 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(plane + static_cast<std::ptrdiff_t>(y) * stride, rgb.constScanLine(y),
                    static_cast<std::size_t>(rgb.width()) * 3);
    if (heif_context_encode_image(context.get(), image.get(), encoder.get(), nullptr, nullptr).code !=
        heif_error_Ok)
        return false;
    return heif_context_write_to_file(context.get(), QFile::encodeName(file).constData()).code ==
           heif_error_Ok;
}

// The reference beside the same picture as HEIC, AVIF, WebP and an Adobe RGB JPEG (its colours stored
// in Adobe RGB, with the profile embedded): every thumbnail should look like the reference.
std::unique_ptr<QWidget> phoneFormats() {
    const QString folder =
        QString::fromStdString(kestrelle::gallery::samplePhotoFolder()) + QStringLiteral("/../phone formats");
    QDir().mkpath(folder);
    const QImage reference = referencePicture();
    reference.save(folder + QStringLiteral("/1 sRGB reference.png"));
    writeHeif(reference, heif_compression_HEVC, folder + QStringLiteral("/2 iPhone.heic"));
    writeHeif(reference, heif_compression_AV1, folder + QStringLiteral("/3 browser.avif"));
    reference.save(folder + QStringLiteral("/4 web.webp"), "WEBP", 90);
    QImage adobe = reference;
    const QColorTransform toAdobe =
        QColorSpace(QColorSpace::SRgb).transformationToColorSpace(QColorSpace(QColorSpace::AdobeRgb));
    for (int y = 0; y < adobe.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(adobe.scanLine(y));
        for (int x = 0; x < adobe.width(); ++x) row[x] = toAdobe.map(row[x]);
    }
    adobe.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
    adobe.save(folder + QStringLiteral("/5 camera Adobe RGB.jpg"), "JPEG", 92);

    auto browser = std::make_unique<PhotoBrowser>();
    browser->resize(640, 170);
    browser->openFolder(QDir::cleanPath(folder).toStdString());
    waitForThumbnails(*browser);
    return std::unique_ptr<QWidget>(std::move(browser));
}

KESTRELLE_GALLERY_ENTRY({"photo_browser_phone_formats", phoneFormats, 500});

}  // namespace
