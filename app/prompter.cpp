// SPDX-License-Identifier: GPL-3.0-or-later
// Standard message boxes and file dialogs.
#include "prompter.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {
QMessageBox::StandardButton toStandard(Prompter::Answer a)
{
    switch (a) {
    case Prompter::Ok: return QMessageBox::Ok;
    case Prompter::Cancel: return QMessageBox::Cancel;
    case Prompter::Yes: return QMessageBox::Yes;
    case Prompter::No: return QMessageBox::No;
    }
    return QMessageBox::NoButton;
}

// "*.BIN" -> "*.[Bb][Ii][Nn]": Qt's dialog matches patterns with the file system's case rules.
// "*.*" -> "*": on Windows it means every file, for Qt only names with a dot.
QString caseless(const QString &pattern)
{
    QStringList parts = pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString &p : parts) {
        if (p == QLatin1String("*.*")) {
            p = QStringLiteral("*");
            continue;
        }
        QString out;
        for (QChar c : p) {
            if (c.isLetter() && c.toLower() != c.toUpper())
                out += QLatin1Char('[') + c.toUpper() + c.toLower() + QLatin1Char(']');
            else
                out += c;
        }
        p = out;
    }
    return parts.join(QLatin1Char(' '));
}

QString runDialog(QWidget *parent, const QString &filter, const QString &initialPath, bool save)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // Only the description shows; the matching patterns stay behind it.
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    // The program asks "Overwrite ?" itself.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setNameFilters(dialogNameFilters(filter));
    if (!initialPath.isEmpty())
        dialog.selectFile(initialPath);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}
}  // namespace

QStringList dialogNameFilters(const QString &filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        out << parts.at(i) + QStringLiteral(" (") + caseless(parts.at(i + 1)) + QLatin1Char(')');
    return out;
}

Prompter::Answer WidgetPrompter::message(QWidget *parent, const QString &title, const QString &text,
                                         Buttons buttons, Icon icon, Answer preselected)
{
    QMessageBox box(parent);
    box.setWindowTitle(title);
    box.setText(text);
    switch (icon) {
    case NoIcon: box.setIcon(QMessageBox::NoIcon); break;
    case Information: box.setIcon(QMessageBox::Information); break;
    case Warning: box.setIcon(QMessageBox::Warning); break;
    case Critical: box.setIcon(QMessageBox::Critical); break;
    }
    switch (buttons) {
    case OkOnly: box.setStandardButtons(QMessageBox::Ok); break;
    case OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    }
    box.setDefaultButton(toStandard(preselected));
    const int r = box.exec();
    switch (r) {
    case QMessageBox::Ok: return Ok;
    case QMessageBox::Yes: return Yes;
    case QMessageBox::No: return No;
    default: return buttons == YesNo ? No : Cancel;
    }
}

QString WidgetPrompter::openFileName(QWidget *parent, const QString &filter, const QString &initialPath)
{
    return runDialog(parent, filter, initialPath, false);
}

QString WidgetPrompter::saveFileName(QWidget *parent, const QString &filter, const QString &initialPath)
{
    return runDialog(parent, filter, initialPath, true);
}
