// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <string>

class QLineEdit;

namespace zpmoni {

class SettingsSheet;

// One page of the settings sheet. Its controls are built and filled when it is first shown; a
// page never shown keeps the values it was given and hands them back unchanged.
class SettingsPage : public QWidget {
    Q_OBJECT
public:
    explicit SettingsPage(const QString& caption, QWidget* parent = nullptr);

    const QString& Caption() const { return caption; }
    bool Created() const { return created; }
    // Builds and fills the controls the first time.
    void Activate();
    // Leaving the page or confirming the sheet: reads the controls back with their checks.
    // False (after the range message) keeps the user on the page.
    virtual bool Validate() { return true; }
    // The sheet is about to close, whichever way.
    virtual void OnSheetClosing() {}

    void SetSheet(SettingsSheet* owner) { sheet = owner; }
    SettingsSheet* Sheet() const { return sheet; }

    // A message box with an OK button; the caption defaults to the application's title.
    void Message(const QString& text, const QString& caption = {});
    // An edit's text as bytes: the original bytes while the text still reads as they were shown,
    // so texts that are not UTF-8 survive a confirmation unchanged.
    static std::string EditBytes(const QString& text, const std::string& original);
    static QString Shown(const std::string& bytes);

protected:
    virtual void BuildControls() = 0;
    // The integer or number in the edit, within the bounds; otherwise the range message, the
    // focus on the edit and false.
    bool CheckInt(QLineEdit* edit, int64_t min, int64_t max, int64_t& value);
    bool CheckDouble(QLineEdit* edit, double min, double max, double& value);
    bool RangeMessage(QWidget* control, const QString& text);

private:
    QString caption;
    SettingsSheet* sheet = nullptr;
    bool created = false;
};

}  // namespace zpmoni
