#include "line/durable_file.h"

#include <QDir>

#include <windows.h>

namespace {

QString LastErrorText() {
    wchar_t* text = nullptr;
    const DWORD code = GetLastError();
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString result = text != nullptr ? QString::fromWCharArray(text).trimmed()
                                     : QStringLiteral("error %1").arg(code);
    LocalFree(text);
    return result;
}

} // namespace

QString WriteFileDurably(const QString& path, const QByteArray& bytes) {
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    const std::wstring part = name + L".part";
    const HANDLE file = CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return LastErrorText();
    DWORD written = 0;
    bool ok =
        WriteFile(file, bytes.constData(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == static_cast<DWORD>(bytes.size()) && FlushFileBuffers(file);
    QString error = ok ? QString() : LastErrorText();
    CloseHandle(file);
    // Write-through: the rename is on the disk when the call returns.
    if (ok && !MoveFileExW(part.c_str(), name.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = LastErrorText();
        ok = false;
    }
    if (!ok)
        DeleteFileW(part.c_str());
    return error;
}
