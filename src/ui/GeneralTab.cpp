#include "ui/GeneralTab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/AppState.h"
#include "ui/SettingsWidgets.h"

namespace velmarune {

GeneralTab::GeneralTab(Dependencies deps, QWidget* parent)
    : QWidget(parent), m_deps(std::move(deps)), m_model(m_deps.model) {
    QVBoxLayout* page = settingsPage(this);

    m_launchAtLogin = new QCheckBox(QStringLiteral("Launch Velmarune at login"), this);
    page->addWidget(m_launchAtLogin);
    m_loginMessage = new QLabel(this);
    m_loginMessage->setWordWrap(true);
    setTextColour(m_loginMessage, kErrorColour);
    m_loginMessage->setContentsMargins(24, 0, 0, 0);
    page->addWidget(m_loginMessage);
    connect(m_launchAtLogin, &QCheckBox::clicked, this, [this](bool on) {
        m_model.setLaunchAtLogin(on);
        refresh();
    });

    page->addWidget(sectionHeading(QStringLiteral("Dictation Language"), this));
    m_language = new QComboBox(this);
    for (const auto& option : GeneralTabModel::languages()) {
        m_language->addItem(QString::fromUtf8(option.title));
    }
    auto* languageRow = new QHBoxLayout();
    languageRow->addWidget(m_language);
    languageRow->addStretch(1);
    page->addLayout(languageRow);
    page->addWidget(captionLabel(QString::fromUtf8(GeneralTabModel::kLanguageCaption), this));
    connect(m_language, &QComboBox::activated, this,
            [this](int index) { m_model.setLanguageIndex(static_cast<size_t>(index)); });

    page->addWidget(sectionHeading(QStringLiteral("Recent Dictations"), this));
    page->addWidget(captionLabel(QString::fromUtf8(GeneralTabModel::kRecentDictationsNote), this));

    page->addWidget(sectionHeading(QStringLiteral("Troubleshooting"), this));
    // "&&" shows one "&" rather than underlining the next letter.
    auto* reset = new QPushButton(QStringLiteral("Reset Audio && Engine"), this);
    auto* resetRow = new QHBoxLayout();
    resetRow->addWidget(reset);
    resetRow->addStretch(1);
    page->addLayout(resetRow);
    connect(reset, &QPushButton::clicked, this, [this] { m_model.resetAudioAndEngine(); });
    page->addWidget(captionLabel(QString::fromUtf8(GeneralTabModel::kResetCaption), this));
    m_lastReset = captionLabel(QString(), this);
    page->addWidget(m_lastReset);

    // Linux applications are updated by the system's package manager; the
    // row says so and opens the software centre where there is one.
    page->addWidget(sectionHeading(QStringLiteral("Updates"), this));
    page->addWidget(captionLabel(
        QStringLiteral("Velmarune is updated with the rest of your system by its package "
                       "manager or software centre."),
        this));
    m_checkForUpdates = new QPushButton(QStringLiteral("Check for Updates…"), this);
    auto* updatesRow = new QHBoxLayout();
    updatesRow->addWidget(m_checkForUpdates);
    updatesRow->addStretch(1);
    page->addLayout(updatesRow);
    connect(m_checkForUpdates, &QPushButton::clicked, this, [this] {
        if (auto open = m_deps.softwareCentre ? m_deps.softwareCentre() : nullptr) {
            open();
        }
    });
    page->addStretch(1);

    m_clock = new QTimer(this);
    m_clock->setInterval(30 * 1000);
    connect(m_clock, &QTimer::timeout, this, &GeneralTab::refreshLastReset);
    m_resetSubscription = m_deps.model.state.lastResetTime.subscribe(
        [this](const std::optional<TimePoint>&) { refreshLastReset(); });
    refresh();
}

void GeneralTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
    m_clock->start();
}

void GeneralTab::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_clock->stop();
}

void GeneralTab::refresh() {
    m_model.refresh();
    m_launchAtLogin->setChecked(m_model.launchAtLogin());
    m_launchAtLogin->setEnabled(m_deps.model.loginItem != nullptr);
    setTextOrHide(m_loginMessage, m_model.loginMessage());
    m_language->setCurrentIndex(static_cast<int>(m_model.languageIndex()));
    m_checkForUpdates->setVisible(m_deps.softwareCentre && m_deps.softwareCentre());
    refreshLastReset();
}

void GeneralTab::refreshLastReset() {
    setTextOrHide(m_lastReset, m_model.lastResetText());
}

}  // namespace velmarune
