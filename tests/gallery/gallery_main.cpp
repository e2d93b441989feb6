// Draws every registered window to <output folder>/<name>.png. Runs in a private, temporary home with
// the shipped profiles set up, so the real user's settings are never read or written.
//
//   kestrelle-gallery OUTPUT_FOLDER [NAME...]

#include "app/profile_setup.h"
#include "config/settings_store.h"
#include "tests/gallery/gallery.h"

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kestrelle::gallery {
namespace {

std::vector<Entry>& registry() {
    static std::vector<Entry> all;
    return all;
}

QTemporaryDir& scratchFolder() {
    static QTemporaryDir folder;
    return folder;
}

// A landscape photo with a sky, hills and a sun, different for each seed.
QImage samplePhoto(int seed, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, QColor::fromHsv((200 + seed * 37) % 360, 120, 230));
    sky.setColorAt(1, QColor::fromHsv((170 + seed * 37) % 360, 60, 250));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(250, 220, 90));
    painter.drawEllipse(QPoint(width * (2 + seed % 5) / 8, height / 4), height / 10, height / 10);
    painter.setBrush(QColor::fromHsv((90 + seed * 23) % 360, 150, 140));
    painter.drawEllipse(QPoint(width / 3, height), width / 2, height / 2);
    painter.setBrush(QColor::fromHsv((110 + seed * 23) % 360, 170, 110));
    painter.drawEllipse(QPoint(width * 4 / 5, height), width / 2, height / 3);
    return image;
}

// The window with a plain title bar above it (its title, "*" where Qt's "[*]" mark shows unsaved
// changes) and its open popup menus drawn where they lie on the screen.
QImage withTitleAndPopups(QWidget& window) {
    const QPixmap body = window.grab();
    const qreal ratio = body.devicePixelRatio();
    const int titleHeight = window.fontMetrics().height() + 12;
    QImage image(QSize(window.width(), window.height() + titleHeight) * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(QColor(60, 63, 68));
    QPainter painter(&image);
    QString title = window.windowTitle();
    title.replace(QStringLiteral("[*]"), window.isWindowModified() ? QStringLiteral("*") : QString());
    painter.setPen(Qt::white);
    painter.setFont(window.font());
    painter.drawText(QRect(0, 0, window.width(), titleHeight), Qt::AlignCenter, title);
    painter.drawPixmap(0, titleHeight, body);
    const QPoint origin = window.mapToGlobal(QPoint(0, 0));
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible() || !top->inherits("QMenu")) continue;
        painter.drawPixmap(top->mapToGlobal(QPoint(0, 0)) - origin + QPoint(0, titleHeight), top->grab());
    }
    return image;
}

void drawEntry(const Entry& entry, const QString& outputFolder) {
    std::unique_ptr<QWidget> window = entry.make();
    if (!window) return;
    window->show();
    if (entry.prepare) entry.prepare(*window);
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < entry.settleMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    const QString file =
        outputFolder + QLatin1Char('/') + QString::fromStdString(entry.name) + QStringLiteral(".png");
    const QImage picture = entry.withTitleAndPopups ? withTitleAndPopups(*window) : window->grab().toImage();
    if (!picture.save(file))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    else
        std::printf("%s\n", qPrintable(file));
    window->close();
    window.reset();
    QApplication::processEvents();
}

}  // namespace

bool add(Entry entry) {
    registry().push_back(std::move(entry));
    return true;
}

const std::vector<Entry>& entries() {
    return registry();
}

const std::string& samplePhotoFolder() {
    static const std::string folder = [] {
        // Inside the private home, where the folder tree shows it under Home.
        const QString path = scratchFolder().path() + QStringLiteral("/home/Pictures/Sample Photos");
        QDir().mkpath(path);
        const QSize sizes[] = {{1600, 1200}, {1200, 1600}, {1920, 1080},
                               {1024, 768},  {800, 800},   {1600, 900}};
        int seed = 0;
        for (QSize size : sizes) {
            samplePhoto(seed, size.width(), size.height())
                .save(path + QStringLiteral("/photo_%1.jpg").arg(seed + 1, 2, 10, QLatin1Char('0')), "JPEG",
                      85);
            ++seed;
        }
        return path.toStdString();
    }();
    return folder;
}

std::vector<std::string> samplePhotoPaths() {
    QDir folder(QString::fromStdString(samplePhotoFolder()));
    std::vector<std::string> paths;
    for (const QString& name : folder.entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name)) {
        paths.push_back(folder.filePath(name).toStdString());
    }
    return paths;
}

}  // namespace kestrelle::gallery

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kestrelle-gallery OUTPUT_FOLDER [NAME...]\n");
        return 2;
    }
    // A private home: the settings and profiles the windows read are made fresh for this run.
    QTemporaryDir& scratch = kestrelle::gallery::scratchFolder();
    const QByteArray home = (scratch.path() + QStringLiteral("/home")).toLocal8Bit();
    QDir().mkpath(QString::fromLocal8Bit(home));
    setenv("HOME", home.constData(), 1);
    setenv("XDG_DATA_HOME", (home + "/.local/share").constData(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kestrelle-gallery-bus", 1);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/kestrelle-gallery-bus", 1);

    QApplication app(argc, argv);
    kestrelle::setUpUserProfileFolder();
    kestrelle::SettingsStore::instance();

    const QString outputFolder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outputFolder);
    std::vector<std::string> wanted(argv + 2, argv + argc);
    for (const kestrelle::gallery::Entry& entry : kestrelle::gallery::entries()) {
        if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), entry.name) == wanted.end()) continue;
        kestrelle::gallery::drawEntry(entry, outputFolder);
    }
    return 0;
}
