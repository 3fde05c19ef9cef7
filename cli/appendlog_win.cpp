// SPDX-License-Identifier: GPL-3.0-or-later
// The chip log on Windows: FILE_APPEND_DATA alone, so that each line's one WriteFile lands
// whole at the end even with other writers; FlushFileBuffers before the next chip.
#include "appendlog.h"

#include <windows.h>

namespace {
QString systemError(DWORD error)
{
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString message = text ? QString::fromWCharArray(text).trimmed() : QStringLiteral("error %1").arg(error);
    if (message.endsWith(QLatin1Char('.')))
        message.chop(1);
    LocalFree(text);
    return message;
}
}  // namespace

AppendLog::~AppendLog()
{
    close();
}

bool AppendLog::isOpen() const
{
    return m_handle != nullptr;
}

void AppendLog::close()
{
    if (m_handle)
        CloseHandle(m_handle);
    m_handle = nullptr;
}

QString AppendLog::open(const QString &path)
{
    close();
    const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), FILE_APPEND_DATA | SYNCHRONIZE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return systemError(GetLastError());
    m_handle = h;
    return {};
}

QString AppendLog::append(const QByteArray &line)
{
    if (!m_handle)
        return systemError(ERROR_INVALID_HANDLE);
    DWORD written = 0;
    if (!WriteFile(m_handle, line.constData(), DWORD(line.size()), &written, nullptr))
        return systemError(GetLastError());
    if (written != DWORD(line.size()))
        return systemError(ERROR_DISK_FULL);
    if (!FlushFileBuffers(m_handle))
        return systemError(GetLastError());
    return {};
}
