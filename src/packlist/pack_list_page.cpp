// SPDX-License-Identifier: MIT
#include "packlist/pack_list_page.h"

#include "server/server_start_page.h"
#include "ui/read_only_view.h"
#include "ui/settings_sheet.h"

#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>

namespace zpmoni {

PackListPage::PackListPage(const std::string& packFile, const ServerStartPage& bootconf,
                             std::unique_ptr<AircraftIndex> known, const DirectoryListing& listing,
                             QWidget* parent)
    : SettingsPage(QString::fromUtf8("機体パックリスト"), parent), packFile(packFile), bootconf(bootconf),
      known(std::move(known)), listing(listing),
      worker(this, {[this](const QString& line) { AppendOutputLine(line); },
                    [this](int count) { progress->setRange(0, count); },
                    [this](int done) { progress->setValue(done); }, [this](bool ok) { OnFinished(ok); }})
{
    askOutput = [](QWidget* parent) {
        return QFileDialog::getSaveFileName(
            parent, QString::fromUtf8("保存ファイル名を指定"), QDir::currentPath(),
            QString::fromUtf8("テキストファイル(*.txt) (*.txt);;すべてのファイル(*.*) (*)"), nullptr,
            QFileDialog::DontConfirmOverwrite);
    };
}

PackListPage::~PackListPage()
{
    worker.Stop();
}

void PackListPage::BuildControls()
{
    file = new QLineEdit(Shown(packFile), this);
    file->setObjectName(QStringLiteral("packFile"));
    auto* choose = new QPushButton(QStringLiteral("..."), this);
    choose->setObjectName(QStringLiteral("choose"));
    choose->setFixedWidth(32);
    build = new QPushButton(QString::fromUtf8("リスト作成"), this);
    build->setObjectName(QStringLiteral("build"));
    output = NewReadOnlyView(this);
    output->setObjectName(QStringLiteral("output"));
    progress = new QProgressBar(this);
    progress->setObjectName(QStringLiteral("progress"));
    progress->setRange(0, 1);
    progress->setValue(0);
    progress->setTextVisible(false);

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QString::fromUtf8("パック名リスト"), this), 0, 0);
    grid->addWidget(file, 0, 1);
    grid->addWidget(choose, 0, 2);
    grid->addWidget(build, 1, 0);
    grid->addWidget(output, 2, 0, 1, 3);
    grid->addWidget(progress, 3, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(2, 1);

    connect(choose, &QPushButton::clicked, this, &PackListPage::OnChooseFile);
    connect(build, &QPushButton::clicked, this, &PackListPage::OnBuildList);
}

std::string PackListPage::PackFile() const
{
    return Created() ? EditBytes(file->text(), packFile) : packFile;
}

void PackListPage::OnChooseFile()
{
    const QString chosen = QFileDialog::getOpenFileName(this, QString::fromUtf8("パック名ファイルを選択"),
                                                        QDir::currentPath(),
                                                        QString::fromUtf8("すべてのファイル(*.*) (*)"));
    if (!chosen.isEmpty())
        file->setText(chosen);
}

void PackListPage::OnBuildList()
{
    if (worker.Running()) {
        worker.RequestStop();
        return;
    }
    PackListJob job;
    job.simFolder = bootconf.FolderText();
    job.lists = PackListBuilder(listing, *known).FindAircraftLists(job.simFolder);
    if (job.lists.empty()) {
        Message(QString::fromUtf8("aircraftフォルダが見つかりません"), QStringLiteral("Error"));
        return;
    }
    const QString chosen = askOutput(this);
    if (chosen.isEmpty())
        return;
    outputFile = chosen;
    job.output = chosen.toStdString();
    if (Sheet())
        Sheet()->SetOkCancelEnabled(false);
    idleText = build->text();
    build->setText(QString::fromUtf8("中止"));
    worker.Start(std::move(job), listing, known);
}

void PackListPage::AppendOutputLine(const QString& text)
{
    output->setUpdatesEnabled(false);
    output->appendPlainText(text);
    output->setUpdatesEnabled(true);
    output->verticalScrollBar()->setValue(output->verticalScrollBar()->maximum());
}

void PackListPage::OnFinished(bool ok)
{
    // A file the build could not use or write is not offered as the one to read.
    if (ok && file->text() != outputFile) {
        const auto answer = QMessageBox::question(this, QGuiApplication::applicationDisplayName(),
                                                  QString::fromUtf8("規定のパック名リストに設定しますか?"),
                                                  QMessageBox::Ok | QMessageBox::Cancel);
        if (answer == QMessageBox::Ok)
            file->setText(outputFile);
    }
    build->setText(idleText);
    if (Sheet())
        Sheet()->SetOkCancelEnabled(true);
}

void PackListPage::OnSheetClosing()
{
    worker.Stop();
}

}  // namespace zpmoni
