// SPDX-License-Identifier: MIT
#include "web/operators.h"

#include "base/regular_file.h"
#include "base/text_escape.h"
#include "web/console_guard.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zpmoni {

namespace {

// operators.txt holds a line per operator: anything near this size is not one.
constexpr size_t kOperatorsFileLimit = size_t{1} << 20;

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::vector<std::string_view> Fields(std::string_view line)
{
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsSpace(line[i]))
            ++i;
        const size_t start = i;
        while (i < line.size() && !IsSpace(line[i]))
            ++i;
        if (i > start)
            fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

// The lines of a text, without their "\n" or "\r\n".
template <class F>
void ForEachLine(std::string_view text, F&& f)
{
    size_t number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        f(++number, line);
    }
}

bool IsComment(std::string_view line)
{
    const std::vector<std::string_view> fields = Fields(line);
    return fields.empty() || fields[0].front() == '#';
}

// "sha256:" and 64 hex digits, returned in lowercase; nothing otherwise.
std::optional<std::string> NormalHash(std::string_view hash)
{
    constexpr std::string_view prefix = "sha256:";
    if (hash.size() != prefix.size() + 64 || hash.substr(0, prefix.size()) != prefix)
        return std::nullopt;
    std::string out(prefix);
    for (char c : hash.substr(prefix.size())) {
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return std::nullopt;
        out.push_back(c);
    }
    return out;
}

std::string ModeText(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// The file's text after the checks Load makes; nothing (not a failure) when it does not exist.
Result<std::optional<std::string>> ReadChecked(const std::string& path)
{
    const std::string shown = Escaped(path);
    FileContent file = ReadRegularFile(path, kOperatorsFileLimit);
    switch (file.status) {
    case FileStatus::Ok:
        break;
    case FileStatus::Missing:
        return std::optional<std::string>();
    case FileStatus::NotRegular:
        return Failure{shown + ": not a regular file (a link, say); refused"};
    case FileStatus::TooLarge:
        return Failure{shown + ": too large"};
    case FileStatus::Failed:
        return Failure{shown + ": " + std::strerror(file.error)};
    }
    if (file.owner != ::geteuid())
        return Failure{shown + ": owned by uid " + std::to_string(file.owner) + ", not by uid " +
                       std::to_string(::geteuid()) + " that runs zpmoni; refused"};
    if ((file.mode & 077) != 0)
        return Failure{shown + ": readable by others (mode " + ModeText(file.mode) + "); make it 0600"};
    return std::optional<std::string>(std::move(file.data));
}

// Writes operators.txt whole, a crash leaving the old text or the new one: a missing file is
// made empty with mode 0600 first, so that the replacement, which keeps the file's owner and
// mode, keeps it private.
Status WriteOperators(const std::string& path, std::string_view text, const FileSync& sync)
{
    const int made = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (made >= 0) {
        // The umask may only take permissions away; this makes sure nothing else is left.
        const bool privateMode = ::fchmod(made, 0600) == 0;
        ::close(made);
        if (!privateMode)
            return Failure{Escaped(path) + ": cannot set its mode: " + std::strerror(errno)};
    } else if (errno != EEXIST) {
        return Failure{Escaped(path) + ": cannot write: " + std::strerror(errno)};
    }
    const FileResult written = ReplaceRegularFile(path, text, sync);
    if (written.status != FileStatus::Ok)
        return Failure{FileProblem("write", path, written)};
    return {};
}

}  // namespace

bool ValidOperatorName(std::string_view name)
{
    if (name.empty() || name.size() > 32)
        return false;
    for (char c : name) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                        c == '.' || c == '_' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

std::optional<OperatorRole> ParseRole(std::string_view role)
{
    if (role == "viewer")
        return OperatorRole::Viewer;
    if (role == "admin")
        return OperatorRole::Admin;
    return std::nullopt;
}

std::string_view RoleName(OperatorRole role)
{
    return role == OperatorRole::Admin ? "admin" : "viewer";
}

Result<std::string> RandomText(size_t bytes)
{
    QByteArray raw(static_cast<qsizetype>(bytes), '\0');
    size_t filled = 0;
    while (filled < bytes) {
        const ssize_t n = ::getrandom(raw.data() + filled, bytes - filled, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Failure{std::string("Cannot draw random bytes: ") + std::strerror(errno)};
        filled += static_cast<size_t>(n);
    }
    const QByteArray text = raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    raw.fill('\0');
    return text.toStdString();
}

Result<std::string> NewToken()
{
    Result<std::string> random = RandomText(32);
    if (!random)
        return random;
    return "zpt_" + random.value();
}

std::string HashToken(std::string_view token)
{
    const QByteArray digest = QCryptographicHash::hash(
        QByteArrayView(token.data(), static_cast<qsizetype>(token.size())), QCryptographicHash::Sha256);
    return "sha256:" + digest.toHex().toStdString();
}

OperatorList OperatorList::Parse(std::string_view text, std::vector<std::string>* problems)
{
    OperatorList list;
    auto problem = [&](size_t number, const char* why) {
        if (problems)
            problems->push_back("line " + std::to_string(number) + ": " + why);
    };
    ForEachLine(text, [&](size_t number, std::string_view line) {
        if (IsComment(line))
            return;
        const std::vector<std::string_view> fields = Fields(line);
        if (fields.size() != 3)
            return problem(number, "not NAME ROLE sha256:HEX");
        if (!ValidOperatorName(fields[0]))
            return problem(number, "the name is not 1 to 32 of A-Z a-z 0-9 . _ -");
        const std::optional<OperatorRole> role = ParseRole(fields[1]);
        if (!role)
            return problem(number, "the role is neither viewer nor admin");
        std::optional<std::string> hash = NormalHash(fields[2]);
        if (!hash)
            return problem(number, "the hash is not sha256: and 64 hex digits");
        // Two lines for one name: which one counts would be a guess, so only the first does.
        if (list.ByName(fields[0]))
            return problem(number, "the name is on an earlier line already");
        list.operators.push_back(Operator{std::string(fields[0]), *role, std::move(*hash)});
    });
    return list;
}

Result<OperatorList> OperatorList::Load(const std::string& path, std::vector<std::string>* problems)
{
    Result<std::optional<std::string>> text = ReadChecked(path);
    if (!text)
        return Failure{text.error()};
    if (!text.value())
        return Failure{Escaped(path) + ": not found; add an operator with zpmoni --add-operator"};
    std::vector<std::string> found;
    OperatorList list = Parse(**text, &found);
    if (problems) {
        for (const std::string& p : found)
            problems->push_back(Escaped(path) + ": " + p);
    }
    return list;
}

const Operator* OperatorList::Find(std::string_view token) const
{
    const std::string hash = HashToken(token);
    const Operator* match = nullptr;
    // Every hash is compared, so the time taken does not tell where in the list a match stood.
    for (const Operator& op : operators) {
        const bool equal = SecretsEqual(hash, op.tokenHash);
        if (equal && !match)
            match = &op;
    }
    return match;
}

const Operator* OperatorList::ByName(std::string_view name) const
{
    for (const Operator& op : operators) {
        if (op.name == name)
            return &op;
    }
    return nullptr;
}

int RunAddOperator(const std::vector<std::string>& args, FILE* out, FILE* err, const FileSync& sync)
{
    auto usage = [&] {
        std::fputs("usage: zpmoni --add-operator NAME ROLE [--workdir DIR]\n"
                   "       NAME: 1 to 32 of A-Z a-z 0-9 . _ -   ROLE: viewer or admin\n",
                   err);
        return 2;
    };
    std::vector<std::string> positional;
    std::string workdir = ".";
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--workdir" && i + 1 < args.size())
            workdir = args[++i];
        else if (args[i].rfind("--", 0) == 0)
            return usage();
        else
            positional.push_back(args[i]);
    }
    if (positional.size() != 2)
        return usage();
    const std::string& name = positional[0];
    if (!ValidOperatorName(name)) {
        std::fprintf(err, "zpmoni: not a valid operator name: %s\n", Escaped(name).c_str());
        return usage();
    }
    const std::optional<OperatorRole> role = ParseRole(positional[1]);
    if (!role) {
        std::fprintf(err, "zpmoni: not a role (viewer or admin): %s\n", Escaped(positional[1]).c_str());
        return usage();
    }
    if (workdir.empty())
        workdir = ".";

    const std::string path = workdir + "/" + std::string(kOperatorsFileName);
    // A file the monitor would refuse is left for its owner to put right, not quietly changed.
    Result<std::optional<std::string>> old = ReadChecked(path);
    if (!old) {
        std::fprintf(err, "zpmoni: %s\n", old.error().c_str());
        return 1;
    }
    Result<std::string> token = NewToken();
    if (!token) {
        std::fprintf(err, "zpmoni: %s\n", token.error().c_str());
        return 1;
    }
    const std::string entry = name + " " + std::string(RoleName(*role)) + " " + HashToken(token.value());

    std::string text;
    bool replaced = false;
    if (old.value()) {
        ForEachLine(**old, [&](size_t, std::string_view line) {
            const std::vector<std::string_view> fields = Fields(line);
            if (!IsComment(line) && fields[0] == name) {
                // The first line of the name becomes the new one; any later ones go.
                if (!replaced)
                    text.append(entry).append("\n");
                replaced = true;
                return;
            }
            text.append(line).append("\n");
        });
    }
    if (!replaced)
        text.append(entry).append("\n");

    const Status written = WriteOperators(path, text, sync);
    if (!written) {
        std::fprintf(err, "zpmoni: %s\n", written.error().c_str());
        return 1;
    }
    std::fprintf(out,
                 "%s operator %s %s in %s.\n"
                 "Token (it is not shown again; keep it now):\n%s\n",
                 replaced ? "Replaced" : "Added", name.c_str(), std::string(RoleName(*role)).c_str(),
                 Escaped(path).c_str(), token.value().c_str());
    std::fflush(out);
    return 0;
}

}  // namespace zpmoni
