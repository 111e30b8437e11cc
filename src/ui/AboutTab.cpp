#include "ui/AboutTab.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

#include "BuildInfo.h"
#include "ui/Acknowledgements.h"
#include "ui/SettingsWidgets.h"

namespace velmarune {

AboutTab::AboutTab(Dependencies deps, QWidget* parent) : QWidget(parent), m_deps(std::move(deps)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 20);
    layout->setSpacing(6);
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/com.quorin.velmarune.svg")).pixmap(72, 72));
    layout->addWidget(icon, 0, Qt::AlignHCenter);
    auto* name = new QLabel(QStringLiteral("Velmarune"), this);
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setWeight(QFont::DemiBold);
    name->setFont(big);
    layout->addWidget(name, 0, Qt::AlignHCenter);
    auto* version = new QLabel(
        QString::fromStdString(versionLine(VELMARUNE_BUILD_VERSION, VELMARUNE_BUILD_COMMIT)), this);
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(version, 0, Qt::AlignHCenter);
    auto* tagline = new QLabel(QStringLiteral("Hebrew-first local dictation for Linux."), this);
    layout->addWidget(tagline, 0, Qt::AlignHCenter);
    layout->addSpacing(10);
    auto* privacy = captionLabel(
        QStringLiteral(
            "Velmarune goes online only to download its speech models. Your voice and "
            "the words you dictate are transcribed on this computer and never leave it."),
        this);
    privacy->setAlignment(Qt::AlignHCenter);
    layout->addWidget(privacy);
    layout->addStretch(1);
    layout->addWidget(sectionHeading(QStringLiteral("Open-source components and models"), this), 0,
                      Qt::AlignHCenter);
    auto* button = new QPushButton(QStringLiteral("Acknowledgements…"), this);
    layout->addWidget(button, 0, Qt::AlignHCenter);
    connect(button, &QPushButton::clicked, this, &AboutTab::showAcknowledgements);
}

AboutTab::~AboutTab() = default;

void AboutTab::showAcknowledgements() {
    if (!m_acknowledgements) {
        m_acknowledgements = std::make_unique<AcknowledgementsWindow>(m_deps.licencesFolder);
    }
    m_acknowledgements->show();
    m_acknowledgements->raise();
    m_acknowledgements->activateWindow();
}

AcknowledgementsWindow::AcknowledgementsWindow(const std::filesystem::path& licencesFolder) {
    setWindowTitle(QStringLiteral("Acknowledgements"));
    auto* layout = new QHBoxLayout(this);
    auto* splitter = new QSplitter(this);
    auto* list = new QListWidget(splitter);
    auto* detail = new QWidget(splitter);
    auto* detailLayout = new QVBoxLayout(detail);
    detailLayout->setContentsMargins(8, 0, 0, 0);
    auto* name = boldLabel(QString(), detail);
    auto* licence = captionLabel(QString(), detail);
    auto* text = new QPlainTextEdit(detail);
    text->setReadOnly(true);
    // The texts are wrapped at 80 columns already; rewrapping them at another
    // width leaves ragged lines.
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(fixed.pointSizeF() * 0.9);
    text->setFont(fixed);
    detailLayout->addWidget(name);
    detailLayout->addWidget(licence);
    detailLayout->addWidget(text, 1);
    for (const Acknowledgement& item : acknowledgements()) {
        list->addItem(QString::fromStdString(item.name));
    }
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({240, 600});
    layout->addWidget(splitter);
    connect(list, &QListWidget::currentRowChanged, this, [=](int row) {
        if (row < 0 || row >= static_cast<int>(acknowledgements().size())) {
            return;
        }
        const Acknowledgement& item = acknowledgements()[static_cast<size_t>(row)];
        name->setText(QString::fromStdString(item.name));
        licence->setText(QStringLiteral("Licence: ") + QString::fromStdString(item.licence));
        text->setPlainText(QString::fromStdString(acknowledgementText(item, licencesFolder)));
    });
    list->setCurrentRow(0);
    resize(860, 520);
}

}  // namespace velmarune
