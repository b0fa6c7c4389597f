#pragma once
// Multimedia file I/O for RIFF files, shaped like the Windows service the capture file
// was designed against (open, create chunk, write, ascend, close), over POSIX file I/O.
//
// Semantics kept from the original service:
// - mmioCreateChunk writes the chunk header at the current position: id and size, plus
//   the form type for a RIFF/LIST chunk; dwDataOffset is where the chunk's data begins
//   (after the size field, so a RIFF chunk's data includes its form type).
// - mmioAscend on a chunk made by mmioCreateChunk takes the current position as the end
//   of its data, rewrites the size field when it differs from cksize, adds a zero pad
//   byte when the data length is odd, and leaves the position after the chunk.
// - mmioStringToFOURCCA takes up to four characters and pads with spaces.
// - A file name may use '\' as the separator (".\output.wav"); it is read as '/'.
// - A symbolic link in a sticky, world-writable folder that belongs neither to the user nor
//   to the folder's owner is not followed (EACCES), as the kernel's protected-symlinks
//   setting would have it, also where that setting is off; the look at the name and the
//   open are one step, so a link planted meanwhile is not followed either.
// Writes are unbuffered write(2) calls. A write that would carry the file beyond the
// 4 GiB that 32-bit RIFF sizes can describe is refused (-1), so a finished file always
// has true sizes; an append that fails part-way (a full disk) is taken back, so -1 leaves
// no part of the buffer in the file.
//
// On Windows the service itself is used: this header gives winmm's declarations
// (mmsystem.h), with no source file of ours. Callers write what both accept: a file name
// cast to char* (Windows does not change it either) and the data as const char*.
#include <cstdint>
#include <string>

// Why the last mmioOpenA of this thread failed, in the system's words; read it at once
// after the failure (errno here, GetLastError on Windows, where winmm sets no errno).
std::string MmioOpenFailureText();

#ifdef _WIN32
#include <windows.h>
#include <mmsystem.h>
#else
using HMMIO = struct HMMIO__*;
using FOURCC = uint32_t;

struct MMCKINFO {
  FOURCC ckid;
  uint32_t cksize;
  FOURCC fccType;
  uint32_t dwDataOffset;
  uint32_t dwFlags;
};
static_assert(sizeof(MMCKINFO) == 20);

constexpr uint32_t MMIO_READ = 0x0000;
constexpr uint32_t MMIO_WRITE = 0x0001;
constexpr uint32_t MMIO_READWRITE = 0x0002;
constexpr uint32_t MMIO_CREATE = 0x1000;
constexpr uint32_t MMIO_CREATERIFF = 0x0020;
constexpr uint32_t MMIO_CREATELIST = 0x0040;
constexpr uint32_t MMIO_DIRTY = 0x10000000;
constexpr uint32_t MMIO_TOUPPER = 0x0010;

constexpr uint32_t MMIOERR_CANNOTCLOSE = 260;
constexpr uint32_t MMIOERR_CANNOTWRITE = 263;
constexpr uint32_t MMIOERR_CANNOTSEEK = 264;

constexpr FOURCC MakeFourCC(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
         uint32_t(uint8_t(d)) << 24;
}
constexpr FOURCC FOURCC_RIFF = MakeFourCC('R', 'I', 'F', 'F');
constexpr FOURCC FOURCC_LIST = MakeFourCC('L', 'I', 'S', 'T');

// info must be null. Returns null when the file cannot be opened or created, with errno
// set to the reason.
HMMIO mmioOpenA(const char* fileName, void* info, uint32_t flags);
// The functions returning uint32_t give 0 on success or an MMIOERR_ code.
uint32_t mmioCreateChunk(HMMIO handle, MMCKINFO* ck, uint32_t flags);
// Bytes written, or -1.
int32_t mmioWrite(HMMIO handle, const void* buffer, int32_t count);
uint32_t mmioAscend(HMMIO handle, MMCKINFO* ck, uint32_t flags);
// origin: 0 from the start, 1 from the current position, 2 from the end (as lseek).
// New position, or -1.
int32_t mmioSeek(HMMIO handle, int32_t offset, int origin);
int64_t mmioSeek64(HMMIO handle, int64_t offset, int origin);  // large files, tests
uint32_t mmioClose(HMMIO handle, uint32_t flags);
FOURCC mmioStringToFOURCCA(const char* text, uint32_t flags);
#endif

// Not in the original service: writes into the size field of an open chunk the size it has
// up to the current position, leaving the position and the chunk open (no pad byte), so
// that a file cut short at any moment still declares only what it holds.
uint32_t mmioUpdateSize(HMMIO handle, const MMCKINFO* ck);
