// SPDX-License-Identifier: GPL-3.0-or-later
// What voralith-cli shows and asks: results on standard output, failures, questions and
// progress on standard error. A bar per step when standard error is a terminal, a plain
// line per step otherwise; --quiet leaves only the failures.
#pragma once

#include "operations.h"

#include <QString>
#include <memory>
#include <optional>

class Terminal {
public:
    explicit Terminal(bool quiet);
    ~Terminal();

    void result(const QString &text);
    void failure(const QString &text);
    // A result told on standard error, when standard output carries data.
    void note(const QString &text);
    // The progress sink of one step, named as it starts.
    Progress step(const QString &name);
    // A question answered on standard input; only "y" or "yes" says yes.
    bool ask(const QString &question);
    // A line of standard input; nothing at its end.
    std::optional<QString> readLine();
    // A prompt for the next line of input, shown only when a person types it.
    void prompt(const QString &text);

private:
    struct Bar;
    void endBar();
    bool m_quiet;
    bool m_barsOnTerminal;
    bool m_typed;
    std::shared_ptr<Bar> m_bar;
};
