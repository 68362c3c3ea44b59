#pragma once

#include <QtGlobal>

// The Windows constants, result codes and limits the program's own rules are
// written in. The platform layer produces and consumes them so the rest of
// the program keeps its Windows shape.
namespace win {

constexpr quint32 FILE_ATTRIBUTE_READONLY = 0x1;
constexpr quint32 FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr quint32 FILE_ATTRIBUTE_SYSTEM = 0x4;
constexpr quint32 FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr quint32 FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr quint32 FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr quint32 FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
constexpr quint32 INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

constexpr quint32 ERROR_SUCCESS = 0;
constexpr quint32 ERROR_FILE_NOT_FOUND = 2;
constexpr quint32 ERROR_PATH_NOT_FOUND = 3;
constexpr quint32 ERROR_ACCESS_DENIED = 5;
constexpr quint32 ERROR_NOT_READY = 21;
constexpr quint32 ERROR_INVALID_NAME = 123;
constexpr quint32 ERROR_OPERATION_ABORTED = 995;

constexpr int MAX_PATH = 260;

using HRESULT = qint32;
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
// HRESULT_FROM_WIN32 for the file errors a load can meet.
constexpr HRESULT hresultFromWin32(quint32 error)
{
    return error == 0 ? S_OK : static_cast<HRESULT>((error & 0xFFFFu) | 0x80070000u);
}
constexpr bool SUCCEEDED(HRESULT hr)
{
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr)
{
    return hr < 0;
}

} // namespace win
