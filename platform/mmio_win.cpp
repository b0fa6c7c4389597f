// The failure text of winmm's mmioOpenA, which reports through GetLastError only.
#include "mmio.h"

#include "winstr.h"

std::string MmioOpenFailureText() { return SystemErrorText(GetLastError()); }

// The sizes written while the file grows: seek back to the chunk's size field, write it,
// and return to the end, where the next buffer goes.
uint32_t mmioUpdateSize(HMMIO handle, const MMCKINFO* ck) {
  if (handle == nullptr || ck == nullptr) return MMIOERR_CANNOTWRITE;
  const LONG end = mmioSeek(handle, 0, SEEK_CUR);
  if (end < 0 || DWORD(end) < ck->dwDataOffset) return MMIOERR_CANNOTSEEK;
  const DWORD size = DWORD(end) - ck->dwDataOffset;
  const char bytes[4] = {char(size), char(size >> 8), char(size >> 16), char(size >> 24)};
  if (mmioSeek(handle, LONG(ck->dwDataOffset) - 4, SEEK_SET) < 0) return MMIOERR_CANNOTSEEK;
  const bool written = mmioWrite(handle, bytes, 4) == 4;
  if (mmioSeek(handle, end, SEEK_SET) != end) return MMIOERR_CANNOTSEEK;
  return written ? 0 : MMIOERR_CANNOTWRITE;
}
