// SPDX-License-Identifier: MIT
#include "ui/settings_sheet.h"

#include "ui/settings_page.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTabBar>
#include <QVBoxLayout>

namespace zpmoni {

SettingsSheet::SettingsSheet(QWidget* owner)
    : QDialog(owner), tabs(new QTabBar(this)), stack(new QStackedWidget(this)),
      buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
{
    setWindowTitle(QString::fromUtf8("設定"));
    tabs->setExpanding(false);
    tabs->setDrawBase(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(stack, 1);
    layout->addWidget(buttons);
    connect(tabs, &QTabBar::currentChanged, this, &SettingsSheet::OnTabChanged);
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsSheet::reject);
}

void SettingsSheet::AddPage(SettingsPage* page)
{
    page->SetSheet(this);
    pages.push_back(page);
    stack->addWidget(page);
    const QSignalBlocker quiet(tabs);
    tabs->addTab(page->Caption());
}

int SettingsSheet::exec()
{
    if (active < 0 && !pages.empty())
        SetActivePage(0);
    return QDialog::exec();
}

bool SettingsSheet::SetActivePage(int index)
{
    if (index < 0 || index >= PageCount())
        return false;
    if (active >= 0 && active != index && !pages[active]->Validate())
        return false;
    active = index;
    {
        const QSignalBlocker quiet(tabs);
        tabs->setCurrentIndex(index);
    }
    stack->setCurrentIndex(index);
    pages[index]->Activate();
    return true;
}

void SettingsSheet::OnTabChanged(int index)
{
    if (!SetActivePage(index)) {
        const QSignalBlocker quiet(tabs);
        tabs->setCurrentIndex(active);
    }
}

void SettingsSheet::SetOkCancelEnabled(bool enabled)
{
    buttons->button(QDialogButtonBox::Ok)->setEnabled(enabled);
    buttons->button(QDialogButtonBox::Cancel)->setEnabled(enabled);
}

void SettingsSheet::accept()
{
    if (active >= 0 && !pages[active]->Validate())
        return;
    QDialog::accept();
}

void SettingsSheet::done(int result)
{
    // Background work of a page ends before the sheet, and the page with it, goes away.
    for (SettingsPage* page : pages)
        page->OnSheetClosing();
    QDialog::done(result);
}

}  // namespace zpmoni
