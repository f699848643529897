#pragma once
// What the processor offers the program's hand-vectorised loops, asked in one place: the
// blitters, the rasteriser and the canvas fills take their AVX2 loops only where this says so.

// Whether the processor has AVX2 and the loops may use it.
bool WideVectorsInUse();

// Lets the loops use AVX2 where the processor has it (the default); tests turn it off to run
// the narrower loops they fall back to.
void AllowWideVectors(bool allowed);
