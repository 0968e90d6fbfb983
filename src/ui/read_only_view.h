// SPDX-License-Identifier: MIT
#pragma once

#include <QPlainTextEdit>

namespace zpmoni {

// A read-only text view without line wrapping, white like an edit field rather than the grey of
// a disabled one: for output the user reads and copies from.
inline QPlainTextEdit* NewReadOnlyView(QWidget* parent)
{
    auto* view = new QPlainTextEdit(parent);
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    QPalette white = view->palette();
    white.setColor(QPalette::Base, Qt::white);
    white.setColor(QPalette::Text, Qt::black);
    view->setPalette(white);
    return view;
}

}  // namespace zpmoni
