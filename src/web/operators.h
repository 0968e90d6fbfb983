// SPDX-License-Identifier: MIT
#pragma once

#include "base/regular_file.h"
#include "base/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zpmoni {

inline constexpr std::string_view kOperatorsFileName = "operators.txt";

enum class OperatorRole { Viewer, Admin };

struct Operator {
    std::string name;
    OperatorRole role = OperatorRole::Viewer;
    std::string tokenHash;  // "sha256:" and 64 lowercase hex digits
};

// Whether a name may stand in operators.txt: 1 to 32 of A-Z a-z 0-9 . _ -
bool ValidOperatorName(std::string_view name);
std::optional<OperatorRole> ParseRole(std::string_view role);
std::string_view RoleName(OperatorRole role);
// `bytes` random bytes from the kernel as base64url without padding (session ids, CSRF tokens).
Result<std::string> RandomText(size_t bytes);
// A new random token ("zpt_" and 43 base64url characters, 256 bits from the kernel).
Result<std::string> NewToken();
// "sha256:" and the token's SHA-256 in lowercase hex.
std::string HashToken(std::string_view token);

// The operators of operators.txt. Parse is pure; Load checks the file itself first: a regular
// file owned by this process's user, with no permission for group or others (it is refused
// otherwise, and the failure says why).
class OperatorList {
public:
    // Lines "NAME ROLE HASH"; blank lines and lines starting with '#' are skipped. A malformed
    // line is skipped and named in `problems` (by line number, never its text: it may hold a
    // secret).
    static OperatorList Parse(std::string_view text, std::vector<std::string>* problems = nullptr);
    static Result<OperatorList> Load(const std::string& path, std::vector<std::string>* problems = nullptr);

    // The operator whose token this is; the hashes are compared in constant time.
    const Operator* Find(std::string_view token) const;
    const Operator* ByName(std::string_view name) const;
    const std::vector<Operator>& All() const { return operators; }

private:
    std::vector<Operator> operators;
};

// zpmoni --add-operator NAME ROLE [--workdir DIR]: writes the operator's line to operators.txt
// (made with mode 0600 when missing; a line of the same name is replaced; on disk through
// `sync` when given) and prints the new token once on `out`. Exit status 0, 1 (file problem) or 2 (usage).
int RunAddOperator(const std::vector<std::string>& args, FILE* out, FILE* err, const FileSync& sync = {});

}  // namespace zpmoni
