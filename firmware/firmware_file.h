// A firmware file opened for reading only and shared with other readers only: an open fails while
// another program writes the file or holds it alone, and any number of updates may read one file
// at once. On Linux the open takes a shared advisory lock (flock LOCK_SH | LOCK_NB,
// firmware_file_posix.cpp); on Windows it opens the wide path with share mode FILE_SHARE_READ
// (CreateFileW, firmware_file_win32.cpp), so Chinese file names work and the bytes are read as
// they are.
#pragma once

#include <cstdint>
#include <string>

// Why an open failed.
enum class FileOpenResult { kOk, kMissing, kNoPermission, kNotAFile, kHeld, kOther };
// A short English phrase for a message: "held by another program"...; "" for kOk.
const char* FileOpenResultText(FileOpenResult result);

class CFirmwareFile {
 public:
  CFirmwareFile() = default;
  ~CFirmwareFile();
  CFirmwareFile(const CFirmwareFile&) = delete;
  CFirmwareFile& operator=(const CFirmwareFile&) = delete;

  // Opens an existing regular file read-only with the shared lock, without ever blocking (a
  // named pipe, a device node or a folder is refused at once). Answers 1 or 0. Closes an earlier
  // file first.
  int Open(const std::u16string& path);
  // Why the last Open failed, or kOk.
  FileOpenResult LastOpenResult() const { return m_lastOpenResult; }
  // Closing a file that is not open does nothing.
  void Close();
  int IsOpen() const { return m_file != kNoFile; }
  // Answers 1 and the length, or 0 (not open, or the system could not tell).
  int GetLength(uint64_t* length) const;
  // Moves to offset from the start. Answers 1 or 0.
  int Seek(uint64_t offset);
  // Reads up to count bytes; *got is the number read, 0 at the end of the file. Answers 1, or 0
  // when the file is not open or the system reported an error.
  int Read(void* buffer, uint32_t count, uint32_t* got);

  // The system's file: a descriptor on Linux, a HANDLE on Windows.
  static constexpr intptr_t kNoFile = -1;
  intptr_t m_file = kNoFile;

 private:
  FileOpenResult m_lastOpenResult = FileOpenResult::kOk;
};
