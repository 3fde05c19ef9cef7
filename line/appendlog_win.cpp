// SPDX-License-Identifier: GPL-3.0-or-later
// The chip log on Windows: FILE_APPEND_DATA alone, so that each line's one WriteFile lands
// whole at the end even with other writers; FlushFileBuffers before the next chip. A pipe
// or a console takes its lines unflushed.
#include "appendlog.h"

#include <QCoreApplication>
#include <windows.h>

namespace {
QString tr(const char *text)
{
    return QCoreApplication::translate("AppendLog", text);
}

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

const wchar_t *native(const QString &path)
{
    return reinterpret_cast<const wchar_t *>(path.utf16());
}

// Whether the disk file at `path`, `size` bytes long, ends with a line end (an empty one
// does). Read through a handle of its own, since the log's may only append; a file that
// cannot be read is taken as whole.
bool endsWithLineEnd(const QString &path, LONGLONG size)
{
    if (size <= 0)
        return true;
    const HANDLE reader = CreateFileW(native(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (reader == INVALID_HANDLE_VALUE)
        return true;
    LARGE_INTEGER at;
    at.QuadPart = size - 1;
    char last = '\n';
    DWORD read = 0;
    if (!SetFilePointerEx(reader, at, nullptr, FILE_BEGIN) || !ReadFile(reader, &last, 1, &read, nullptr) || read != 1)
        last = '\n';
    CloseHandle(reader);
    return last == '\n';
}

LONGLONG sizeOf(HANDLE file)
{
    LARGE_INTEGER size;
    return GetFileSizeEx(file, &size) ? size.QuadPart : -1;
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

QString AppendLog::opened(const QString &path, int stopHandle)
{
    m_stopHandle = stopHandle;  // the writes here do not wait on a reader
    close();
    m_warning.clear();
    m_lineEndOwed = false;
    const HANDLE h = CreateFileW(native(path), FILE_APPEND_DATA | SYNCHRONIZE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return systemError(GetLastError());
    m_handle = h;
    m_path = path;
    m_file = GetFileType(h) == FILE_TYPE_DISK;
    if (m_file && !endsWithLineEnd(path, sizeOf(h))) {
        m_lineEndOwed = true;
        m_warning = tr("the log %1 does not end with a line end (its last line was cut short); this run's lines "
                       "begin on a line of their own.")
                        .arg(path);
    }
    return {};
}

QString AppendLog::appendToFile(const QByteArray &line)
{
    const LONGLONG before = sizeOf(m_handle);
    DWORD written = 0;
    const bool wrote = WriteFile(m_handle, line.constData(), DWORD(line.size()), &written, nullptr);
    const DWORD error = wrote ? ERROR_DISK_FULL : GetLastError();
    if (!wrote || written != DWORD(line.size())) {
        // A line cut short is taken back rather than finished: a second write could land
        // after another writer's line. Only while the file is the length this write left it,
        // or another writer's line would go with it. The log's own handle may only append,
        // so the cut goes through one of its own.
        if (written > 0 && before >= 0 && sizeOf(m_handle) == before + LONGLONG(written)) {
            const HANDLE cutter = CreateFileW(native(m_path), GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (cutter != INVALID_HANDLE_VALUE) {
                LARGE_INTEGER at;
                at.QuadPart = before;
                if (SetFilePointerEx(cutter, at, nullptr, FILE_BEGIN) && SetEndOfFile(cutter))
                    FlushFileBuffers(cutter);
                CloseHandle(cutter);
            }
        }
        return systemError(error);
    }
    if (!FlushFileBuffers(m_handle))
        return systemError(GetLastError());
    return {};
}

QString AppendLog::appendToStream(const QByteArray &line)
{
    // A pipe or a console may take part of a line; the rest follows before another thread's.
    const std::lock_guard hold(m_stream);
    qsizetype done = 0;
    while (done < line.size()) {
        DWORD written = 0;
        if (!WriteFile(m_handle, line.constData() + done, DWORD(line.size() - done), &written, nullptr))
            return systemError(GetLastError());
        if (written == 0)
            return tr("nothing more was taken");
        done += qsizetype(written);
    }
    return {};
}
