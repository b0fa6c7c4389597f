#pragma once
// Between the surface's shared code (DIBSurf.cpp) and its backends: memory of its own on
// Linux (DIBSurf_linux.cpp), a GDI section on Windows (DIBSurf_win.cpp).
#include "DIBSurf.h"

// The surface's message when memory for a section cannot be had.
[[noreturn]] void ThrowDIBNoMemory();

// One axis of a block: Len pixels from B, drawn at A. Cut to [0, LimitB) on B's side,
// moving A along with a cut start.
void ClipSpan(int64_t& A, int64_t& B, int64_t& Len, int64_t LimitB);

// The backend's block transfer, the block already cut to its source and not empty.
void CopyClippedBlock(TDIBSurface& Target, int64_t X, int64_t Y, int64_t Width, int64_t Height,
                      const TDIBSurface& Source, int64_t SourceX, int64_t SourceY);
