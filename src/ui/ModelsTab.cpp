#include "ui/ModelsTab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>

#include "app/AppState.h"
#include "foundation/NotificationCenter.h"
#include "models/ModelDownloadManager.h"
#include "recognition/EngineSettings.h"
#include "ui/Icons.h"
#include "ui/SettingsWidgets.h"

namespace velmarune {

namespace {

QProgressBar* busyIndicator(QWidget* parent) {
    auto* bar = new QProgressBar(parent);
    bar->setRange(0, 0);  // an indeterminate bar: the spinner of this toolkit
    bar->setTextVisible(false);
    bar->setFixedSize(48, 10);
    return bar;
}

QLabel* iconLabel(const QString& name, const QColor& colour, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(symbolicIcon(name, colour, 16).pixmap(16, 16));
    label->setFixedSize(16, 16);
    return label;
}

QColor toneColour(ModelsTabModel::Tone tone, const QWidget* widget) {
    switch (tone) {
        case ModelsTabModel::Tone::success:
            return kSuccessColour;
        case ModelsTabModel::Tone::warning:
            return kWarningColour;
        case ModelsTabModel::Tone::error:
            return kErrorColour;
        default:
            return secondaryColour(widget);
    }
}

}  // namespace

// One catalogue entry: its name and description on the left; on the right
// what can be done with it now.
class ModelRowWidget : public QWidget {
  public:
    ModelRowWidget(ModelsTabModel& model, ModelSlot slot, std::function<void()> changed,
                   QWidget* parent)
        : QWidget(parent), m_model(model), m_slot(slot), m_changed(std::move(changed)) {
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 4, 0, 4);
        auto* left = new QVBoxLayout();
        left->setSpacing(1);
        m_name = new QLabel(this);
        m_description = captionLabel(QString(), this);
        m_error = captionLabel(QString(), this);
        setTextColour(m_error, kErrorColour);
        left->addWidget(m_name);
        left->addWidget(m_description);
        left->addWidget(m_error);
        layout->addLayout(left, 1);

        m_busy = busyIndicator(this);
        m_progress = new QProgressBar(this);
        m_progress->setRange(0, 1000);
        m_progress->setTextVisible(false);
        m_progress->setFixedWidth(90);
        m_status = new QLabel(this);
        setTextColour(m_status, secondaryColour(this));
        m_button = new QPushButton(this);
        m_check = iconLabel(QStringLiteral("checkmark-circle-symbolic.svg"),
                            palette().color(QPalette::Highlight), this);
        for (QWidget* widget : {static_cast<QWidget*>(m_busy), static_cast<QWidget*>(m_progress),
                                static_cast<QWidget*>(m_status), static_cast<QWidget*>(m_button),
                                static_cast<QWidget*>(m_check)}) {
            layout->addWidget(widget, 0, Qt::AlignVCenter);
        }
        connect(m_button, &QPushButton::clicked, this, [this] { act(); });
    }

    void show(const ModelsTabModel::Row& row) {
        using Action = ModelsTabModel::RowAction;
        m_row = row;
        setObjectName(QString::fromStdString(row.entry.id));  // for tests and accessibility tools
        m_name->setText(QString::fromStdString(row.entry.displayName));
        QFont font = m_name->font();
        font.setWeight(row.active ? QFont::DemiBold : QFont::Normal);
        m_name->setFont(font);
        m_description->setText(QString::fromStdString(row.entry.description));
        setTextOrHide(m_error, row.error);
        m_busy->setVisible(row.action == Action::verifying);
        m_progress->setVisible(row.action == Action::downloading);
        m_progress->setValue(static_cast<int>(row.fraction * 1000));
        m_status->setVisible(row.action == Action::verifying || row.action == Action::downloading);
        m_check->setVisible(row.action == Action::active);
        m_button->setVisible(row.action != Action::verifying && row.action != Action::active);
        m_status->setText(QString::fromStdString(row.actionText));
        m_button->setText(row.action == Action::downloading
                              ? QStringLiteral("Cancel")
                              : QString::fromStdString(row.actionText));
    }

    QPushButton* button() const { return m_button; }

  private:
    void act() {
        using Action = ModelsTabModel::RowAction;
        switch (m_row.action) {
            case Action::downloading:
                m_model.cancel(m_row.entry);
                break;
            case Action::download:
                m_model.download(m_row.entry);
                break;
            case Action::setAs:
                if (auto error = m_model.setActive(m_row.entry, m_slot)) {
                    setTextOrHide(m_error, error);
                    return;
                }
                break;
            default:
                return;
        }
        m_changed();
    }

    ModelsTabModel& m_model;
    ModelSlot m_slot;
    std::function<void()> m_changed;
    ModelsTabModel::Row m_row;
    QLabel* m_name = nullptr;
    QLabel* m_description = nullptr;
    QLabel* m_error = nullptr;
    QProgressBar* m_busy = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_button = nullptr;
    QLabel* m_check = nullptr;
};

ModelsTab::ModelsTab(Dependencies deps, QWidget* parent)
    : QWidget(parent), m_deps(std::move(deps)), m_model(m_deps.model) {
    QVBoxLayout* page = settingsPage(this);

    m_banner = new QFrame(this);
    m_banner->setFrameShape(QFrame::StyledPanel);
    m_banner->setAutoFillBackground(true);
    QPalette bannerPalette = m_banner->palette();
    QColor tint = palette().color(QPalette::Highlight);
    tint.setAlpha(40);
    bannerPalette.setColor(QPalette::Window, tint);
    m_banner->setPalette(bannerPalette);
    auto* bannerLayout = new QHBoxLayout(m_banner);
    bannerLayout->addWidget(iconLabel(QStringLiteral("arrow-down-circle-symbolic.svg"),
                                      palette().color(QPalette::Highlight), m_banner),
                            0, Qt::AlignTop);
    auto* bannerText = new QVBoxLayout();
    m_bannerHeadline = boldLabel(QString(), m_banner);
    m_bannerHeadline->setWordWrap(true);
    m_bannerDetail = captionLabel(QString(), m_banner);
    bannerText->addWidget(m_bannerHeadline);
    bannerText->addWidget(m_bannerDetail);
    bannerLayout->addLayout(bannerText, 1);
    page->addWidget(m_banner);

    auto* engineRow = new QHBoxLayout();
    engineRow->addWidget(new QLabel(QStringLiteral("Speech engines:"), this));
    m_engineIcon = new QLabel(this);
    m_engineIcon->setFixedSize(16, 16);
    m_engineBusy = busyIndicator(this);
    m_engineText = new QLabel(this);
    m_engineText->setWordWrap(true);
    engineRow->addWidget(m_engineIcon);
    engineRow->addWidget(m_engineBusy);
    engineRow->addWidget(m_engineText, 1);
    page->addLayout(engineRow);

    for (ModelSlot slot : kAllModelSlots) {
        page->addWidget(
            sectionHeading(QString::fromStdString(modelSlotDisplayWord(slot) + " model"), this));
        m_slotLines[slot] = new QLabel(this);
        m_slotLines[slot]->setTextFormat(Qt::RichText);
        page->addWidget(m_slotLines[slot]);
        for (size_t i = 0; i < m_model.rows(slot).size(); ++i) {
            m_rows[slot].push_back(new ModelRowWidget(
                m_model, slot, [this] { refresh(); }, this));
            page->addWidget(m_rows[slot].back());
        }
        if (slot == ModelSlot::multilingual) {
            page->addWidget(
                captionLabel(QString::fromUtf8(ModelsTabModel::kMultilingualNote), this));
        }
    }

    page->addWidget(sectionHeading(QStringLiteral("Test transcription"), this));
    auto* testRow = new QHBoxLayout();
    testRow->addWidget(new QLabel(QStringLiteral("Engine:"), this));
    m_testLanguage = new QComboBox(this);
    m_testLanguage->addItems({QStringLiteral("English"), QStringLiteral("Hebrew")});
    testRow->addWidget(m_testLanguage);
    m_testButton = new QPushButton(QStringLiteral("Transcribe test sample"), this);
    testRow->addWidget(m_testButton);
    m_testBusy = busyIndicator(this);
    testRow->addWidget(m_testBusy);
    testRow->addStretch(1);
    page->addLayout(testRow);
    page->addWidget(captionLabel(QString::fromUtf8(ModelsTabModel::kTestCaption), this));
    m_testResult = new QLabel(this);
    m_testResult->setWordWrap(true);
    m_testResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    page->addWidget(m_testResult);

    page->addWidget(sectionHeading(QStringLiteral("Speed"), this));
    for (const EngineSwitch& choice : engineSwitches()) {
        auto* box = new QCheckBox(QString::fromUtf8(choice.label), this);
        m_switches.push_back(box);
        page->addWidget(box);
        page->addWidget(captionLabel(QString::fromUtf8(choice.caption), this));
        connect(box, &QCheckBox::clicked, this, [this, choice](bool on) {
            choice.set(m_deps.defaults, on, m_deps.model.state.reloadEngine);
            refreshSwitches();  // shows the stored value when the save failed
        });
    }
    page->addStretch(1);
    connect(m_testButton, &QPushButton::clicked, this, [this] {
        m_model.transcribeSample(m_testLanguage->currentIndex() == 0
                                     ? ModelsTabModel::TestLanguage::english
                                     : ModelsTabModel::TestLanguage::hebrew,
                                 [this] { refreshTest(); });
        refreshTest();
    });

    m_subscriptions.push_back(m_deps.model.downloads.states().subscribe(
        [this](const ModelDownloadManager::States&) { refresh(); }));
    m_subscriptions.push_back(m_deps.model.state.engineStatus.subscribe(
        [this](const WhisperStatus&) { refreshEngineLine(); }));
    m_subscriptions.push_back(m_deps.notifications.observe(
        kModelDownloadCompletedNotification, [this](const std::string&) { refresh(); }));
    refresh();
    refreshEngineLine();
    refreshTest();
    refreshSwitches();
}

ModelsTab::~ModelsTab() = default;

void ModelsTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
    refreshSwitches();
}

void ModelsTab::refreshSwitches() {
    const auto switches = engineSwitches();
    for (size_t i = 0; i < switches.size() && i < m_switches.size(); ++i) {
        m_switches[i]->setChecked(switches[i].isOn(m_deps.defaults));
    }
}

void ModelsTab::refresh() {
    const auto banner = m_model.banner();
    m_banner->setVisible(banner.has_value());
    if (banner) {
        m_bannerHeadline->setText(QString::fromStdString(banner->headline));
        m_bannerDetail->setText(QString::fromStdString(banner->detail));
    }
    const QString secondary = secondaryColour(this).name();
    for (ModelSlot slot : kAllModelSlots) {
        const auto line = m_model.slotLine(slot);
        QString text = QString::fromStdString(line.label).toHtmlEscaped() + " ";
        if (line.chosen) {
            text += QString::fromStdString(line.fileName).toHtmlEscaped() +
                    QStringLiteral(" <span style=\"color:%1\">%2</span>")
                        .arg(secondary, QString::fromStdString(line.size).toHtmlEscaped());
        } else {
            text += QStringLiteral("<span style=\"color:%1\">Not chosen</span>")
                        .arg(kWarningColour.name());
        }
        m_slotLines[slot]->setText(text);
        const auto rows = m_model.rows(slot);
        for (size_t i = 0; i < rows.size() && i < m_rows[slot].size(); ++i) {
            m_rows[slot][i]->show(rows[i]);
        }
    }
}

void ModelsTab::refreshEngineLine() {
    const auto line = ModelsTabModel::engineLine(m_deps.model.state.engineStatus.get());
    using Tone = ModelsTabModel::Tone;
    const char* icon = line.tone == Tone::success   ? "checkmark-circle-symbolic.svg"
                       : line.tone == Tone::warning ? "warning.svg"
                       : line.tone == Tone::error   ? "error-octagon-symbolic.svg"
                                                    : nullptr;
    m_engineIcon->setVisible(icon != nullptr);
    if (icon) {
        m_engineIcon->setPixmap(
            symbolicIcon(QString::fromLatin1(icon), toneColour(line.tone, this), 16)
                .pixmap(16, 16));
    }
    m_engineBusy->setVisible(line.tone == Tone::busy);
    m_engineText->setText(QString::fromStdString(line.text));
    setTextColour(m_engineText, line.tone == Tone::secondary
                                    ? secondaryColour(this)
                                    : palette().color(QPalette::WindowText));
}

void ModelsTab::refreshTest() {
    const auto& test = m_model.testResult();
    m_testButton->setEnabled(!test.running);
    m_testButton->setText(test.running ? QStringLiteral("Transcribing…")
                                       : QStringLiteral("Transcribe test sample"));
    m_testBusy->setVisible(test.running);
    QString text;
    if (!test.text.empty()) {
        text = QStringLiteral("Result: ") + QString::fromStdString(test.text);
        if (test.elapsedSeconds) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.2fs", *test.elapsedSeconds);
            text += QStringLiteral("  (") + QString::fromLatin1(seconds) + QStringLiteral(")");
        }
    }
    m_testResult->setText(text);
    m_testResult->setVisible(!text.isEmpty());
}

}  // namespace velmarune
