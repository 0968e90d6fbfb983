// SPDX-License-Identifier: MIT
#include "client/chat_page.h"

#include "ui/network_text.h"
#include "ui/read_only_view.h"

#include <QDesktopServices>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QUrl>
#include <QVBoxLayout>

namespace zpmoni {

void OpenFolder(const QString& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

ChatPage::ChatPage(QString logFolder, QWidget* parent, int limit)
    : QWidget(parent), logFolder(std::move(logFolder)), limit(limit)
{
    view = NewReadOnlyView(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);

    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        menu.addAction(QStringLiteral("Open log directory"), this, &ChatPage::OpenLogFolder);
        menu.exec(view->viewport()->mapToGlobal(at));  // a scroll area reports viewport points
    });
}

void ChatPage::AppendChatLine(std::string_view bytes)
{
    // The view is emptied as a whole when it nears its limit, as the stored text would be.
    const int length = view->document()->characterCount() - 1;
    if (ChatViewFull(static_cast<size_t>(length), static_cast<size_t>(limit)))
        view->clear();
    QTextCursor cursor(view->document());
    cursor.movePosition(QTextCursor::End);
    if (!view->document()->isEmpty())
        cursor.insertText(QStringLiteral("\n"));
    cursor.insertText(NetworkText(bytes));
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
}

QString ChatPage::Text() const
{
    return view->toPlainText();
}

void ChatPage::OpenLogFolder()
{
    OpenFolder(logFolder);
}

}  // namespace zpmoni
