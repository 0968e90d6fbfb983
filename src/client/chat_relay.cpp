// SPDX-License-Identifier: MIT
#include "client/chat_relay.h"

#include "base/text_escape.h"
#include "base/regular_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zpmoni {

namespace {
Failure SystemFailure()
{
    return Failure{errno != 0 ? std::strerror(errno) : ""};
}
}  // namespace

Status WriteChatLog(const std::string& workdir, const Clock& clock, std::string_view text)
{
    if (text.empty() || text.front() != '(')
        return {};
    const std::tm local = clock.LocalTime(clock.Now());
    const std::string name = FormatTime(local, "Log/chat%Y%m%d.txt");
    std::string line = FormatTime(local, "[%H:%M:%S]") + " ";
    AppendEscaped(line, text);
    line.push_back('\n');
    // Opened and closed for each line, so the next line tries again.
    errno = 0;
    FILE* f = OpenForAppend(workdir, name);
    if (!f)
        return SystemFailure();
    const bool written = std::fwrite(line.data(), 1, line.size(), f) == line.size();
    Status status = written ? Status{} : SystemFailure();
    if (std::fclose(f) != 0 && status)
        status = SystemFailure();
    return status;
}

void ChatRelay::Log(std::string_view text)
{
    const Status written = WriteChatLog(workdir, clock, text);
    logFailure.Attempted(written.ok(), written.error().empty() ? "the chat log" : "the chat log: " + written.error(), 0);
}

void ChatRelay::OnChat(std::string_view text, bool chatLogFlag)
{
    if (!text.empty() && text.front() == '(')
        view.AppendChatLine(text);
    if (chatLogFlag)
        Log(text);
}

void ChatRelay::OnCapturedChat(std::string_view text)
{
    if (glimit || text.empty())
        return;
    view.AppendChatLine(text);
    if (chatLog)
        Log(text);
}

}  // namespace zpmoni
