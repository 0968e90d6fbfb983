// SPDX-License-Identifier: MIT
#pragma once

#include "client/chat_relay.h"

#include <QString>
#include <QWidget>

class QPlainTextEdit;

namespace zpmoni {


// The chat tab: the server's chat as plain text, newest line in view.
class ChatPage final : public QWidget, public ChatView {
    Q_OBJECT
public:
    ChatPage(QString logFolder, QWidget* parent = nullptr, int limit = kChatViewLimit);

    void AppendChatLine(std::string_view text) override;
    QString Text() const;
    void OpenLogFolder();

private:
    QPlainTextEdit* view;
    QString logFolder;
    int limit;
};

// Opens a folder in the desktop's file manager.
void OpenFolder(const QString& path);

}  // namespace zpmoni
