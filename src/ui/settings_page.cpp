// SPDX-License-Identifier: MIT
#include "ui/settings_page.h"

#include "ui/network_text.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>

namespace zpmoni {

SettingsPage::SettingsPage(const QString& caption, QWidget* parent)
    : QWidget(parent), caption(caption)
{
}

void SettingsPage::Activate()
{
    if (created)
        return;
    created = true;
    BuildControls();
}

void SettingsPage::Message(const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::NoIcon, caption.isEmpty() ? QGuiApplication::applicationDisplayName() : caption,
                    text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

std::string SettingsPage::EditBytes(const QString& text, const std::string& original)
{
    return text == Shown(original) ? original : text.toStdString();
}

QString SettingsPage::Shown(const std::string& bytes)
{
    return NetworkText(bytes);
}

bool SettingsPage::RangeMessage(QWidget* control, const QString& text)
{
    Message(text);
    control->setFocus();
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        edit->selectAll();
    return false;
}

bool SettingsPage::CheckInt(QLineEdit* edit, int64_t min, int64_t max, int64_t& value)
{
    bool ok = false;
    const qlonglong v = edit->text().trimmed().toLongLong(&ok);
    if (ok && v >= min && v <= max) {
        value = v;
        return true;
    }
    return RangeMessage(edit, QStringLiteral("Please enter an integer between %1 and %2.")
                                  .arg(QString::number(min), QString::number(max)));
}

bool SettingsPage::CheckDouble(QLineEdit* edit, double min, double max, double& value)
{
    bool ok = false;
    const double v = edit->text().trimmed().toDouble(&ok);
    if (ok && v >= min && v <= max) {
        value = v;
        return true;
    }
    return RangeMessage(edit, QStringLiteral("Please enter a number between %1 and %2.")
                                  .arg(QString::number(min, 'g', 15), QString::number(max, 'g', 15)));
}

}  // namespace zpmoni
