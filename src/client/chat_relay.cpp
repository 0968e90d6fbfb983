// SPDX-License-Identifier: MIT
#include "client/chat_relay.h"

#include "base/text_escape.h"

#include <cstdio>

void WriteChatLog(const std::string& workdir, const Clock& clock, std::string_view text)
{
    if (text.empty() || text.front() != '(')
        return;
    const std::tm local = clock.LocalTime(clock.Now());
    const std::string name = FormatTime(local, "Log/chat%Y%m%d.txt");
    std::string line = FormatTime(local, "[%H:%M:%S]") + " ";
    AppendEscaped(line, text);
    line.push_back('\n');
    // Opened and closed for each line; a line that cannot be written is lost quietly.
    if (FILE* f = std::fopen((workdir + "/" + name).c_str(), "ab")) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fclose(f);
    }
}

void ChatRelay::OnChat(std::string_view text, bool chatLogFlag)
{
    if (!text.empty() && text.front() == '(')
        view.AppendChatLine(text);
    if (chatLogFlag)
        WriteChatLog(workdir, clock, text);
}

void ChatRelay::OnCapturedChat(std::string_view text)
{
    if (glimit || text.empty())
        return;
    view.AppendChatLine(text);
    if (chatLog)
        WriteChatLog(workdir, clock, text);
}
