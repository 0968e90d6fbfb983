// SPDX-License-Identifier: MIT
#pragma once

#include "base/clock.h"
#include "base/result.h"
#include "base/write_failure_notice.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace zpmoni {

// Where chat lines are shown: the chat tab, or the terminal of a headless run.
class ChatView {
public:
    virtual ~ChatView() = default;
    virtual void AppendChatLine(std::string_view text) = 0;
};

// The text limit of a chat view, and the rule by which a view is emptied as a whole before the
// next line: when its text is within 200 characters of the limit.
inline constexpr size_t kChatViewLimit = 1 << 20;
constexpr bool ChatViewFull(size_t length, size_t limit) { return length + 200 > limit; }

// Appends a player's line ("(name)text") to Log/chatYYYYMMDD.txt; other texts are ignored.
// Fails with the system's words for the cause (empty when it gave none).
Status WriteChatLog(const std::string& workdir, const Clock& clock, std::string_view text);

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

}  // namespace zpmoni
