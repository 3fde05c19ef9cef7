// SPDX-License-Identifier: GPL-3.0-or-later
// A counter file replaced durably on Windows: links followed to the file itself, written
// through, flushed, moved over the old one with the move written through; a lock on a file
// in the folder keeps two programs from taking the same number.
#include "serialnumber.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <windows.h>

namespace {
// As many links in a row as a POSIX kernel follows; more are taken for a loop.
constexpr int maxLinks = 40;

QString tr(const char *text)
{
    return QCoreApplication::translate("SerialNumber", text);
}

QString systemError(DWORD error)
{
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString message = text ? QString::fromWCharArray(text).trimmed() : QStringLiteral("error %1").arg(error);
    LocalFree(text);
    return message;
}

std::wstring native(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}
}  // namespace

namespace durable {

Result<QString> followLinks(const QString &path)
{
    QString at = path;
    for (int links = 0;; ++links) {
        const QFileInfo info(at);
        if (info.isSymbolicLink()) {
            if (links == maxLinks)
                return Failure{tr("it is a link that leads round in a loop")};
            at = info.symLinkTarget();
            continue;
        }
        if (!info.exists())
            return at;
        if (info.isDir())
            return Failure{tr("it is a folder")};
        if (!info.isFile())
            return Failure{tr("it is no regular file")};
        return at;
    }
}

QString temporaryFor(const QString &path)
{
    return path + QStringLiteral(".tmp");
}

Status removeTemporary(const QString &path)
{
    const QString temporary = temporaryFor(path);
    if (DeleteFileW(native(temporary).c_str()))
        return {};
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND)
        return {};
    const DWORD attributes = GetFileAttributesW(native(temporary).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Failure{tr("the name of its temporary file, %1, is taken by a folder").arg(temporary)};
    return Failure{tr("its temporary file %1 cannot be removed: %2").arg(temporary, systemError(error))};
}

Status mayWrite(const QString &path)
{
    const DWORD attributes = GetFileAttributesW(native(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return Failure{tr("it is read-only")};
    return {};
}

Status replace(const QString &path, const QByteArray &data)
{
    const std::wstring temporary = native(temporaryFor(path));
    // The old file's attributes (hidden, archive) go on the new one; its folder's
    // permissions, which the new file takes, are the old file's as a rule.
    const DWORD old = GetFileAttributesW(native(path).c_str());
    const DWORD kept = old == INVALID_FILE_ATTRIBUTES
                           ? 0
                           : old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SYSTEM);
    const DWORD attributes = kept ? kept : FILE_ATTRIBUTE_NORMAL;
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              attributes | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Failure{systemError(GetLastError())};
    DWORD written = 0;
    const bool ok = WriteFile(file, data.constData(), DWORD(data.size()), &written, nullptr) &&
                    written == DWORD(data.size()) && FlushFileBuffers(file);
    const DWORD error = ok ? 0 : GetLastError();
    CloseHandle(file);
    if (!ok) {
        DeleteFileW(temporary.c_str());
        return Failure{systemError(error ? error : ERROR_DISK_FULL)};
    }
    if (!MoveFileExW(temporary.c_str(), native(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD moveError = GetLastError();
        DeleteFileW(temporary.c_str());
        return Failure{systemError(moveError)};
    }
    return {};
}

FolderLock::FolderLock(const QString &path)
{
    const std::wstring lock = native(QFileInfo(path).absolutePath() + QStringLiteral("/.voralith-serial.lock"));
    HANDLE file = CreateFileW(lock.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        m_error = systemError(GetLastError());
        return;
    }
    OVERLAPPED whole{};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        m_error = systemError(GetLastError());
        CloseHandle(file);
        return;
    }
    m_handle = reinterpret_cast<qintptr>(file);
}

FolderLock::~FolderLock()
{
    if (m_handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

}  // namespace durable
