#include "ui/SettingsWindow.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>
#include <QTabWidget>
#include <QVBoxLayout>

#include "foundation/Log.h"
#include "ui/AboutTab.h"
#include "ui/GeneralTab.h"
#include "ui/Icons.h"
#include "ui/ModelsTab.h"

namespace velmarune {

namespace {

// The desktop's icon where its theme has one, else ours, drawn in the
// palette's text colour so it suits light and dark themes alike.
QIcon tabIcon(const char* themeName, const char* fallback) {
    const QColor text = QApplication::palette().color(QPalette::WindowText);
    return QIcon::fromTheme(QString::fromLatin1(themeName),
                            symbolicIcon(QString::fromLatin1(fallback), text, 16));
}

// A tab whose content another part of the window fills in.
QWidget* placeholderTab(const QString& text) {
    auto* tab = new QWidget();
    auto* layout = new QVBoxLayout(tab);
    auto* label = new QLabel(text, tab);
    label->setAlignment(Qt::AlignCenter);
    label->setEnabled(false);
    layout->addWidget(label);
    return tab;
}

}  // namespace

SettingsWindow::SettingsWindow(Dependencies deps) : m_deps(std::move(deps)) {}

SettingsWindow::~SettingsWindow() = default;

QWidget* SettingsWindow::window() const {
    return m_window.get();
}

QTabWidget* SettingsWindow::tabs() const {
    return m_tabs;
}

void SettingsWindow::build() {
    m_window = std::make_unique<QWidget>();
    m_window->setWindowTitle(QStringLiteral("Velmarune Settings"));
    m_window->setWindowIcon(QIcon(QStringLiteral(":/icons/com.quorin.velmarune.svg")));
    auto* layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(8, 8, 8, 8);
    m_tabs = new QTabWidget(m_window.get());
    m_tabs->setDocumentMode(false);
    layout->addWidget(m_tabs);

    const Dependencies& d = m_deps;
    m_tabs->addTab(
        new GeneralTab({{*d.state, d.defaults, d.mainQueue, d.loginItem}, d.softwareCentre}),
        tabIcon("preferences-system", "settings-general-symbolic.svg"), QStringLiteral("General"));
    m_tabs->addTab(d.hotkeysTab ? d.hotkeysTab() : placeholderTab(QStringLiteral("Hotkeys")),
                   tabIcon("preferences-desktop-keyboard", "settings-keyboard-symbolic.svg"),
                   QStringLiteral("Hotkeys"));
    m_tabs->addTab(new ModelsTab({{*d.state, d.locator, d.downloads, d.mainQueue,
                                   d.testTranscriptionWorker, d.resources / "zib_en.wav"},
                                  d.notifications,
                                  d.defaults}),
                   tabIcon("cpu", "settings-models-symbolic.svg"), QStringLiteral("Models"));
    m_tabs->addTab(d.audioTab ? d.audioTab() : placeholderTab(QStringLiteral("Audio")),
                   tabIcon("audio-input-microphone", "settings-audio-symbolic.svg"),
                   QStringLiteral("Audio"));
    m_tabs->addTab(new AboutTab({d.resources / "licenses"}),
                   tabIcon("help-about", "settings-about-symbolic.svg"), QStringLiteral("About"));
    m_window->resize(540, 460);
}

void SettingsWindow::show(std::optional<SettingsPage> page) {
    Logger("SettingsWindow")
        .info("showWindow invoked (%{public}s)", m_window ? "reused" : "first time");
    if (!m_window) {
        build();
    }
    if (page) {
        m_tabs->setCurrentIndex(static_cast<int>(*page));
    }
    QWidget& window = *m_window;
    // A minimised or hidden window comes back where it was; a new one opens
    // where the window manager places new windows.
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window.show();
    window.raise();
    window.activateWindow();
}

}  // namespace velmarune
