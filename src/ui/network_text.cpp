// SPDX-License-Identifier: MIT
#include "ui/network_text.h"

#include <QStringDecoder>

namespace zpmoni {

QString NetworkText(std::string_view bytes)
{
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(view);
    if (!utf8.hasError())
        return text;
    QStringDecoder sjis("Shift_JIS", QStringDecoder::Flag::Stateless);
    if (sjis.isValid())
        return sjis(view);
    return QString::fromLatin1(view);
}

}  // namespace zpmoni
