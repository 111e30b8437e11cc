#include "ui/FloatingPanel.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>

namespace velmarune {

PanelPlacer::PanelPlacer() {
    auto changed = [this] {
        watchPrimaryScreen();
        relayout();
    };
    connect(qApp, &QGuiApplication::primaryScreenChanged, this, changed);
    connect(qApp, &QGuiApplication::screenAdded, this, changed);
    connect(qApp, &QGuiApplication::screenRemoved, this, changed);
    watchPrimaryScreen();
}

void PanelPlacer::watchPrimaryScreen() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == m_screen) {
        return;
    }
    if (m_screen) {
        disconnect(m_screen, nullptr, this, nullptr);
    }
    m_screen = screen;
    if (screen) {
        connect(screen, &QScreen::availableGeometryChanged, this, &PanelPlacer::relayout);
        connect(screen, &QScreen::geometryChanged, this, &PanelPlacer::relayout);
    }
}

void PanelPlacer::add(PanelSlot slot, FloatingPanel* panel) {
    m_panels[static_cast<size_t>(slot)] = panel;
}

void PanelPlacer::relayout() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        return;  // without a screen the panels keep their frames
    }
    const QRect area = screen->availableGeometry();
    PanelStack::Sizes sizes;
    for (size_t i = 0; i < kPanelSlotCount; ++i) {
        if (m_panels[i] && m_panels[i]->wanted()) {
            const QSize size = m_panels[i]->size();
            sizes[i] = PanelRect{0, 0, size.width(), size.height()};
        }
    }
    const auto frames =
        PanelStack::place(PanelRect{area.x(), area.y(), area.width(), area.height()}, sizes);
    for (size_t i = 0; i < kPanelSlotCount; ++i) {
        if (frames[i]) {
            m_panels[i]->move(frames[i]->x, frames[i]->y);
        }
    }
}

FloatingPanel::FloatingPanel(PanelPlacer& placer, PanelSlot slot, bool takesClicks)
    : QWidget(nullptr),
      m_placer(placer),
      m_fade(new QPropertyAnimation(this, "windowOpacity", this)) {
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                            Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint;
    if (!takesClicks) {
        flags |= Qt::WindowTransparentForInput;
    }
    setWindowFlags(flags);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setFocusPolicy(Qt::NoFocus);
    placer.add(slot, this);
    connect(m_fade, &QPropertyAnimation::finished, this, [this] {
        if (!m_wanted) {
            hide();
        }
    });
}

void FloatingPanel::showPanel(double fadeSeconds) {
    m_fade->stop();
    m_wanted = true;
    adjustSize();
    m_placer.relayout();
    setWindowOpacity(fadeSeconds > 0 ? 0.0 : 1.0);
    show();
    raise();
    // An open menu stays above the panels: the user is reading it.
    if (QWidget* popup = QApplication::activePopupWidget()) {
        popup->raise();
    }
    if (fadeSeconds > 0) {
        m_fade->setDuration(static_cast<int>(fadeSeconds * 1000));
        m_fade->setStartValue(0.0);
        m_fade->setEndValue(1.0);
        m_fade->setEasingCurve(QEasingCurve::OutCubic);
        m_fade->start();
    }
}

void FloatingPanel::hidePanel(double fadeSeconds) {
    m_fade->stop();
    if (!m_wanted) {
        return;
    }
    m_wanted = false;
    if (fadeSeconds > 0 && isVisible()) {
        m_fade->setDuration(static_cast<int>(fadeSeconds * 1000));
        m_fade->setStartValue(windowOpacity());
        m_fade->setEndValue(0.0);
        m_fade->setEasingCurve(QEasingCurve::InCubic);
        m_fade->start();
    } else {
        hide();
    }
    // The panels below move up now; this one fades where it was.
    m_placer.relayout();
}

void FloatingPanel::paintEvent(QPaintEvent*) {
    // Square corners: without a compositor, transparent corners would show
    // black, so the panel is drawn opaque in the desktop theme's colours.
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace velmarune
