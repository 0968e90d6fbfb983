// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <string_view>

namespace zpmoni {

// A text from the network (user, aircraft and position names, chat), kept as bytes: shown as
// UTF-8 when it is valid UTF-8, else as Shift_JIS, the simulator's own character set.
QString NetworkText(std::string_view bytes);

}  // namespace zpmoni
