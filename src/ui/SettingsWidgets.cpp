#include "ui/SettingsWidgets.h"

#include <QFrame>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

namespace velmarune {

QVBoxLayout* settingsPage(QWidget* tab) {
    auto* outer = new QVBoxLayout(tab);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(tab);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* page = new QWidget(scroll);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(18, 14, 18, 14);
    column->setSpacing(6);
    scroll->setWidget(page);
    outer->addWidget(scroll);
    return column;
}

QLabel* boldLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setWeight(QFont::DemiBold);
    label->setFont(font);
    return label;
}

QLabel* sectionHeading(const QString& text, QWidget* parent) {
    QLabel* label = boldLabel(text, parent);
    label->setContentsMargins(0, 8, 0, 0);
    return label;
}

QColor secondaryColour(const QWidget* widget) {
    return widget->palette().color(QPalette::PlaceholderText);
}

void setTextColour(QLabel* label, const QColor& colour) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

void setTextOrHide(QLabel* label, const std::string& text) {
    label->setText(QString::fromStdString(text));
    label->setVisible(!text.empty());
}

void setTextOrHide(QLabel* label, const std::optional<std::string>& text) {
    label->setText(text ? QString::fromStdString(*text) : QString());
    label->setVisible(text.has_value());
}

QLabel* captionLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    label->setFont(font);
    setTextColour(label, secondaryColour(label));
    return label;
}

}  // namespace velmarune
