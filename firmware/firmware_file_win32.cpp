// The firmware file on Windows: the wide path opened for reading, shared with readers only, so
// that nobody writes it while it is open (and an open fails while another program writes it or
// holds it alone), read as bytes.
#include "firmware/firmware_file.h"

#include <windows.h>

namespace {

HANDLE Handle(intptr_t file) {
  return reinterpret_cast<HANDLE>(file);
}

// A path past MAX_PATH opens only in its "\\?\" form (absolute paths only; the others are used as
// they are).
std::wstring SystemPath(const std::u16string& path) {
  std::wstring wide(path.begin(), path.end());
  if (wide.size() < MAX_PATH || wide.rfind(L"\\\\?\\", 0) == 0)
    return wide;
  if (wide.size() > 2 && wide[1] == L':' && wide[2] == L'\\')
    return L"\\\\?\\" + wide;
  if (wide.rfind(L"\\\\", 0) == 0)
    return L"\\\\?\\UNC\\" + wide.substr(2);
  return wide;
}

FileOpenResult OpenResultOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return FileOpenResult::kMissing;
    case ERROR_ACCESS_DENIED:
      return FileOpenResult::kNoPermission;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return FileOpenResult::kHeld;
    default:
      return FileOpenResult::kOther;
  }
}

}  // namespace

CFirmwareFile::~CFirmwareFile() {
  Close();
}

int CFirmwareFile::Open(const std::u16string& path) {
  Close();
  // A folder does not open without FILE_FLAG_BACKUP_SEMANTICS; a device (NUL, COM1) or a pipe does,
  // and is refused at once: only a file on a disk is kept.
  HANDLE file = ::CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    m_lastOpenResult = OpenResultOf(::GetLastError());
    return 0;
  }
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    ::CloseHandle(file);
    m_lastOpenResult = FileOpenResult::kNotAFile;
    return 0;
  }
  m_lastOpenResult = FileOpenResult::kOk;
  m_file = reinterpret_cast<intptr_t>(file);
  return 1;
}

void CFirmwareFile::Close() {
  if (m_file == kNoFile)
    return;
  ::CloseHandle(Handle(m_file));
  m_file = kNoFile;
}

int CFirmwareFile::GetLength(uint64_t* length) const {
  LARGE_INTEGER size;
  if (m_file == kNoFile || !::GetFileSizeEx(Handle(m_file), &size))
    return 0;
  *length = static_cast<uint64_t>(size.QuadPart);
  return 1;
}

int CFirmwareFile::Seek(uint64_t offset) {
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(offset);
  if (m_file == kNoFile || distance.QuadPart < 0)
    return 0;
  return ::SetFilePointerEx(Handle(m_file), distance, nullptr, FILE_BEGIN) ? 1 : 0;
}

int CFirmwareFile::Read(void* buffer, uint32_t count, uint32_t* got) {
  *got = 0;
  if (m_file == kNoFile)
    return 0;
  auto* bytes = static_cast<uint8_t*>(buffer);
  // ReadFile may hand over fewer bytes than asked; keep reading until count or the end (0 bytes).
  while (*got < count) {
    DWORD n = 0;
    if (!::ReadFile(Handle(m_file), bytes + *got, count - *got, &n, nullptr))
      return 0;
    if (n == 0)
      break;
    *got += n;
  }
  return 1;
}
