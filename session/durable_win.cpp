// SPDX-License-Identifier: GPL-3.0-or-later
// A counter file replaced durably on Windows: written through, flushed, moved over the old
// one with the move written through; a lock on a file in the folder keeps two programs from
// taking the same number.
#include "serialnumber.h"

#include <QDir>
#include <QFileInfo>
#include <windows.h>

namespace {
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

QString temporaryFor(const QString &path)
{
    return path + QStringLiteral(".tmp");
}

QString replace(const QString &path, const QByteArray &data)
{
    const std::wstring temporary = native(temporaryFor(path));
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return systemError(GetLastError());
    DWORD written = 0;
    const bool ok = WriteFile(file, data.constData(), DWORD(data.size()), &written, nullptr) &&
                    written == DWORD(data.size()) && FlushFileBuffers(file);
    const DWORD error = ok ? 0 : GetLastError();
    CloseHandle(file);
    if (!ok) {
        DeleteFileW(temporary.c_str());
        return systemError(error ? error : ERROR_DISK_FULL);
    }
    if (!MoveFileExW(temporary.c_str(), native(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD moveError = GetLastError();
        DeleteFileW(temporary.c_str());
        return systemError(moveError);
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
