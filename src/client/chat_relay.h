// SPDX-License-Identifier: MIT
#pragma once

#include "base/clock.h"
#include "base/write_failure_notice.h"

#include <string>
#include <string_view>

// Where chat lines are shown: the chat tab, or the terminal of a headless run.
class ChatView {
public:
    virtual ~ChatView() = default;
    virtual void AppendChatLine(std::string_view text) = 0;
};

// The chat text as a view keeps it: lines joined by line ends, the last without one, emptied
// as a whole when it would outgrow its limit.
class ChatBuffer {
public:
    static constexpr size_t kDefaultLimit = 1 << 20;
    explicit ChatBuffer(size_t limit = kDefaultLimit) : limit(limit) {}

    void AppendChatLine(std::string_view text);
    const std::string& Text() const { return text; }

    // Whether a text of this length is emptied before the next line: 200 characters short of
    // the limit.
    static bool Full(size_t length, size_t limit) { return length + 200 > limit; }

private:
    size_t limit;
    std::string text;
};

// Appends a player's line ("(name)text") to Log/chatYYYYMMDD.txt; other texts are ignored.
// False when the line could not be written (errno tells why).
bool WriteChatLog(const std::string& workdir, const Clock& clock, std::string_view text);

// The chat text of a PKT_CHAT body: the NUL-terminated text at offset 8, cut at the body's end.
std::string_view ChatText(const uint8_t* body, size_t length);

// Chat from the client connection and from the capture, shown once and logged on request.
class ChatRelay {
public:
    ChatRelay(ChatView& view, std::string workdir, const Clock& clock)
        : view(view), workdir(std::move(workdir)), clock(clock)
    {
    }

    // From the connection; chatLogFlag is the connection's copy of ChatLog.
    void OnChat(std::string_view text, bool chatLogFlag);
    // From the capture; closed while the G limiter's connection delivers the chat.
    void OnCapturedChat(std::string_view text);

    bool glimit = false;
    bool chatLog = false;
    // A chat log that cannot be written is told once, until a line gets through again.
    WriteFailureNotice logFailure;

private:
    void Log(std::string_view text);

    ChatView& view;
    std::string workdir;
    const Clock& clock;
};
