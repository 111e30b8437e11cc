#include "ui/Icons.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QTimer>
#include <algorithm>
#include <span>
#include <vector>

namespace velmarune {

namespace {
// Tray hosts ask for anything from 16 to 64 px; each size is drawn sharp.
constexpr int kTraySizes[] = {16, 22, 24, 32, 48, 64};
// Counts from 10 on all read "9+".
constexpr int64_t kLargestBadge = 10;

// The picture at each size, the file read once.
std::vector<QPixmap> renderSvg(const QString& path, std::span<const int> sizesPx) {
    QSvgRenderer renderer(path);
    std::vector<QPixmap> pixmaps;
    for (int size : sizesPx) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        pixmaps.push_back(pixmap);
    }
    return pixmaps;
}

QString micFile(AppMode mode) {
    switch (mode) {
        case AppMode::dictating:
            return QStringLiteral(":/icons/mic-dictating.svg");
        case AppMode::transcribing:
            return QStringLiteral(":/icons/mic-transcribing.svg");
        case AppMode::pasting:
            return QStringLiteral(":/icons/mic-pasting.svg");
        case AppMode::idle:
            break;
    }
    return QStringLiteral(":/icons/mic-idle-symbolic.svg");
}

void drawBadge(QPixmap& pixmap, int64_t count) {
    const int size = pixmap.width();
    const QString text = count > 9 ? QStringLiteral("9+") : QString::number(count);
    const qreal diameter = size * (text.size() > 1 ? 0.66 : 0.58);
    const QRectF circle(size - diameter, size - diameter, diameter, diameter);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(255, 255, 255), std::max(1.0, size / 24.0)));
    painter.setBrush(QColor(0xc0, 0x1c, 0x28));
    painter.drawEllipse(circle);
    QFont font;
    font.setBold(true);
    font.setPixelSize(std::max(7, static_cast<int>(diameter * (text.size() > 1 ? 0.52 : 0.7))));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(circle, Qt::AlignCenter, text);
}
}  // namespace

TrayIcons::Key TrayIcons::keyOf(AppMode mode, int64_t badgeCount) {
    return {mode, std::clamp<int64_t>(badgeCount, 0, kLargestBadge)};
}

const std::vector<QPixmap>& TrayIcons::microphone(AppMode mode) {
    auto it = m_microphones.find(mode);
    if (it == m_microphones.end()) {
        it = m_microphones.emplace(mode, renderSvg(micFile(mode), kTraySizes)).first;
    }
    return it->second;
}

const QIcon& TrayIcons::icon(AppMode mode, int64_t badgeCount) {
    const Key key = keyOf(mode, badgeCount);
    auto it = m_icons.find(key);
    if (it == m_icons.end()) {
        QIcon icon;
        for (QPixmap pixmap : microphone(mode)) {
            if (key.second >= 1) {
                drawBadge(pixmap, key.second);
            }
            icon.addPixmap(pixmap);
        }
        it = m_icons.emplace(key, icon).first;
    }
    return it->second;
}

void TrayIcons::prepare(QObject* context) {
    QTimer::singleShot(0, context, [this, context] { prepareNext(context); });
}

void TrayIcons::prepareNext(QObject* context) {
    // The badged ones first: the first of them loads the fonts.
    for (int64_t count = kLargestBadge; count >= 0; --count) {
        for (AppMode mode : kAllAppModes) {
            if (m_icons.find(keyOf(mode, count)) == m_icons.end()) {
                icon(mode, count);
                prepare(context);
                return;
            }
        }
    }
}

QIcon warningIcon() {
    constexpr int kSizes[] = {16, 22, 32};
    QIcon icon;
    for (const QPixmap& pixmap : renderSvg(QStringLiteral(":/icons/warning.svg"), kSizes)) {
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon symbolicIcon(const QString& name, const QColor& colour, int sizePx) {
    // At 1x and 2x for high-resolution screens.
    const int sizes[] = {sizePx, sizePx * 2};
    QIcon icon;
    int scale = 1;
    for (QPixmap& pixmap : renderSvg(QStringLiteral(":/icons/") + name, sizes)) {
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), colour);
        painter.end();
        pixmap.setDevicePixelRatio(scale++);
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace velmarune
