#include "ui/AudioTab.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstdlib>

#include "ui/SettingsWidgets.h"

namespace velmarune {

namespace {
bool launchDetached(const std::vector<std::string>& command) {
    QStringList arguments;
    for (size_t i = 1; i < command.size(); ++i) {
        arguments << QString::fromStdString(command[i]);
    }
    return QProcess::startDetached(QString::fromStdString(command.front()), arguments);
}
}  // namespace

std::optional<std::vector<std::string>> AudioTab::installedSoundSettings() {
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    return soundSettingsCommand(desktop ? desktop : "", [](const std::string& program) {
        return !QStandardPaths::findExecutable(QString::fromStdString(program)).isEmpty();
    });
}

namespace {
AudioTabModel::Dependencies completed(AudioTabModel::Dependencies deps) {
    if (!deps.soundSettings) {
        deps.soundSettings = AudioTab::installedSoundSettings();
    }
    if (!deps.launch) {
        deps.launch = &launchDetached;
    }
    return deps;
}
}  // namespace

AudioTab::AudioTab(AudioTabModel::Dependencies deps, QWidget* parent)
    : QWidget(parent), m_model(completed(std::move(deps))) {
    QVBoxLayout* page = settingsPage(this);

    // Input device: the picker, re-enumerate, and the server's name for it.
    page->addWidget(sectionHeading(QStringLiteral("Input Device"), this));
    auto* pickerRow = new QHBoxLayout;
    m_devices = new QComboBox(this);
    m_devices->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_devices->setMinimumContentsLength(20);
    m_devices->setPlaceholderText(QStringLiteral("No input devices"));
    auto* refreshButton = new QToolButton(this);
    refreshButton->setIcon(
        QIcon::fromTheme("view-refresh", style()->standardIcon(QStyle::SP_BrowserReload)));
    refreshButton->setToolTip(QStringLiteral("Re-enumerate audio input devices"));
    pickerRow->addWidget(m_devices, 1);
    pickerRow->addWidget(refreshButton);
    page->addLayout(pickerRow);
    m_deviceID = captionLabel(QString(), this);
    m_deviceID->setTextInteractionFlags(Qt::TextSelectableByMouse);
    page->addWidget(m_deviceID);
    m_fallback = new QLabel(this);
    m_fallback->setWordWrap(true);
    setTextColour(m_fallback, kWarningColour);
    page->addWidget(m_fallback);

    page->addWidget(sectionHeading(QStringLiteral("Level"), this));
    auto* levelRow = new QHBoxLayout;
    m_meter = new QProgressBar(this);
    m_meter->setRange(0, 1000);
    m_meter->setTextVisible(false);
    m_meter->setMaximumHeight(12);
    m_levelText = new QLabel(this);
    m_levelText->setWordWrap(true);
    m_levelText->setMinimumWidth(70);
    levelRow->addWidget(m_meter, 1);
    levelRow->addWidget(m_levelText);
    page->addLayout(levelRow);

    page->addWidget(sectionHeading(QStringLiteral("Mic Mode"), this));
    auto* modeRow = new QHBoxLayout;
    m_mode = new QLabel(this);
    modeRow->addWidget(m_mode, 1);
    m_openSettings = new QPushButton(QStringLiteral("Open Sound Settings"), this);
    m_openSettings->setVisible(m_model.canOpenSoundSettings());
    modeRow->addWidget(m_openSettings);
    page->addLayout(modeRow);
    page->addWidget(captionLabel(QString::fromStdString(AudioTabModel::micModeCaption()), this));
    m_settingsError = new QLabel(this);
    setTextColour(m_settingsError, kErrorColour);
    page->addWidget(m_settingsError);

    page->addWidget(sectionHeading(QStringLiteral("Microphone"), this));
    auto* micRow = new QHBoxLayout;
    m_micIcon = new QLabel(this);
    m_micStatus = new QLabel(this);
    micRow->addWidget(m_micIcon);
    micRow->addWidget(m_micStatus, 1);
    page->addLayout(micRow);
    m_micFix = captionLabel(QString(), this);
    page->addWidget(m_micFix);
    page->addStretch(1);

    connect(refreshButton, &QToolButton::clicked, this, [this] { m_model.refreshDevices(); });
    connect(m_devices, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && static_cast<size_t>(index) < m_shownRows.size()) {
            m_model.choose(m_shownRows[static_cast<size_t>(index)].id);
        }
    });
    connect(m_openSettings, &QPushButton::clicked, this, [this] { m_model.openSoundSettings(); });

    m_model.onChanged = [this] { refresh(); };
    m_model.onLevelChanged = [this] { refreshLevel(); };
    refresh();
}

AudioTab::~AudioTab() {
    m_model.onChanged = nullptr;
    m_model.onLevelChanged = nullptr;
}

void AudioTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_model.shown();
}

void AudioTab::hideEvent(QHideEvent* event) {
    m_model.hidden();
    QWidget::hideEvent(event);
}

void AudioTab::refresh() {
    const auto rows = m_model.deviceRows();
    if (rows != m_shownRows) {
        // Rebuilt only when the list really changed, so an open popup stays put.
        m_shownRows = rows;
        m_devices->clear();
        for (const auto& row : rows) {
            m_devices->addItem(QString::fromStdString(row.label));
        }
    }
    const auto selected = m_model.selectedDeviceID();
    int index = -1;
    for (size_t i = 0; i < m_shownRows.size(); ++i) {
        if (selected && m_shownRows[i].id == *selected) {
            index = static_cast<int>(i);
        }
    }
    m_devices->setCurrentIndex(index);
    m_devices->setEnabled(!m_shownRows.empty());
    setTextOrHide(m_deviceID, m_model.deviceIDText());
    setTextOrHide(m_fallback, m_model.fallbackText());

    m_mode->setText(QString::fromStdString(m_model.micModeText()));
    setTextOrHide(m_settingsError, m_model.soundSettingsError());

    const auto line = m_model.microphoneLine();
    using State = AudioTabModel::MicrophoneLine::State;
    const QStyle::StandardPixmap icon = line.state == State::ready ? QStyle::SP_DialogApplyButton
                                        : line.state == State::missing
                                            ? QStyle::SP_MessageBoxCritical
                                            : QStyle::SP_BrowserReload;
    m_micIcon->setPixmap(style()->standardIcon(icon).pixmap(16, 16));
    m_micStatus->setText(QString::fromStdString(line.status));
    setTextOrHide(m_micFix, line.fix);
    refreshLevel();
}

void AudioTab::refreshLevel() {
    m_meter->setVisible(m_model.meterAvailable());
    m_meter->setValue(static_cast<int>(m_model.level() * 1000.0f));
    m_levelText->setText(QString::fromStdString(m_model.levelText()));
}

}  // namespace velmarune
