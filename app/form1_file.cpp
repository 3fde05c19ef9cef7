// The current image: its listing in Text1, and the File menu's Open and Save.
#include "form1.h"

#include "imagefiles.h"
#include "listing.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace {
const QString kOpenFilter = QStringLiteral("File binari (*.*)|*.BIN|Tutti i files (*.*)|*.*");
const QString kSaveFilter = QStringLiteral("File binario (*.*)|*.BIN");
}  // namespace

Status Form1::DisplayBuffer()
{
    const auto size = imagefiles::sizeOf(FileName);
    if (!size)
        return size.failure();
    FileLength = qint32(size.value());
    ProgressBar1->setMaximumValue(FileLength / 8.0 + 1);
    ProgressBar1->setCurrentValue(1);
    Text2->setText(QFileInfo(FileName).fileName().toUpper());
    Text3->setText(QString::number(FileLength));

    showStatusDisplay(true);
    QCoreApplication::processEvents();
    // Kept until the new listing is in, so a failure does not leave an empty view.
    const QString previous = Text1->toPlainText();
    Text1->clear();

    double value = 1;
    auto listed = listing::write(FileName, work().listingPath(), [&] {
        ProgressBar1->setCurrentValue(++value);
        QCoreApplication::processEvents();
    });
    Status result;
    if (listed) {
        QFile file(work().listingPath());
        if (file.open(QIODevice::ReadOnly))
            Text1->setPlainText(QString::fromLatin1(file.readAll()));
        else
            result = Failure{tr("The listing file %1 cannot be read: %2.").arg(file.fileName(), file.errorString())};
    } else {
        result = listed.failure();
    }
    if (!result)
        Text1->setPlainText(previous);
    ProgressBar1->setCurrentValue(1);
    showStatusDisplay(false);
    return result;
}

void Form1::mnuOpen_Click()
{
    if (!Ready)
        return;
    Busy busy(*this);
    for (;;) {
        const QString path = prompter().openFileName(this, kOpenFilter, m_lastDialogPath);
        if (path.isEmpty())
            return;  // Cancel: silent
        m_lastDialogPath = path;
        const auto size = imagefiles::sizeOf(path);
        if (!size) {
            prompter().tell(this, QStringLiteral("Open"), tr("The image was not opened. %1").arg(size.message()),
                            Prompter::Critical);
            return;
        }
        if (size.value() > imagefiles::maxImageSize) {
            prompter().tell(this, QStringLiteral("Open"), QStringLiteral("File is too long ( >8K )."),
                            Prompter::NoIcon);
            FileName.clear();
            continue;
        }
        FileName = path;
        if (Status s = DisplayBuffer(); !s && !ending())
            prompter().tell(this, QStringLiteral("Open"), tr("The image was not listed. %1").arg(s.message()),
                            Prompter::Critical);
        return;
    }
}

void Form1::mnuSave_Click()
{
    if (!Ready || FileName.isEmpty())
        return;
    Busy busy(*this);
    const QString path = prompter().saveFileName(this, kSaveFilter, m_lastDialogPath);
    if (path.isEmpty())
        return;
    m_lastDialogPath = path;
    if (QFileInfo::exists(path) &&
        prompter().message(this, QStringLiteral("Save"), QStringLiteral("Overwrite ?"), Prompter::YesNo,
                           Prompter::NoIcon, Prompter::Yes) != Prompter::Yes)
        return;
    // A user who sees no message believes the image is safe: a failed copy is told.
    if (Status s = imagefiles::saveCopy(FileName, path); !s)
        prompter().tell(this, QStringLiteral("Save"), tr("The image was not saved: %1.").arg(s.message()),
                        Prompter::Critical);
}
