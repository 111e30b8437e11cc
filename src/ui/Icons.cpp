#include "ui/Icons.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <algorithm>

namespace velmarune {

namespace {
// Tray hosts ask for anything from 16 to 64 px; each size is drawn sharp.
constexpr int kTraySizes[] = {16, 22, 24, 32, 48, 64};

QPixmap renderSvg(const QString& path, int sizePx) {
    QPixmap pixmap(sizePx, sizePx);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(path);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
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

QIcon trayIcon(AppMode mode, int64_t badgeCount) {
    QIcon icon;
    for (int size : kTraySizes) {
        QPixmap pixmap = renderSvg(micFile(mode), size);
        if (badgeCount >= 1) {
            drawBadge(pixmap, badgeCount);
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon warningIcon() {
    QIcon icon;
    for (int size : {16, 22, 32}) {
        icon.addPixmap(renderSvg(QStringLiteral(":/icons/warning.svg"), size));
    }
    return icon;
}

QIcon symbolicIcon(const QString& name, const QColor& colour, int sizePx) {
    QIcon icon;
    for (int scale : {1, 2}) {
        QPixmap pixmap = renderSvg(QStringLiteral(":/icons/") + name, sizePx * scale);
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), colour);
        painter.end();
        pixmap.setDevicePixelRatio(scale);
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace velmarune
