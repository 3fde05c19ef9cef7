// SPDX-License-Identifier: GPL-3.0-or-later
// The current image: its listing in Text1, the File menu's Open and Save, and a file
// dropped onto the window.
#include "form1.h"

#include "image.h"
#include "listing.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>

namespace {
// The filters' Italian words ("File binari", "Tutti i files", "File binario") are kept as
// users know them.
const QString kOpenFilter = QStringLiteral(
    "File binari (*.*)|*.BIN|Tutti i files (*.*)|*.*|Intel HEX (*.hex *.ihx)|*.hex;*.ihx;*.ihex");
const QString kSaveFilter = QStringLiteral("File binario (*.*)|*.BIN|Intel HEX (*.hex)|*.hex");

// The one local file of a drag, or an empty string.
QString droppedFile(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1 || !mime->urls().constFirst().isLocalFile())
        return {};
    return mime->urls().constFirst().toLocalFile();
}
}  // namespace

Status Form1::DisplayBuffer(const Image &image)
{
    FileLength = qint32(image.bytes.size());
    ProgressBar1->setMaximumValue(FileLength / 8.0 + 1);
    ProgressBar1->setCurrentValue(1);
    Text2->setText(QFileInfo(image.path).fileName().toUpper());
    Text3->setText(QString::number(FileLength));

    showStatusDisplay(true);
    QCoreApplication::processEvents();
    // The view is hidden while the listing is built, so its old text stays in it until the
    // new one replaces it whole: nothing to copy aside, and a failure leaves it as it was.

    double value = 1;
    const Status listed = listing::write(image, work().listingPath(), [&] {
        ProgressBar1->setCurrentValue(++value);
        QCoreApplication::processEvents();
    });
    Status result;
    if (listed) {
        QFile file(work().listingPath());
        if (file.open(QIODevice::ReadOnly)) {
            Text1->setPlainText(QString::fromLatin1(file.readAll()));
            m_listed = image.bytes;
        } else {
            result = Failure{tr("The listing file %1 cannot be read: %2.").arg(file.fileName(), file.errorString())};
        }
    } else {
        result = listed.failure();
    }
    ProgressBar1->setCurrentValue(1);
    showStatusDisplay(false);
    return result;
}

Result<Image> Form1::currentImage()
{
    auto image = loadImage(FileName);
    if (image && image.value().bytes != m_listed) {
        if (Status s = DisplayBuffer(image.value()); !s)
            return s.failure();
    }
    return image;
}

Form1::OpenOutcome Form1::openImageFile(const QString &path)
{
    const auto loaded = loadImage(path);
    if (!loaded) {
        switch (loaded.failure().kind) {
        case Failure::TooLong:
            prompter().tell(this, QStringLiteral("Open"), QStringLiteral("File is too long ( >8K )."),
                            Prompter::NoIcon);
            FileName.clear();
            return OpenRefused;
        case Failure::Refused:
            prompter().tell(this, QStringLiteral("Open"), loaded.message(), Prompter::NoIcon);
            FileName.clear();
            return OpenRefused;
        default:
            prompter().tell(this, QStringLiteral("Open"), tr("The image was not opened. %1").arg(loaded.message()),
                            Prompter::Critical);
            return OpenEnded;
        }
    }
    FileName = path;
    if (Status s = DisplayBuffer(loaded.value()); !s && !ending())
        prompter().tell(this, QStringLiteral("Open"), tr("The image was not listed. %1").arg(s.message()),
                        Prompter::Critical);
    return OpenEnded;
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
        // A refused file brings the dialog again, until one is taken or the user cancels.
        if (openImageFile(path) == OpenEnded)
            return;
    }
}

void Form1::dragEnterEvent(QDragEnterEvent *event)
{
    if (Ready && !droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent *event)
{
    const QString path = droppedFile(event->mimeData());
    if (!Ready || path.isEmpty())
        return;
    event->acceptProposedAction();
    Busy busy(*this);
    m_lastDialogPath = path;
    openImageFile(path);
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
    // The name chooses the format; a save in the current image's own format is a copy of
    // its file. A user who sees no message believes the image is safe: a failure is told.
    const auto current = currentImage();
    Status saved = current ? saveImage(current.value(), path, formatForName(path)) : Status(current.failure());
    if (!saved)
        prompter().tell(this, QStringLiteral("Save"), tr("The image was not saved. %1").arg(saved.message()),
                        Prompter::Critical);
}
