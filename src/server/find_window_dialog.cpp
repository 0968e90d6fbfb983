// SPDX-License-Identifier: MIT
#include "server/find_window_dialog.h"

#include "server/server_service.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace zpmoni {

FindWindowDialog::FindWindowDialog(Search search, std::function<void(WindowId)> show, QWidget* parent)
    : QDialog(parent), search(std::move(search)), show(std::move(show))
{
    setWindowTitle(QString::fromUtf8("ZPウィンドウ検索"));
    auto* text = new QLabel(QString::fromUtf8("既に起動しているZEPHRINEを制御下に置きます"), this);
    text->setTextFormat(Qt::PlainText);
    searchButton = new QPushButton(QString::fromUtf8("ウィンドウ検索"), this);
    controlButton = new QPushButton(QString::fromUtf8("制御下に置く"), this);
    auto* cancel = new QPushButton(QString::fromUtf8("キャンセル"), this);
    controlButton->setEnabled(false);
    controlButton->setDefault(true);
    connect(searchButton, &QPushButton::clicked, this, [this] { OnSearch(); });
    connect(controlButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(searchButton);
    buttons->addStretch();
    buttons->addWidget(controlButton);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addLayout(buttons);
}

void FindWindowDialog::OnSearch(bool quiet)
{
    searchButton->setEnabled(false);
    search([dialog = QPointer<FindWindowDialog>(this), quiet](std::optional<WindowInfo> window) {
        if (dialog)
            dialog->Searched(std::move(window), quiet);
    });
}

void FindWindowDialog::Searched(std::optional<WindowInfo> window, bool quiet)
{
    searchButton->setEnabled(true);
    found = std::move(window);
    // A search that finds nothing leaves nothing to put under control, even after an earlier
    // one found a window.
    controlButton->setEnabled(found.has_value());
    if (!found) {
        if (!quiet)
            QMessageBox::information(this, windowTitle(), QString::fromUtf8("見つかりませんでした"));
        return;
    }
    show(found->id);
}

void TakeControl(QWidget* parent, ServerService& server)
{
    if (!server.CanTakeOver()) {
        QMessageBox::information(parent, QString::fromUtf8("ZPウィンドウ検索"),
                                 QString::fromUtf8("2つ以上のZEPHRINEを制御することはできません\n"
                                                   "ZP終了を行ってから，再度実行してください"));
        return;
    }
    FindWindowDialog dialog([&](auto answer) { server.SearchWindow(std::move(answer)); },
                            [&](WindowId w) { server.ShowWindow(w); }, parent);
    // Refused only when a server came under control meanwhile (a scheduled start), which the
    // greyed start command shows.
    if (dialog.exec() == QDialog::Accepted && dialog.Found())
        static_cast<void>(server.TakeOver(*dialog.Found()));
}

}  // namespace zpmoni
