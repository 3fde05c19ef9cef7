// SPDX-License-Identifier: GPL-3.0-or-later
// A scripted Prompter for window tests: records every message box and dialog shown and
// answers from queues (a box with no scripted answer gets its preselected button).
#pragma once

#include "prompter.h"

#include <QList>
#include <QQueue>
#include <functional>

struct ShownMessage {
    QString title, text;
    Prompter::Buttons buttons;
    Prompter::Icon icon;
    Prompter::Answer preselected;
};

class FakePrompter : public Prompter {
public:
    QList<ShownMessage> shown;
    QQueue<Answer> answers;
    QQueue<QString> openPaths, savePaths;  // an empty path: Cancel
    QList<QPair<QString, QString>> openDialogs, saveDialogs;  // (filter, initial path)
    std::function<void(const ShownMessage &)> onMessage;  // runs while a box is open

    Answer message(QWidget *, const QString &title, const QString &text, Buttons buttons, Icon icon,
                   Answer preselected) override
    {
        shown.append({title, text, buttons, icon, preselected});
        if (onMessage)
            onMessage(shown.last());
        return answers.isEmpty() ? preselected : answers.dequeue();
    }
    QString openFileName(QWidget *, const QString &filter, const QString &initialPath) override
    {
        openDialogs.append({filter, initialPath});
        return openPaths.isEmpty() ? QString() : openPaths.dequeue();
    }
    QString saveFileName(QWidget *, const QString &filter, const QString &initialPath) override
    {
        saveDialogs.append({filter, initialPath});
        return savePaths.isEmpty() ? QString() : savePaths.dequeue();
    }
    QStringList texts() const
    {
        QStringList t;
        for (const auto &m : shown)
            t << m.text;
        return t;
    }
};
